// codepage.cpp: system code page and text conversions through iconv.
#include "platform/win/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// iconv's name for a code page; null for one it does not know.
const char* IconvName(UINT codePage) {
    struct Entry {
        UINT codePage;
        const char* name;
    };
    static constexpr Entry kNames[] = {
        {65001, "UTF-8"},  {932, "CP932"},   {936, "CP936"},       {949, "CP949"},       {950, "CP950"},
        {1250, "CP1250"},  {1251, "CP1251"}, {1252, "CP1252"},     {1253, "CP1253"},     {1254, "CP1254"},
        {437, "CP437"},    {1200, "UTF-16LE"}, {20127, "ASCII"},   {28591, "ISO-8859-1"},
    };
    for (const Entry& e : kNames)
        if (e.codePage == codePage) return e.name;
    return nullptr;
}

UINT Resolve(UINT codePage) { return codePage == CP_ACP ? GetACP() : codePage; }

struct IconvCloser {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

// Converts bytes between two iconv encodings; invalid input bytes become `replacement` (already
// in the target encoding). Returns false when the pair cannot be opened.
bool Convert(const char* from, const char* to, const char* in, size_t inSize, const std::string& replacement,
             std::string* out) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::unique_ptr<void, IconvCloser> guard(cd);
    out->clear();
    char buffer[1024];
    char* src = const_cast<char*>(in);
    size_t left = inSize;
    while (left > 0) {
        char* dst = buffer;
        size_t room = sizeof buffer;
        size_t r = iconv(cd, &src, &left, &dst, &room);
        out->append(buffer, static_cast<size_t>(dst - buffer));
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            // EILSEQ or EINVAL (truncated sequence): skip one byte and mark it.
            out->append(replacement);
            ++src;
            --left;
        }
    }
    char* dst = buffer;
    size_t room = sizeof buffer;
    iconv(cd, nullptr, nullptr, &dst, &room);
    out->append(buffer, static_cast<size_t>(dst - buffer));
    return true;
}

}  // namespace

UINT GetACP() {
    const char* value = std::getenv("QUILLMERE_CODEPAGE");
    if (value == nullptr || *value == '\0') return CP_UTF8;
    char* end = nullptr;
    unsigned long cp = std::strtoul(value, &end, 10);
    if (end == value || *end != '\0' || IconvName(static_cast<UINT>(cp)) == nullptr) return CP_UTF8;
    return static_cast<UINT>(cp);
}

std::string CodePageToUtf8(UINT codePage, const std::string& text) {
    const char* name = IconvName(Resolve(codePage));
    std::string out;
    if (name == nullptr || !Convert(name, "UTF-8", text.data(), text.size(), "\xEF\xBF\xBD", &out)) return text;
    return out;
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR out, int outLength) {
    if (text == nullptr || outLength < 0) return 0;
    const char* name = IconvName(Resolve(codePage));
    if (name == nullptr) return 0;
    size_t inSize = length < 0 ? std::strlen(text) + 1 : static_cast<size_t>(length);
    std::string utf16;
    if (!Convert(name, "UTF-16LE", text, inSize, std::string("\xFD\xFF", 2), &utf16)) return 0;
    int units = static_cast<int>(utf16.size() / 2);
    if (outLength == 0) return units;
    if (out == nullptr || units > outLength) return 0;
    std::memcpy(out, utf16.data(), static_cast<size_t>(units) * 2);
    return units;
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int length, LPSTR out, int outLength,
                        LPCSTR defaultChar, BOOL* usedDefault) {
    if (text == nullptr || outLength < 0) return 0;
    const char* name = IconvName(Resolve(codePage));
    if (name == nullptr) return 0;
    size_t units = 0;
    if (length < 0) {
        while (text[units] != 0) ++units;
        ++units;
    } else {
        units = static_cast<size_t>(length);
    }
    std::string bytes;
    std::string fallback = defaultChar != nullptr ? defaultChar : "?";
    if (!Convert("UTF-16LE", name, reinterpret_cast<const char*>(text), units * 2, fallback, &bytes)) return 0;
    if (usedDefault != nullptr) *usedDefault = FALSE;
    int size = static_cast<int>(bytes.size());
    if (outLength == 0) return size;
    if (out == nullptr || size > outLength) return 0;
    std::memcpy(out, bytes.data(), bytes.size());
    return size;
}
