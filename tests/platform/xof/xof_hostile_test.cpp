// xof_hostile_test.cpp: damaged, truncated and hostile X files end in an error result, quickly
// and with everything released.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/platform/xof/xof_test_util.h"

using namespace xoftest;

namespace {

bool IsParserError(HRESULT hr) { return hr >= DXFILEERR_BADOBJECT && hr <= DXFILEERR_NOINTERNET; }

std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

const std::string kFrameTemplate = "template Frame { <3D82AB46-62DA-11CF-AB39-0020AF71E433> [...] }\n";
const std::string kListTemplate = "template List { <00000000-0000-0000-0000-0000000000F1> DWORD n; array DWORD v[n]; }\n";

}  // namespace

TEST(XofHostile, CountsTheDataCannotBack) {
    ComPtr<IDirectXFileEnumObject> e;
    const std::string text = "xof 0303txt 0032\n" + kListTemplate;
    EXPECT_EQ(Open(text + "List { 1000000000; 1, 2, 3; }", e), DXFILEERR_PARSEERROR);
    EXPECT_EQ(Open(text + "List { 2; 1, 2, 3; }", e), DXFILEERR_PARSEERROR);  // more values than members
    EXPECT_EQ(Open(text + "List { 99999999999; }", e), DXFILEERR_BADVALUE);   // does not fit a DWORD
    EXPECT_EQ(Open(text + "List { 3.3e58; }", e), DXFILEERR_PARSEERROR);      // not even a 64-bit integer
    EXPECT_FALSE(e);

    // Binary: lists, names and strings whose counts pass the end of the file.
    auto binary = [](auto&& body) {
        BinaryWriter w;
        w.bytes = "xof 0303bin 0032";
        w.Token(kTemplate); w.Name("List"); w.Token(kOBrace);
        w.Token(kDword); w.Name("n"); w.Token(kSemicolon);
        w.Token(kArray); w.Token(kDword); w.Name("v"); w.Token(kOBracket); w.Name("n"); w.Token(kCBracket); w.Token(kSemicolon);
        w.Token(kCBrace);
        w.Name("List"); w.Token(kOBrace);
        body(w);
        w.Token(kCBrace);
        return w.bytes;
    };
    EXPECT_EQ(Open(binary([](BinaryWriter& w) { w.IntegerList({2, 7, 8}); }), e), S_OK);
    EXPECT_EQ(Open(binary([](BinaryWriter& w) { w.IntegerList({0xFFFFFFFF, 7, 8}); }), e), DXFILEERR_PARSEERROR);
    EXPECT_EQ(Open(binary([](BinaryWriter& w) { w.Token(6); w.U32(0x40000000); w.U32(1); }), e), DXFILEERR_PARSEERROR);
    EXPECT_EQ(Open(binary([](BinaryWriter& w) { w.Token(1); w.U32(0xFFFFFFF0); }), e), DXFILEERR_PARSEERROR);
    EXPECT_EQ(Open(binary([](BinaryWriter& w) { w.IntegerList({1}); w.FloatList({1.0}); }), e), DXFILEERR_PARSEERROR);
    EXPECT_EQ(Open(binary([](BinaryWriter& w) { w.Token(999); }), e), DXFILEERR_PARSEERROR);
    EXPECT_FALSE(e);
}

TEST(XofHostile, HugeArraysEndQuickly) {
    const std::string templates =
        "xof 0303txt 0032\n"
        "template Empty { <00000000-0000-0000-0000-0000000000F2> }\n"
        "template Cube { <00000000-0000-0000-0000-0000000000F3> DWORD a; DWORD b;\n"
        "  array DWORD cells[a][b][4294967295]; }\n"
        "template Hollow { <00000000-0000-0000-0000-0000000000F4> DWORD n;\n"
        "  array Empty e[n][4294967295]; array Empty f[4294967295]; DWORD tail; }\n";
    ComPtr<IDirectXFileEnumObject> e;
    // Element counts multiply far past 64 bits; reading stops where the values do.
    EXPECT_EQ(Open(templates + "Cube { 4294967295; 4294967295; 1, 2, 3; }", e), DXFILEERR_PARSEERROR);
    // Arrays of a template with no members hold nothing, however long they claim to be.
    ASSERT_EQ(Open(templates + "Hollow { 4294967295; 5; }", e), S_OK);
    ComPtr<IDirectXFileData> hollow;
    ASSERT_EQ(e->GetNextDataObject(hollow.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(DataOf(hollow.Get()), (std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 5, 0, 0, 0}));
    // Sizes that are negative, or not integer members, or unknown.
    const std::string signedSize =
        "xof 0303txt 0032 template S { <00000000-0000-0000-0000-0000000000F5> SDWORD n; array BYTE b[n]; }\n";
    EXPECT_EQ(Open(signedSize + "S { -1; }", e), DXFILEERR_BADARRAYSIZE);
    EXPECT_EQ(Open("xof 0303txt 0032 template S { <00000000-0000-0000-0000-0000000000F6> FLOAT n; array BYTE b[n]; }", e),
              DXFILEERR_BADARRAYSIZE);
    EXPECT_EQ(Open("xof 0303txt 0032 template S { <00000000-0000-0000-0000-0000000000F7> array BYTE b[later]; DWORD later; }", e),
              DXFILEERR_BADARRAYSIZE);
}

TEST(XofHostile, NestingThousandsDeep) {
    ComPtr<IDirectXFileEnumObject> e;
    const std::string head = "xof 0303txt 0032\n" + kFrameTemplate;
    EXPECT_EQ(Open(head + Repeat("Frame {", 200) + Repeat("}", 200), e), S_OK);
    EXPECT_EQ(Open(head + Repeat("Frame {", 5000) + Repeat("}", 5000), e), DXFILEERR_PARSEERROR);
    EXPECT_EQ(Open(head + Repeat("Frame {", 100000), e), DXFILEERR_PARSEERROR);

    BinaryWriter w;
    w.bytes = "xof 0303bin 0032";
    w.Token(kTemplate); w.Name("Frame"); w.Token(kOBrace);
    w.Token(kOBracket); w.Token(kDot); w.Token(kDot); w.Token(kDot); w.Token(kCBracket); w.Token(kCBrace);
    for (int i = 0; i < 20000; ++i) {
        w.Name("Frame");
        w.Token(kOBrace);
    }
    EXPECT_EQ(Open(w.bytes, e), DXFILEERR_PARSEERROR);

    // Templates nested in templates: a chain longer than the limit is refused when declared.
    std::string chain = "xof 0303txt 0032\ntemplate T0 { <00000000-0000-0000-0000-000000000100> DWORD v; }\n";
    for (int i = 1; i <= 40; ++i)
        chain += "template T" + std::to_string(i) + " { <00000000-0000-0000-0000-000000000100> T" + std::to_string(i - 1) + " inner; }\n";
    EXPECT_EQ(Open(chain, e), DXFILEERR_PARSEERROR);
    EXPECT_FALSE(e);
}

TEST(XofHostile, MalformedText) {
    ComPtr<IDirectXFileEnumObject> e;
    const std::string head = "xof 0303txt 0032\n";
    const std::string s = "template S { <00000000-0000-0000-0000-0000000000F8> STRING s; [...] }\n";
    EXPECT_EQ(Open(head + s + "S { \"never closed; }", e), DXFILEERR_PARSEERROR);
    EXPECT_EQ(Open(head + "template S { <00000000-0000-0000-0000 STRING s; }", e), DXFILEERR_PARSEERROR);
    EXPECT_EQ(Open(head + "template S { <not-a-guid> }", e), DXFILEERR_PARSEERROR);
    EXPECT_EQ(Open(head + s + "S { \"a\"; { } }", e), DXFILEERR_PARSEERROR);      // empty reference
    EXPECT_EQ(Open(head + s + "S { \"a\"; ", e), DXFILEERR_PARSEERROR);           // unclosed object
    EXPECT_EQ(Open(head + s + "S { 12; }", e), DXFILEERR_PARSEERROR);             // number for a string
    EXPECT_EQ(Open(head + s + "} S { \"a\"; }", e), DXFILEERR_PARSEERROR);
    EXPECT_EQ(Open(head + "template { }", e), DXFILEERR_PARSEERROR);
    EXPECT_EQ(Open(head + "template X { <00000000-0000-0000-0000-0000000000F9> Missing m; }", e), DXFILEERR_NOTEMPLATE);
    EXPECT_EQ(Open(head + "template X { <00000000-0000-0000-0000-0000000000F9> [...] DWORD late; }", e), DXFILEERR_PARSEERROR);
    EXPECT_FALSE(e);
}

TEST(XofHostile, DamagedCompressedBlocks) {
    const std::string good = ReadFile(SamplePath("large_tzip.x"));
    ASSERT_GT(good.size(), 64u);
    ComPtr<IDirectXFileEnumObject> e;
    ASSERT_EQ(Open(good, e), S_OK);
    auto damaged = [&](std::size_t offset, char value) {
        std::string copy = good;
        copy[offset] = value;
        return Open(copy, e);
    };
    EXPECT_EQ(damaged(24, 'X'), DXFILEERR_BADFILE);                          // "CK" signature
    EXPECT_EQ(damaged(20, char(good[20] + 1)), DXFILEERR_BADFILE);           // expanded block size
    EXPECT_EQ(damaged(16, char(good[16] + 1)), DXFILEERR_BADFILE);           // expanded file size
    EXPECT_EQ(damaged(26, char(0xFF)), DXFILEERR_BADFILE);                   // deflate block type 3
    // A second block inflated without the first block's output as history cannot give the text.
    const std::size_t first = std::size_t(std::uint8_t(good[22]) | std::uint8_t(good[23]) << 8);
    // (The stated file size is lowered by the first block's 32 KiB so that only the history is wrong.)
    std::uint32_t total;
    std::memcpy(&total, good.data() + 16, 4);
    total -= 32768;
    std::string noHistory = "xof 0303tzip0032" + std::string(reinterpret_cast<const char*>(&total), 4) +
                            good.substr(20 + 4 + first);
    EXPECT_EQ(Open(noHistory, e), DXFILEERR_BADFILE);
    // Blocks cut short, or a file that stops after the size word.
    EXPECT_EQ(Open(good.substr(0, good.size() - 10), e), DXFILEERR_BADFILE);
    EXPECT_EQ(Open(good.substr(0, 20), e), DXFILEERR_BADFILE);
    // A stated size of 4 GiB backed by nothing.
    EXPECT_EQ(Open(std::string("xof 0303bzip0032\xFF\xFF\xFF\xFF", 20) + good.substr(20, 30), e), DXFILEERR_BADFILE);
    EXPECT_FALSE(e);
}

TEST(XofHostile, WrongFloatSize) {
    for (auto [name, header] : {std::pair{"scene_bin32.x", "0064"}, std::pair{"scene_bin64.x", "0032"}}) {
        SCOPED_TRACE(name);
        std::string file = ReadFile(SamplePath(name));
        ASSERT_GT(file.size(), 16u);
        file.replace(12, 4, header);
        ComPtr<IDirectXFileEnumObject> e;
        EXPECT_TRUE(IsParserError(Open(file, e)));
        EXPECT_FALSE(e);
    }
}

TEST(XofHostile, EveryPrefixOfEverySample) {
    for (const char* encoding : {"txt", "bin32", "bin64", "tzip", "bzip"}) {
        SCOPED_TRACE(encoding);
        const std::string file = ReadFile(SamplePath(std::string("scene_") + encoding + ".x"));
        ComPtr<IDirectXFileEnumObject> e;
        ASSERT_EQ(Open(file, e), S_OK);
        const std::vector<std::string> whole = DumpAll(e.Get());
        // Where the last object closes; shorter prefixes cannot hold the whole file.
        std::size_t complete = file.size();
        while (complete > 0 && (file[complete - 1] == '\n' || file[complete - 1] == ' ')) --complete;
        if (std::string(encoding) == "tzip" || std::string(encoding) == "bzip") complete = file.size();
        for (std::size_t n = 0; n < file.size(); ++n) {
            const HRESULT hr = Open(std::string_view(file).substr(0, n), e);
            if (FAILED(hr)) {
                ASSERT_TRUE(IsParserError(hr)) << "prefix " << n << " gave " << std::hex << hr;
                ASSERT_FALSE(e);
                continue;
            }
            // A prefix that parses holds whole top-level objects, the same as in the full file.
            ASSERT_LT(n, file.size());
            std::vector<std::string> part = DumpAll(e.Get());
            ASSERT_LE(part.size(), whole.size()) << "prefix " << n;
            if (n < complete) {
                ASSERT_LT(part.size(), whole.size()) << "prefix " << n;
            }
            for (std::size_t i = 0; i < part.size(); ++i) ASSERT_EQ(part[i], whole[i]) << "prefix " << n;
        }
    }
}
