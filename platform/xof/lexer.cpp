// lexer.cpp: text and binary tokenisers of X-file bodies.
#include "platform/xof/lexer.h"

#include <array>
#include <charconv>
#include <cstring>

#include "platform/xof/xof.h"

namespace qm::xof {
namespace {

std::uint32_t LoadU32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

std::uint16_t LoadU16(const std::uint8_t* p) { return std::uint16_t(p[0] | p[1] << 8); }

// Binary token codes.
enum : std::uint16_t {
    kTokName = 1,
    kTokString = 2,
    kTokInteger = 3,
    kTokGuid = 5,
    kTokIntegerList = 6,
    kTokFloatList = 7,
    kTokTemplate = 31,
};

// Codes that stand for one punctuation mark or one keyword. Keywords arrive as Name tokens
// spelled as in text files, so the template reader sees one language.
struct FixedToken {
    std::uint16_t code;
    TokenKind kind;
    const char* spelling;
};
constexpr FixedToken kFixedTokens[] = {
    {10, TokenKind::OBrace, nullptr},   {11, TokenKind::CBrace, nullptr},
    {12, TokenKind::OParen, nullptr},   {13, TokenKind::CParen, nullptr},
    {14, TokenKind::OBracket, nullptr}, {15, TokenKind::CBracket, nullptr},
    {18, TokenKind::Dot, nullptr},      {19, TokenKind::Comma, nullptr},
    {20, TokenKind::Semicolon, nullptr},
    {kTokTemplate, TokenKind::Name, "template"},
    {40, TokenKind::Name, "WORD"},      {41, TokenKind::Name, "DWORD"},
    {42, TokenKind::Name, "FLOAT"},     {43, TokenKind::Name, "DOUBLE"},
    {44, TokenKind::Name, "CHAR"},      {45, TokenKind::Name, "UCHAR"},
    {46, TokenKind::Name, "SWORD"},     {47, TokenKind::Name, "SDWORD"},
    {48, TokenKind::Name, "VOID"},      {49, TokenKind::Name, "STRING"},
    {50, TokenKind::Name, "UNICODE"},   {51, TokenKind::Name, "CSTRING"},
    {52, TokenKind::Name, "array"},
};

// Character classes of text files, looked up per byte.
enum : std::uint8_t { kSpace = 1, kDelimiter = 2, kDigit = 4, kMayEndWord = 8 };

constexpr std::array<std::uint8_t, 256> MakeCharClasses() {
    std::array<std::uint8_t, 256> classes{};
    for (unsigned char c : {' ', '\t', '\r', '\n', '\f', '\v', '\0'}) classes[c] = kSpace | kDelimiter;
    // Characters that end a word.
    for (unsigned char c : {'{', '}', '[', ']', '(', ')', ',', ';', '<', '>', '"', '#'}) classes[c] = kDelimiter;
    for (unsigned char c = '0'; c <= '9'; ++c) classes[c] = kDigit;
    // A slash ends a word when a second one follows.
    for (auto& c : classes)
        if (c & kDelimiter) c |= kMayEndWord;
    classes['/'] |= kMayEndWord;
    return classes;
}
constexpr std::array<std::uint8_t, 256> kCharClasses = MakeCharClasses();

bool IsSpace(std::uint8_t c) { return (kCharClasses[c] & kSpace) != 0; }
bool IsDigit(std::uint8_t c) { return (kCharClasses[c] & kDigit) != 0; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseHex(std::string_view text, std::uint64_t& value) {
    value = 0;
    for (char c : text) {
        int h = HexValue(c);
        if (h < 0) return false;
        value = value << 4 | unsigned(h);
    }
    return true;
}

}  // namespace

bool ParseGuid(std::string_view text, GUID& guid) {
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') return false;
    std::uint64_t a, b, c, d, e;
    if (!ParseHex(text.substr(0, 8), a) || !ParseHex(text.substr(9, 4), b) || !ParseHex(text.substr(14, 4), c) ||
        !ParseHex(text.substr(19, 4), d) || !ParseHex(text.substr(24, 12), e))
        return false;
    guid.Data1 = std::uint32_t(a);
    guid.Data2 = std::uint16_t(b);
    guid.Data3 = std::uint16_t(c);
    guid.Data4[0] = std::uint8_t(d >> 8);
    guid.Data4[1] = std::uint8_t(d);
    for (int i = 0; i < 6; ++i) guid.Data4[2 + i] = std::uint8_t(e >> (40 - 8 * i));
    return true;
}

Lexer::Lexer(const std::uint8_t* body, std::size_t size, bool binary, unsigned floatSize)
    : pos_(body), end_(body + size), binary_(binary), floatSize_(floatSize) {}

HRESULT Lexer::Peek(const Token** token) {
    if (!peeked_) {
        peekResult_ = Read(peek_);
        peeked_ = true;
    }
    *token = &peek_;
    return peekResult_;
}

HRESULT Lexer::Take(Token& token) {
    if (peeked_) {
        peeked_ = false;
        token = peek_;
        return peekResult_;
    }
    return Read(token);
}

bool Lexer::TakeList(TokenKind kind, std::uint32_t least, const std::uint8_t** entries, std::uint32_t* count) {
    if (!binary_) return false;
    if (peeked_) {
        if (FAILED(peekResult_) || peek_.kind != kind || peek_.count < least) return false;
        peeked_ = false;
        *entries = peek_.list;
        *count = peek_.count;
        return true;
    }
    const std::size_t left = std::size_t(end_ - pos_);
    if (left < 6 || LoadU16(pos_) != (kind == TokenKind::IntegerList ? kTokIntegerList : kTokFloatList)) return false;
    const std::uint32_t n = LoadU32(pos_ + 2);
    const std::size_t entry = kind == TokenKind::IntegerList ? 4 : floatSize_;
    if (n < least || std::uint64_t(n) * entry > left - 6) return false;
    *entries = pos_ + 6;
    *count = n;
    pos_ += 6 + std::size_t(n) * entry;
    return true;
}

HRESULT Lexer::Read(Token& token) {
    token = Token{};
    return binary_ ? ReadBinary(token) : ReadText(token);
}

HRESULT Lexer::ReadText(Token& token) {
    for (;;) {
        while (pos_ < end_ && IsSpace(*pos_)) ++pos_;
        if (pos_ == end_) {
            token.kind = TokenKind::End;
            return S_OK;
        }
        bool comment = *pos_ == '#' || (*pos_ == '/' && end_ - pos_ >= 2 && pos_[1] == '/');
        if (!comment) break;
        while (pos_ < end_ && *pos_ != '\n') ++pos_;
    }
    const std::uint8_t c = *pos_;
    switch (c) {
        case '{': token.kind = TokenKind::OBrace; ++pos_; return S_OK;
        case '}': token.kind = TokenKind::CBrace; ++pos_; return S_OK;
        case '[': token.kind = TokenKind::OBracket; ++pos_; return S_OK;
        case ']': token.kind = TokenKind::CBracket; ++pos_; return S_OK;
        case '(': token.kind = TokenKind::OParen; ++pos_; return S_OK;
        case ')': token.kind = TokenKind::CParen; ++pos_; return S_OK;
        case ',': token.kind = TokenKind::Comma; ++pos_; return S_OK;
        case ';': token.kind = TokenKind::Semicolon; ++pos_; return S_OK;
        default: break;
    }
    if (c == '<') {
        const std::uint8_t* close = static_cast<const std::uint8_t*>(std::memchr(pos_, '>', std::size_t(end_ - pos_)));
        if (close == nullptr) return DXFILEERR_PARSEERROR;
        std::string_view inside(reinterpret_cast<const char*>(pos_ + 1), std::size_t(close - pos_ - 1));
        while (!inside.empty() && IsSpace(std::uint8_t(inside.front()))) inside.remove_prefix(1);
        while (!inside.empty() && IsSpace(std::uint8_t(inside.back()))) inside.remove_suffix(1);
        if (!ParseGuid(inside, token.guid)) return DXFILEERR_PARSEERROR;
        token.kind = TokenKind::Guid;
        pos_ = close + 1;
        return S_OK;
    }
    if (c == '"') {
        const std::uint8_t* close = static_cast<const std::uint8_t*>(std::memchr(pos_ + 1, '"', std::size_t(end_ - pos_ - 1)));
        if (close == nullptr) return DXFILEERR_PARSEERROR;
        token.kind = TokenKind::String;
        token.text = std::string_view(reinterpret_cast<const char*>(pos_ + 1), std::size_t(close - pos_ - 1));
        pos_ = close + 1;
        return S_OK;
    }
    if (c == '>') return DXFILEERR_PARSEERROR;
    const bool nextIsDigit = end_ - pos_ >= 2 && IsDigit(pos_[1]);
    if (c == '.' && !nextIsDigit) {
        token.kind = TokenKind::Dot;
        ++pos_;
        return S_OK;
    }
    const bool numeric = StartsNumber();
    const std::uint8_t* start = pos_;
    SkipWord();
    token.text = std::string_view(reinterpret_cast<const char*>(start), std::size_t(pos_ - start));
    token.kind = numeric ? TokenKind::Number : TokenKind::Name;
    return S_OK;
}

bool Lexer::StartsNumber() const {
    const std::uint8_t c = *pos_;
    if (IsDigit(c)) return true;
    if (c != '-' && c != '+' && c != '.') return false;
    const std::ptrdiff_t left = end_ - pos_;
    if (left >= 2 && IsDigit(pos_[1])) return true;
    // A dot not followed by a digit is punctuation.
    return c != '.' && left >= 3 && pos_[1] == '.' && IsDigit(pos_[2]);
}

void Lexer::SkipWord() {
    for (;;) {
        while (pos_ < end_ && !(kCharClasses[*pos_] & kMayEndWord)) ++pos_;
        if (pos_ == end_ || *pos_ != '/' || (end_ - pos_ >= 2 && pos_[1] == '/')) return;
        ++pos_;
    }
}

bool Lexer::SkipToTextNumber() {
    if (binary_ || peeked_) return false;
    for (;;) {
        while (pos_ < end_ && (kCharClasses[*pos_] & kSpace)) ++pos_;
        if (pos_ == end_) return false;
        const std::uint8_t c = *pos_;
        if (c == ',' || c == ';') {
            ++pos_;
            continue;
        }
        if (c == '#' || (c == '/' && end_ - pos_ >= 2 && pos_[1] == '/')) {
            while (pos_ < end_ && *pos_ != '\n') ++pos_;
            continue;
        }
        break;
    }
    return StartsNumber();
}

bool Lexer::EndsWord(const std::uint8_t* at) const {
    if (at == end_) return true;
    if (!(kCharClasses[*at] & kMayEndWord)) return false;
    return *at != '/' || (end_ - at >= 2 && at[1] == '/');
}

bool Lexer::TakeTextNumber(std::string_view& text) {
    if (!SkipToTextNumber()) return false;
    const std::uint8_t* start = pos_;
    SkipWord();
    text = std::string_view(reinterpret_cast<const char*>(start), std::size_t(pos_ - start));
    return true;
}

template <class T>
bool Lexer::TakeTextNumber(std::string_view& text, T& value, bool& parsed) {
    if (!SkipToTextNumber()) return false;
    const std::uint8_t* start = pos_;
    const char* first = reinterpret_cast<const char*>(start) + (*start == '+' ? 1 : 0);
    const auto [ptr, ec] = std::from_chars(first, reinterpret_cast<const char*>(end_), value);
    const std::uint8_t* stop = reinterpret_cast<const std::uint8_t*>(ptr);
    parsed = ec == std::errc() && EndsWord(stop);
    if (parsed)
        pos_ = stop;
    else
        SkipWord();
    text = std::string_view(reinterpret_cast<const char*>(start), std::size_t(pos_ - start));
    return true;
}

template bool Lexer::TakeTextNumber<float>(std::string_view&, float&, bool&);
template bool Lexer::TakeTextNumber<std::int64_t>(std::string_view&, std::int64_t&, bool&);

HRESULT Lexer::ReadBinary(Token& token) {
    if (pos_ == end_) {
        token.kind = TokenKind::End;
        return S_OK;
    }
    if (end_ - pos_ < 2) return DXFILEERR_PARSEERROR;
    const std::uint16_t code = LoadU16(pos_);
    pos_ += 2;
    const std::size_t left = std::size_t(end_ - pos_);
    switch (code) {
        case kTokName:
        case kTokString: {
            if (left < 4) return DXFILEERR_PARSEERROR;
            const std::uint32_t n = LoadU32(pos_);
            const std::size_t need = 4 + std::size_t(n) + (code == kTokString ? 4 : 0);
            if (left < need) return DXFILEERR_PARSEERROR;
            token.kind = code == kTokName ? TokenKind::Name : TokenKind::String;
            token.text = std::string_view(reinterpret_cast<const char*>(pos_ + 4), n);
            if (code == kTokString) {
                // A string carries its separator (a comma or semicolon code) as a 32-bit word.
                const std::uint32_t terminator = LoadU32(pos_ + 4 + n);
                if (terminator != 19 && terminator != 20) return DXFILEERR_PARSEERROR;
            }
            pos_ += need;
            return S_OK;
        }
        case kTokInteger:
            if (left < 4) return DXFILEERR_PARSEERROR;
            token.kind = TokenKind::Integer;
            token.value = LoadU32(pos_);
            pos_ += 4;
            return S_OK;
        case kTokGuid:
            if (left < 16) return DXFILEERR_PARSEERROR;
            token.kind = TokenKind::Guid;
            token.guid.Data1 = LoadU32(pos_);
            token.guid.Data2 = LoadU16(pos_ + 4);
            token.guid.Data3 = LoadU16(pos_ + 6);
            std::memcpy(token.guid.Data4, pos_ + 8, 8);
            pos_ += 16;
            return S_OK;
        case kTokIntegerList:
        case kTokFloatList: {
            if (left < 4) return DXFILEERR_PARSEERROR;
            const std::uint32_t n = LoadU32(pos_);
            const std::size_t entry = code == kTokIntegerList ? 4 : floatSize_;
            if (std::uint64_t(n) * entry > left - 4) return DXFILEERR_PARSEERROR;
            token.kind = code == kTokIntegerList ? TokenKind::IntegerList : TokenKind::FloatList;
            token.count = n;
            token.list = pos_ + 4;
            pos_ += 4 + std::size_t(n) * entry;
            return S_OK;
        }
        default:
            for (const FixedToken& fixed : kFixedTokens) {
                if (fixed.code == code) {
                    token.kind = fixed.kind;
                    if (fixed.spelling) token.text = fixed.spelling;
                    return S_OK;
                }
            }
            return DXFILEERR_PARSEERROR;
    }
}

}  // namespace qm::xof
