// face_matching.cpp: face lookup with fontconfig: the platform's face names mapped to installed
// families, weight and slant, Japanese coverage for SHIFTJIS_CHARSET, per-code-point fallback.
#include "platform/gdi/face_matching.h"

#include <fontconfig/fontconfig.h>

#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

#include "platform/gdi/wingdi.h"

namespace qm::gdi {
namespace {

// Families to try for the platform's common face names, best first. The platform's own fonts are
// not installed here; these are the metric-compatible or look-alike families that usually are,
// ending in a generic family so that fontconfig's own preferences decide when none is installed.
struct FaceAlias {
    const char* names[8];
    const char* families[6];
};

constexpr FaceAlias kAliases[] = {
    {{"MS Gothic", "\xEF\xBC\xAD\xEF\xBC\xB3 \xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF", "MS UI Gothic",
      "Osaka"},
     {"IPAGothic", "IPAexGothic", "Noto Sans Mono CJK JP", "VL Gothic", "TakaoGothic", "monospace"}},
    {{"MS PGothic", "\xEF\xBC\xAD\xEF\xBC\xB3 \xEF\xBC\xB0\xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF", "Meiryo",
      "\xE3\x83\xA1\xE3\x82\xA4\xE3\x83\xAA\xE3\x82\xAA", "Meiryo UI", "Yu Gothic",
      "\xE6\xB8\xB8\xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF"},
     {"IPAPGothic", "IPAexGothic", "Noto Sans CJK JP", "VL PGothic", "TakaoPGothic", "sans-serif"}},
    {{"MS Mincho", "\xEF\xBC\xAD\xEF\xBC\xB3 \xE6\x98\x8E\xE6\x9C\x9D"},
     {"IPAMincho", "IPAexMincho", "Noto Serif CJK JP", "TakaoMincho", "IPAGothic", "serif"}},
    {{"MS PMincho", "\xEF\xBC\xAD\xEF\xBC\xB3 \xEF\xBC\xB0\xE6\x98\x8E\xE6\x9C\x9D", "Yu Mincho",
      "\xE6\xB8\xB8\xE6\x98\x8E\xE6\x9C\x9D"},
     {"IPAPMincho", "IPAexMincho", "Noto Serif CJK JP", "TakaoPMincho", "IPAPGothic", "serif"}},
    {{"Arial", "Helvetica", "Arial Narrow", "Calibri", "Segoe UI", "Trebuchet MS"},
     {"Liberation Sans", "Arimo", "Nimbus Sans", "DejaVu Sans", "sans-serif"}},
    {{"Tahoma", "Verdana", "MS Sans Serif", "System", "MS Shell Dlg", "MS Shell Dlg 2"},
     {"DejaVu Sans", "Liberation Sans", "Arimo", "sans-serif"}},
    {{"Times New Roman", "Times", "MS Serif", "Georgia", "Cambria", "Book Antiqua"},
     {"Liberation Serif", "Tinos", "Nimbus Roman", "DejaVu Serif", "serif"}},
    {{"Courier New", "Courier", "Lucida Console", "Consolas", "Terminal", "Fixedsys"},
     {"Liberation Mono", "Cousine", "Nimbus Mono PS", "DejaVu Sans Mono", "monospace"}},
};

bool SameName(std::string_view a, const char* b) {
    std::string_view other(b);
    if (a.size() != other.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(other[i])))
            return false;
    return true;
}

const FaceAlias* FindAlias(std::string_view name) {
    for (const FaceAlias& alias : kAliases)
        for (const char* known : alias.names)
            if (known != nullptr && SameName(name, known)) return &alias;
    return nullptr;
}

// The generic family that the pitch-and-family bits ask for.
const char* GenericFamily(BYTE pitchAndFamily) {
    if ((pitchAndFamily & 0x03) == FIXED_PITCH) return "monospace";
    switch (pitchAndFamily & 0xF0) {
    case FF_ROMAN: return "serif";
    case FF_MODERN: return "monospace";
    default: return "sans-serif";
    }
}

// Loads the configuration once; it is given back at exit, when nothing uses fontconfig any more
// (the caches here keep only names and file paths).
void EnsureInitialised() {
    static const bool initialised = [] {
        bool ok = FcInit() == FcTrue;
        if (ok) std::atexit(FcFini);
        return ok;
    }();
    (void)initialised;
}

struct PatternDeleter {
    void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};
using PatternPtr = std::unique_ptr<FcPattern, PatternDeleter>;

struct CharSetDeleter {
    void operator()(FcCharSet* c) const { FcCharSetDestroy(c); }
};

PatternPtr NewPattern(const std::vector<std::string>& families, bool bold, bool italic) {
    PatternPtr pattern(FcPatternCreate());
    if (!pattern) return pattern;
    for (const std::string& family : families)
        FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddInteger(pattern.get(), FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern.get(), FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pattern.get(), FC_SCALABLE, FcTrue);
    return pattern;
}

// Runs the match; the returned pattern is fontconfig's best font (null when none is installed).
PatternPtr Match(FcPattern* pattern) {
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    return PatternPtr(FcFontMatch(nullptr, pattern, &result));
}

FaceChoice Describe(const FcPattern* match) {
    FaceChoice choice;
    FcChar8* text = nullptr;
    if (FcPatternGetString(match, FC_FILE, 0, &text) == FcResultMatch) choice.file = reinterpret_cast<char*>(text);
    if (FcPatternGetString(match, FC_FAMILY, 0, &text) == FcResultMatch) choice.family = reinterpret_cast<char*>(text);
    int value = 0;
    if (FcPatternGetInteger(match, FC_INDEX, 0, &value) == FcResultMatch) choice.index = value;
    if (FcPatternGetInteger(match, FC_WEIGHT, 0, &value) == FcResultMatch) choice.bold = value >= FC_WEIGHT_DEMIBOLD;
    if (FcPatternGetInteger(match, FC_SLANT, 0, &value) == FcResultMatch) choice.italic = value != FC_SLANT_ROMAN;
    return choice;
}

bool CoversJapanese(const FcPattern* match) {
    FcLangSet* langs = nullptr;
    if (FcPatternGetLangSet(match, FC_LANG, 0, &langs) != FcResultMatch) return false;
    return FcLangSetHasLang(langs, reinterpret_cast<const FcChar8*>("ja")) != FcLangDifferentLang;
}

FaceChoice Choose(const std::string& faceName, bool bold, bool italic, BYTE charSet, BYTE pitchAndFamily) {
    EnsureInitialised();
    std::vector<std::string> families;
    if (const FaceAlias* alias = FindAlias(faceName)) {
        families.push_back(faceName);
        for (const char* family : alias->families)
            if (family != nullptr) families.emplace_back(family);
    } else {
        if (!faceName.empty()) families.push_back(faceName);
        families.emplace_back(GenericFamily(pitchAndFamily));
    }
    PatternPtr pattern = NewPattern(families, bold, italic);
    if (!pattern) return FaceChoice{};
    if (charSet == SHIFTJIS_CHARSET) FcPatternAddString(pattern.get(), FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
    PatternPtr match = Match(pattern.get());
    if (!match) return FaceChoice{};
    if (charSet == SHIFTJIS_CHARSET && !CoversJapanese(match.get())) {
        // A Latin face named with the Japanese character set: as the platform does, take a face
        // that has the character set instead, of the same general kind.
        PatternPtr japanese = NewPattern({GenericFamily(pitchAndFamily)}, bold, italic);
        if (japanese) {
            FcPatternAddString(japanese.get(), FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
            PatternPtr other = Match(japanese.get());
            if (other && CoversJapanese(other.get())) match = std::move(other);
        }
    }
    return Describe(match.get());
}

}  // namespace

FaceChoice ChooseFace(std::string_view faceName, bool bold, bool italic, BYTE charSet, BYTE pitchAndFamily) {
    using Key = std::tuple<std::string, bool, bool, BYTE, BYTE>;
    static std::map<Key, FaceChoice> cache;
    Key key{std::string(faceName), bold, italic, charSet, pitchAndFamily};
    auto found = cache.find(key);
    if (found != cache.end()) return found->second;
    FaceChoice choice = Choose(std::get<0>(key), bold, italic, charSet, pitchAndFamily);
    cache.emplace(std::move(key), choice);
    return choice;
}

std::optional<FaceChoice> FaceCoveringCodePoint(char32_t codePoint, bool bold, bool italic) {
    using Key = std::tuple<char32_t, bool, bool>;
    static std::map<Key, std::optional<FaceChoice>> cache;
    Key key{codePoint, bold, italic};
    auto found = cache.find(key);
    if (found != cache.end()) return found->second;
    EnsureInitialised();
    std::optional<FaceChoice> result;
    PatternPtr pattern = NewPattern({"sans-serif"}, bold, italic);
    std::unique_ptr<FcCharSet, CharSetDeleter> wanted(FcCharSetCreate());
    if (pattern && wanted && FcCharSetAddChar(wanted.get(), codePoint) == FcTrue) {
        FcPatternAddCharSet(pattern.get(), FC_CHARSET, wanted.get());
        PatternPtr match = Match(pattern.get());
        FcCharSet* has = nullptr;
        if (match && FcPatternGetCharSet(match.get(), FC_CHARSET, 0, &has) == FcResultMatch &&
            FcCharSetHasChar(has, codePoint) == FcTrue)
            result = Describe(match.get());
    }
    cache.emplace(key, result);
    return result;
}

}  // namespace qm::gdi
