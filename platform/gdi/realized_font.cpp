// realized_font.cpp: GDI font realisation with FreeType: sizes from the height and width rules,
// TEXTMETRIC-style metrics from the OS/2 and hhea tables, hinted grey-level glyphs with synthetic
// bold and oblique, kerning, and faces that cover code points the chosen face lacks.
#include "platform/gdi/realized_font.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <tuple>

#include "platform/gdi/face_matching.h"
#include "platform/win/codepage.h"

namespace qm::gdi {
namespace {

constexpr int kDefaultCellHeight = 16;  // what a height of 0 asks for
constexpr LONG kMaxPixelSize = 2048;    // largest em, cell or average width drawn

struct Library {
    FT_Library handle = nullptr;
    Library() {
        if (FT_Init_FreeType(&handle) != 0) handle = nullptr;
    }
    ~Library() {
        if (handle != nullptr) FT_Done_FreeType(handle);
    }
};

std::shared_ptr<Library> SharedLibrary() {
    static std::shared_ptr<Library> library = std::make_shared<Library>();
    return library;
}

// The fields of a description that change the realisation.
using DescriptionKey = std::tuple<LONG, LONG, bool, bool, bool, bool, BYTE, BYTE, std::string>;

DescriptionKey KeyOf(const LOGFONTA& d) {
    size_t length = strnlen(d.lfFaceName, LF_FACESIZE);
    return {d.lfHeight,      d.lfWidth,    d.lfWeight >= FW_SEMIBOLD, d.lfItalic != 0, d.lfUnderline != 0,
            d.lfStrikeOut != 0, d.lfCharSet, d.lfPitchAndFamily,   std::string(d.lfFaceName, length)};
}

int RoundToInt(double v) { return static_cast<int>(std::lround(v)); }

bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }

}  // namespace

struct RealizedFont::Face {
    FT_Face face = nullptr;
    bool syntheticBold = false;
    bool syntheticItalic = false;
    ~Face() {
        if (face != nullptr) FT_Done_Face(face);
    }
};

RealizedFont::RealizedFont() = default;
RealizedFont::~RealizedFont() { faces_.clear(); }

std::shared_ptr<RealizedFont> RealizedFont::ForDescription(const LOGFONTA& description) {
    static std::map<DescriptionKey, std::weak_ptr<RealizedFont>> cache;
    DescriptionKey key = KeyOf(description);
    auto found = cache.find(key);
    if (found != cache.end())
        if (std::shared_ptr<RealizedFont> alive = found->second.lock()) return alive;
    std::shared_ptr<RealizedFont> font(new (std::nothrow) RealizedFont());
    if (!font) return nullptr;
    font->Realise(description);
    cache[key] = font;
    return font;
}

bool RealizedFont::OpenFace(const std::string& file, int index) {
    auto* library = static_cast<Library*>(library_.get());
    if (library->handle == nullptr || file.empty()) return false;
    auto face = std::make_unique<Face>();
    if (FT_New_Face(library->handle, file.c_str(), index, &face->face) != 0) {
        face->face = nullptr;
        return false;
    }
    if (!FT_IS_SCALABLE(face->face)) return false;
    FT_Set_Char_Size(face->face, static_cast<FT_F26Dot6>(std::lround(pixelsPerEmX_ * 64)),
                     static_cast<FT_F26Dot6>(std::lround(pixelsPerEmY_ * 64)), 72, 72);
    bool faceBold = (face->face->style_flags & FT_STYLE_FLAG_BOLD) != 0;
    bool faceItalic = (face->face->style_flags & FT_STYLE_FLAG_ITALIC) != 0;
    face->syntheticBold = wantBold_ && !faceBold;
    face->syntheticItalic = wantItalic_ && !faceItalic;
    faceSlotsByFile_[file + '#' + std::to_string(index)] = static_cast<int>(faces_.size());
    faces_.push_back(std::move(face));
    return true;
}

void RealizedFont::Realise(const LOGFONTA& description) {
    // Sizes beyond the largest the layer draws are drawn at that size.
    LOGFONTA d = description;
    d.lfHeight = std::clamp<LONG>(d.lfHeight, -kMaxPixelSize, kMaxPixelSize);
    d.lfWidth = std::clamp<LONG>(d.lfWidth, -kMaxPixelSize, kMaxPixelSize);
    library_ = SharedLibrary();
    wantBold_ = d.lfWeight >= FW_SEMIBOLD;
    wantItalic_ = d.lfItalic != 0;
    std::string name = CodePageToUtf8(CP_ACP, std::string(d.lfFaceName, strnlen(d.lfFaceName, LF_FACESIZE)));
    FaceChoice choice = ChooseFace(name, wantBold_, wantItalic_, d.lfCharSet, d.lfPitchAndFamily);
    family_ = choice.family;

    metrics_.weight = d.lfWeight == FW_DONTCARE ? FW_NORMAL : d.lfWeight;
    metrics_.italic = d.lfItalic != 0;
    metrics_.underline = d.lfUnderline != 0;
    metrics_.strikeOut = d.lfStrikeOut != 0;

    // Open the face unsized first to read its design metrics.
    auto* library = static_cast<Library*>(library_.get());
    FT_Face probe = nullptr;
    if (library->handle == nullptr || choice.file.empty() ||
        FT_New_Face(library->handle, choice.file.c_str(), choice.index, &probe) != 0 || !FT_IS_SCALABLE(probe)) {
        if (probe != nullptr) FT_Done_Face(probe);
        // No usable face: a font of the right size that draws nothing.
        int cell = d.lfHeight > 0 ? d.lfHeight : d.lfHeight < 0 ? -d.lfHeight * 5 / 4 : kDefaultCellHeight;
        metrics_.height = cell;
        metrics_.ascent = cell * 4 / 5;
        metrics_.descent = cell - metrics_.ascent;
        metrics_.aveCharWidth = d.lfWidth != 0 ? std::abs(d.lfWidth) : std::max(1, cell / 2);
        metrics_.maxCharWidth = metrics_.aveCharWidth;
        return;
    }
    const double unitsPerEm = probe->units_per_EM > 0 ? probe->units_per_EM : 2048.0;
    double ascentUnits = probe->ascender;
    double descentUnits = -probe->descender;
    double averageUnits = 0;
    double strikeOutPosition = 0, strikeOutSize = 0;
    if (auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(probe, FT_SFNT_OS2)); os2 != nullptr && os2->version != 0xFFFF) {
        if (os2->usWinAscent + os2->usWinDescent > 0) {
            ascentUnits = os2->usWinAscent;
            descentUnits = os2->usWinDescent;
        }
        averageUnits = os2->xAvgCharWidth;
        strikeOutPosition = os2->yStrikeoutPosition;
        strikeOutSize = os2->yStrikeoutSize;
    }
    if (ascentUnits + descentUnits <= 0) {
        ascentUnits = unitsPerEm * 0.8;
        descentUnits = unitsPerEm * 0.2;
    }
    if (averageUnits <= 0) {
        // Without a recorded average, the width of 'x' stands in for it.
        FT_Set_Char_Size(probe, 0, static_cast<FT_F26Dot6>(unitsPerEm * 64), 72, 72);
        FT_UInt x = FT_Get_Char_Index(probe, 'x');
        averageUnits = x != 0 && FT_Load_Glyph(probe, x, FT_LOAD_NO_SCALE) == 0 ? probe->glyph->metrics.horiAdvance
                                                                               : unitsPerEm / 2;
    }
    double maxAdvanceUnits = probe->max_advance_width;
    double underlinePosition = probe->underline_position;
    double underlineThickness = probe->underline_thickness;
    FT_Done_Face(probe);

    // Height: negative = em height; positive = cell height (ascent + descent); 0 = default cell.
    int cellHeight = d.lfHeight > 0 ? d.lfHeight : d.lfHeight == 0 ? kDefaultCellHeight : 0;
    if (cellHeight > 0) {
        pixelsPerEmY_ = cellHeight * unitsPerEm / (ascentUnits + descentUnits);
        metrics_.ascent = RoundToInt(ascentUnits * pixelsPerEmY_ / unitsPerEm);
        metrics_.descent = cellHeight - metrics_.ascent;
    } else {
        pixelsPerEmY_ = -static_cast<double>(d.lfHeight);
        metrics_.ascent = RoundToInt(ascentUnits * pixelsPerEmY_ / unitsPerEm);
        metrics_.descent = RoundToInt(descentUnits * pixelsPerEmY_ / unitsPerEm);
    }
    metrics_.height = metrics_.ascent + metrics_.descent;
    metrics_.internalLeading = std::max(0, metrics_.height - RoundToInt(pixelsPerEmY_));
    // Width 0 keeps the face's aspect; otherwise the average character width is scaled to it.
    pixelsPerEmX_ = d.lfWidth != 0 ? std::min<double>(std::abs(d.lfWidth) * unitsPerEm / averageUnits, 4.0 * kMaxPixelSize)
                                  : pixelsPerEmY_;
    metrics_.aveCharWidth = d.lfWidth != 0 ? std::abs(d.lfWidth) : RoundToInt(averageUnits * pixelsPerEmX_ / unitsPerEm);
    metrics_.maxCharWidth = RoundToInt(maxAdvanceUnits * pixelsPerEmX_ / unitsPerEm);

    double scaleY = pixelsPerEmY_ / unitsPerEm;
    metrics_.underlineThickness = std::max(1, RoundToInt(underlineThickness * scaleY));
    // The face's underline position is the centre of the stroke, in y-up units.
    metrics_.underlineOffset = std::max(1, RoundToInt(-underlinePosition * scaleY - metrics_.underlineThickness / 2.0));
    if (metrics_.underlineOffset + metrics_.underlineThickness > metrics_.descent)
        metrics_.underlineOffset = std::max(0, metrics_.descent - metrics_.underlineThickness);
    if (strikeOutSize > 0) {
        metrics_.strikeOutThickness = std::max(1, RoundToInt(strikeOutSize * scaleY));
        metrics_.strikeOutOffset = -RoundToInt(strikeOutPosition * scaleY);
    } else {
        metrics_.strikeOutThickness = metrics_.underlineThickness;
        metrics_.strikeOutOffset = -RoundToInt(pixelsPerEmY_ * 0.3);
    }

    if (!OpenFace(choice.file, choice.index)) faces_.clear();
    if (!faces_.empty()) {
        syntheticBold_ = faces_[0]->syntheticBold;
        syntheticItalic_ = faces_[0]->syntheticItalic;
    }
}

int RealizedFont::FaceSlotFor(char32_t codePoint, std::uint32_t* glyphIndex) {
    if (faces_.empty()) return -1;
    FT_UInt index = FT_Get_Char_Index(faces_[0]->face, codePoint);
    if (index != 0) {
        *glyphIndex = index;
        return 0;
    }
    if (std::optional<FaceChoice> other = FaceCoveringCodePoint(codePoint, wantBold_, wantItalic_)) {
        std::string key = other->file + '#' + std::to_string(other->index);
        auto found = faceSlotsByFile_.find(key);
        int slot = found != faceSlotsByFile_.end() ? found->second : -1;
        if (slot < 0 && OpenFace(other->file, other->index)) slot = static_cast<int>(faces_.size()) - 1;
        if (slot > 0) {
            index = FT_Get_Char_Index(faces_[slot]->face, codePoint);
            if (index != 0) {
                *glyphIndex = index;
                return slot;
            }
        }
    }
    *glyphIndex = 0;  // the missing-glyph box of the chosen face
    return 0;
}

void RealizedFont::RenderInto(Glyph* glyph) {
    Face& face = *faces_[glyph->faceSlot];
    FT_Face ft = face.face;
    if (FT_Load_Glyph(ft, glyph->glyphIndex, FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP) != 0) {
        glyph->faceSlot = -1;
        return;
    }
    if (face.syntheticItalic) FT_GlyphSlot_Oblique(ft->glyph);
    if (face.syntheticBold) FT_GlyphSlot_Embolden(ft->glyph);
    glyph->advance = static_cast<int>((ft->glyph->advance.x + 32) >> 6);
    if (FT_Render_Glyph(ft->glyph, FT_RENDER_MODE_NORMAL) != 0) return;
    const FT_Bitmap& bitmap = ft->glyph->bitmap;
    glyph->left = ft->glyph->bitmap_left;
    glyph->top = ft->glyph->bitmap_top;
    glyph->width = static_cast<int>(bitmap.width);
    glyph->rows = static_cast<int>(bitmap.rows);
    glyph->coverage.assign(static_cast<size_t>(glyph->width) * glyph->rows, 0);
    for (int y = 0; y < glyph->rows; ++y) {
        const unsigned char* row = bitmap.buffer + static_cast<std::ptrdiff_t>(y) * bitmap.pitch;
        std::uint8_t* out = glyph->coverage.data() + static_cast<size_t>(y) * glyph->width;
        for (int x = 0; x < glyph->width; ++x) {
            if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY)
                out[x] = static_cast<std::uint8_t>(bitmap.num_grays == 256 ? row[x] : row[x] * 255 / (bitmap.num_grays - 1));
            else if (bitmap.pixel_mode == FT_PIXEL_MODE_MONO)
                out[x] = (row[x >> 3] & (0x80 >> (x & 7))) != 0 ? 255 : 0;
        }
    }
}

const Glyph& RealizedFont::GlyphFor(char32_t codePoint) {
    const bool ascii = codePoint < asciiGlyphs_.size();
    if (ascii && asciiGlyphs_[codePoint] != nullptr) return *asciiGlyphs_[codePoint];
    auto found = glyphs_.find(codePoint);
    if (found != glyphs_.end()) return found->second;
    Glyph glyph;
    if (!IsControl(codePoint)) {
        glyph.faceSlot = FaceSlotFor(codePoint, &glyph.glyphIndex);
        if (glyph.faceSlot >= 0) RenderInto(&glyph);
        else glyph.advance = metrics_.aveCharWidth;
    }
    const Glyph& made = glyphs_.emplace(codePoint, std::move(glyph)).first->second;
    if (ascii) asciiGlyphs_[codePoint] = &made;
    return made;
}

int RealizedFont::Kerning(const Glyph& left, const Glyph& right) const {
    if (left.faceSlot < 0 || left.faceSlot != right.faceSlot) return 0;
    FT_Face face = faces_[left.faceSlot]->face;
    if (!FT_HAS_KERNING(face)) return 0;
    const std::uint64_t key = (static_cast<std::uint64_t>(left.faceSlot) << 48) |
                              (static_cast<std::uint64_t>(left.glyphIndex & 0xFFFFFF) << 24) |
                              (right.glyphIndex & 0xFFFFFF);
    KerningEntry* entry = nullptr;
    if (left.glyphIndex <= 0xFFFFFF && right.glyphIndex <= 0xFFFFFF) {
        if (kerning_.empty()) kerning_.resize(kKerningEntries);
        entry = &kerning_[(left.glyphIndex * 31 + right.glyphIndex) % kKerningEntries];
        if (entry->key == key) return entry->value;
    }
    FT_Vector delta{};
    int value = 0;
    if (FT_Get_Kerning(face, left.glyphIndex, right.glyphIndex, FT_KERNING_DEFAULT, &delta) == 0)
        value = static_cast<int>((delta.x + 32) >> 6);
    if (entry != nullptr) *entry = KerningEntry{key, value};
    return value;
}

}  // namespace qm::gdi
