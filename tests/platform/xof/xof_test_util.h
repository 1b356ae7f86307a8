// xof_test_util.h: helpers for the X-file parser tests: parsing from memory, a canonical dump of
// everything an enumerator yields, a binary-token writer and sample file access.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xof/xof.h"

namespace xoftest {

// Parses a whole file image with a fresh parser (after registering `templates` when given).
HRESULT Open(std::string_view file, ComPtr<IDirectXFileEnumObject>& enumObject, std::string_view templates = {});

// Every top-level object with its data (hex), strings, GUIDs and children; references show
// their target's name and type. One string per top-level object.
std::vector<std::string> DumpAll(IDirectXFileEnumObject* enumObject);
std::string Dump(IDirectXFileData* data);

std::string NameOf(IDirectXFileObject* object);
std::vector<std::uint8_t> DataOf(IDirectXFileData* data, const char* member = nullptr);

std::string ReadFile(const std::string& path);
std::string SamplePath(const std::string& name);

// Writes binary-encoded bodies token by token.
struct BinaryWriter {
    std::string bytes;
    unsigned floatSize = 4;

    void Token(std::uint16_t code);
    void U32(std::uint32_t v);
    void Name(std::string_view name);
    void String(std::string_view text);
    void Integer(std::uint32_t v);
    void IntegerList(const std::vector<std::uint32_t>& values);
    void FloatList(const std::vector<double>& values);
    void Guid(const GUID& guid);
};

// Binary token codes used by the tests.
enum : std::uint16_t {
    kOBrace = 10, kCBrace = 11, kOBracket = 14, kCBracket = 15, kDot = 18, kComma = 19, kSemicolon = 20,
    kTemplate = 31, kWord = 40, kDword = 41, kFloat = 42, kDouble = 43, kChar = 44, kUchar = 45,
    kSword = 46, kSdword = 47, kLpstr = 49, kArray = 52,
};

}  // namespace xoftest
