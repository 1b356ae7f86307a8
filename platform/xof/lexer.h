// lexer.h: tokens of X-file bodies, read from the text encoding (words, numbers, quoted strings,
// GUIDs in angle brackets, // and # comments) or the binary one (16-bit token codes with counted
// names, strings and integer or float lists), with one token of lookahead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/win/unknown.h"

namespace qm::xof {

enum class TokenKind : std::uint8_t {
    End,          // end of input
    Name,         // identifiers and keywords (binary keyword codes arrive spelled as in text)
    String,       // quoted string (text) or counted string (binary)
    Number,       // text numeral, kept as spelled until its member type is known
    Integer,      // binary single integer
    IntegerList,  // binary list of 32-bit integers
    FloatList,    // binary list of 32- or 64-bit floats
    Guid,
    OBrace,
    CBrace,
    OBracket,
    CBracket,
    OParen,
    CParen,
    Comma,
    Semicolon,
    Dot,
};

struct Token {
    TokenKind kind = TokenKind::End;
    std::string_view text;                // Name, String, Number
    GUID guid{};                          // Guid
    std::uint32_t value = 0;              // Integer
    std::uint32_t count = 0;              // IntegerList, FloatList: entries
    const std::uint8_t* list = nullptr;   // IntegerList, FloatList: little-endian entries
};

class Lexer {
public:
    // body: the file after its 16-byte header. floatSize (4 or 8) sizes binary float lists.
    Lexer(const std::uint8_t* body, std::size_t size, bool binary, unsigned floatSize);

    // The next token, without taking it. Returns DXFILEERR_PARSEERROR for malformed input
    // (unknown binary token, count past the end, unterminated string or comment-free garbage).
    HRESULT Peek(const Token** token);
    HRESULT Take(Token& token);

    // Text files: skips separators and comments and takes a numeric word if one comes next (true);
    // otherwise stops before the next token (false), as does any call in binary files or with a
    // token peeked.
    bool TakeTextNumber(std::string_view& text);
    // The same, reading the number as a T (float or std::int64_t, after an optional '+') while
    // scanning it: `parsed` is true when those characters make up the whole word, and `value` holds
    // it; otherwise only the word is given.
    template <class T>
    bool TakeTextNumber(std::string_view& text, T& value, bool& parsed);

    // Binary files: when the next token is a list of `kind` (IntegerList or FloatList) with at least
    // `least` entries, takes it and gives its entries and their count (true); otherwise takes
    // nothing (false), malformed input included, which the next Peek or Take then reports.
    bool TakeList(TokenKind kind, std::uint32_t least, const std::uint8_t** entries, std::uint32_t* count);

    bool Binary() const { return binary_; }
    // Bytes of input not yet read (a peeked token counts as read).
    std::size_t Remaining() const { return std::size_t(end_ - pos_); }
    unsigned FloatSize() const { return floatSize_; }

private:
    HRESULT Read(Token& token);
    HRESULT ReadText(Token& token);
    HRESULT ReadBinary(Token& token);
    // Text: whether the word at the position reads as a number; the end of that word.
    bool StartsNumber() const;
    // Skips separators and comments; false at the end of the input or before anything else than a
    // numeric word.
    bool SkipToTextNumber();
    bool EndsWord(const std::uint8_t* at) const;
    void SkipWord();

    const std::uint8_t* pos_;
    const std::uint8_t* end_;
    bool binary_;
    unsigned floatSize_;
    bool peeked_ = false;
    HRESULT peekResult_ = S_OK;
    Token peek_;
};

// Parses "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" (36 characters). False when malformed.
bool ParseGuid(std::string_view text, GUID& guid);

}  // namespace qm::xof
