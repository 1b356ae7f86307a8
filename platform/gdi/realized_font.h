// realized_font.h: a GDI font description realised with FreeType: the face at its pixel size, the
// metrics GDI reports, and a cache of grey-level glyph images with their advances.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/gdi/wingdi.h"

namespace qm::gdi {

// Pixel metrics of a realised font, as TEXTMETRICA reports them, plus the decoration lines.
struct FontMetrics {
    int height = 0;  // ascent + descent: the line height of DrawText
    int ascent = 0;
    int descent = 0;
    int internalLeading = 0;  // height - em height
    int externalLeading = 0;
    int aveCharWidth = 0;  // the unit of tab stops
    int maxCharWidth = 0;
    int weight = FW_NORMAL;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    // Decoration rectangles: first row relative to the baseline (positive below it) and thickness.
    int underlineOffset = 1;
    int underlineThickness = 1;
    int strikeOutOffset = -4;
    int strikeOutThickness = 1;
};

// One glyph at the font's size: 8-bit coverage rows (width x rows, top row first) placed at
// (pen x + left, baseline - top), and the pen advance in whole pixels.
struct Glyph {
    int advance = 0;
    int left = 0;
    int top = 0;
    int width = 0;
    int rows = 0;
    std::vector<std::uint8_t> coverage;
    std::uint32_t glyphIndex = 0;
    int faceSlot = -1;  // which face drew it (-1: nothing to draw); kerning applies within one face
};

class RealizedFont {
public:
    // The realisation of a description; fonts with the same description share one (and its glyphs).
    static std::shared_ptr<RealizedFont> ForDescription(const LOGFONTA& description);

    ~RealizedFont();
    RealizedFont(const RealizedFont&) = delete;
    RealizedFont& operator=(const RealizedFont&) = delete;

    const FontMetrics& Metrics() const { return metrics_; }
    const std::string& FamilyName() const { return family_; }
    // The glyph for a code point: from the face, from a face that covers the code point when this
    // one does not, else the face's missing-glyph box. Control characters have no image and no
    // advance. The reference stays valid for the font's life.
    const Glyph& GlyphFor(char32_t codePoint);
    // Kerning in pixels between two neighbouring glyphs (0 across faces or without kerning data).
    int Kerning(const Glyph& left, const Glyph& right) const;

private:
    struct Face;
    RealizedFont();
    void Realise(const LOGFONTA& description);
    int FaceSlotFor(char32_t codePoint, std::uint32_t* glyphIndex);
    bool OpenFace(const std::string& file, int index);
    void RenderInto(Glyph* glyph);

    std::shared_ptr<void> library_;  // keeps FreeType alive as long as any face
    std::vector<std::unique_ptr<Face>> faces_;  // slot 0 the chosen face, then fallback faces
    std::unordered_map<std::string, int> faceSlotsByFile_;
    std::unordered_map<char32_t, Glyph> glyphs_;
    // The glyphs of ASCII code points once made, so that Latin text skips the map (its nodes, and
    // so these pointers, stay put as it grows).
    std::array<const Glyph*, 128> asciiGlyphs_{};
    // Kerning pairs already asked of FreeType, direct-mapped by face slot and glyph indices.
    struct KerningEntry {
        std::uint64_t key = ~std::uint64_t{0};
        int value = 0;
    };
    static constexpr std::size_t kKerningEntries = 512;
    mutable std::vector<KerningEntry> kerning_;  // made at the first kerned pair
    FontMetrics metrics_;
    std::string family_;
    double pixelsPerEmX_ = 16.0;
    double pixelsPerEmY_ = 16.0;
    bool syntheticBold_ = false;
    bool syntheticItalic_ = false;
    bool wantBold_ = false;
    bool wantItalic_ = false;
};

}  // namespace qm::gdi
