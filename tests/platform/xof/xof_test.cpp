// xof_test.cpp: the X-file parser on well-formed files: encodings, templates and layout,
// references, and the rules of the name, data and child operations.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "tests/platform/xof/xof_test_util.h"

using namespace xoftest;

namespace {

constexpr GUID kMeshType = {0x3D82AB44, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
constexpr GUID kFrameType = {0x3D82AB46, 0x62DA, 0x11CF, {0xAB, 0x39, 0x00, 0x20, 0xAF, 0x71, 0xE4, 0x33}};
constexpr GUID kRedStoneId = {0xA1B2C3D4, 0x0001, 0x4000, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0xDE}};

float F32(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    float f;
    std::memcpy(&f, bytes.data() + offset, 4);
    return f;
}
std::uint32_t U32(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    std::uint32_t v;
    std::memcpy(&v, bytes.data() + offset, 4);
    return v;
}

ComPtr<IDirectXFileData> NextData(IDirectXFileData* parent) {
    for (;;) {
        ComPtr<IDirectXFileObject> child;
        if (FAILED(parent->GetNextObject(child.ReleaseAndGetAddressOf()))) return nullptr;
        ComPtr<IDirectXFileData> data;
        if (SUCCEEDED(child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(data.ReleaseAndGetAddressOf()))))
            return data;
    }
}

ComPtr<IDirectXFileData> Named(IDirectXFileEnumObject* e, const char* name) {
    ComPtr<IDirectXFileData> data;
    e->GetDataObjectByName(name, data.ReleaseAndGetAddressOf());
    return data;
}

const char* const kEncodings[] = {"txt", "bin32", "bin64", "tzip", "bzip"};

}  // namespace

TEST(XofSamples, EveryEncodingCarriesTheSameScene) {
    for (const char* base : {"scene", "large"}) {
        std::vector<std::string> reference;
        for (const char* encoding : kEncodings) {
            SCOPED_TRACE(std::string(base) + "_" + encoding);
            const std::string file = ReadFile(SamplePath(std::string(base) + "_" + encoding + ".x"));
            ASSERT_GT(file.size(), 16u);
            ComPtr<IDirectXFileEnumObject> e;
            ASSERT_EQ(Open(file, e), S_OK);
            std::vector<std::string> dumps = DumpAll(e.Get());
            ASSERT_EQ(dumps.size(), 6u);  // Header, ticks, material, frame tree, two animation sets
            if (reference.empty()) reference = dumps;
            EXPECT_EQ(dumps, reference);
        }
    }
}

TEST(XofSamples, SceneContentMatchesTheGenerator) {
    const std::string file = ReadFile(SamplePath("scene_bin64.x"));
    ComPtr<IDirectXFileEnumObject> e;
    ASSERT_EQ(Open(file, e), S_OK);

    // Grid of 4 x 4 quads: 25 vertices, 16 faces, every fifth one a triangle.
    ComPtr<IDirectXFileData> mesh = Named(e.Get(), "GridMesh");
    ASSERT_TRUE(mesh);
    const GUID* type = nullptr;
    ASSERT_EQ(mesh->GetType(&type), S_OK);
    EXPECT_EQ(*type, kMeshType);
    std::vector<std::uint8_t> data = DataOf(mesh.Get());
    ASSERT_GE(data.size(), 4u + 25 * 12 + 4);
    EXPECT_EQ(U32(data, 0), 25u);
    EXPECT_EQ(F32(data, 4), -1.0f);
    EXPECT_EQ(F32(data, 8), float(0.25 * std::sin(-3.0) * std::cos(-2.0)));
    EXPECT_EQ(F32(data, 12), -1.0f);
    EXPECT_EQ(U32(data, 4 + 25 * 12), 16u);
    // Faces: 13 quads (5 words each) and 3 triangles (4 words each) fill the rest exactly.
    EXPECT_EQ(data.size(), 4u + 25 * 12 + 4 + (13 * 5 + 3 * 4) * 4);
    EXPECT_EQ(DataOf(mesh.Get(), "faces").size(), (13u * 5 + 3 * 4) * 4);

    // Children in file order: normals, texture coordinates, material list, skin header, weights.
    ComPtr<IDirectXFileData> normals = NextData(mesh.Get());
    ComPtr<IDirectXFileData> coords = NextData(mesh.Get());
    ComPtr<IDirectXFileData> materials = NextData(mesh.Get());
    ASSERT_TRUE(normals && coords && materials);
    EXPECT_EQ(DataOf(coords.Get()).size(), 4u + 25 * 8);
    std::vector<std::uint8_t> list = DataOf(materials.Get());
    EXPECT_EQ(U32(list, 0), 2u);
    EXPECT_EQ(U32(list, 4), 16u);
    EXPECT_EQ(U32(list, 8 + 4), 1u);  // face 1 uses material (0 + 1) % 2

    // The first material is a reference to the top-level RedStone; the second is embedded.
    ComPtr<IDirectXFileObject> first;
    ASSERT_EQ(materials->GetNextObject(first.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<IDirectXFileDataReference> ref;
    ASSERT_EQ(first->QueryInterface(IID_IDirectXFileDataReference, reinterpret_cast<void**>(ref.ReleaseAndGetAddressOf())), S_OK);
    EXPECT_EQ(NameOf(first.Get()), "RedStone");
    ComPtr<IDirectXFileData> red;
    ASSERT_EQ(ref->Resolve(red.ReleaseAndGetAddressOf()), S_OK);
    GUID id{};
    red->GetId(&id);
    EXPECT_EQ(id, kRedStoneId);
    EXPECT_EQ(DataOf(red.Get()).size(), 44u);  // the size the material reader checks

    ComPtr<IDirectXFileData> blue = NextData(materials.Get());
    ASSERT_TRUE(blue);
    EXPECT_EQ(NameOf(blue.Get()), "BlueGlass");
    ComPtr<IDirectXFileData> texture = NextData(blue.Get());
    ASSERT_TRUE(texture);
    std::vector<std::uint8_t> index = DataOf(texture.Get(), "filename");
    ASSERT_EQ(index.size(), 4u);
    LPCSTR name = nullptr;
    ASSERT_EQ(texture->GetString(U32(index, 0), &name), S_OK);
    EXPECT_STREQ(name, "textures/blue glass.png");

    // SkinWeights: STRING (4) + count + indices + weights + matrix = 8 n + 72 bytes.
    ComPtr<IDirectXFileData> header = NextData(mesh.Get());
    ComPtr<IDirectXFileData> weights = NextData(mesh.Get());
    ASSERT_TRUE(header && weights);
    EXPECT_EQ(DataOf(header.Get()).size(), 6u);
    std::vector<std::uint8_t> w = DataOf(weights.Get());
    const std::uint32_t n = U32(w, 4);
    EXPECT_EQ(w.size(), 8u * n + 72);
    ASSERT_EQ(weights->GetString(U32(w, 0), &name), S_OK);
    EXPECT_STREQ(name, "Body");
    EXPECT_FALSE(NextData(mesh.Get()) && NextData(mesh.Get()));  // one more SkinWeights, then none
}

TEST(XofSamples, CompressedSampleSpansSeveralBlocks) {
    for (const char* name : {"large_tzip.x", "large_bzip.x"}) {
        const std::string file = ReadFile(SamplePath(name));
        ASSERT_GT(file.size(), 26u);
        const auto* p = reinterpret_cast<const std::uint8_t*>(file.data());
        std::uint32_t total;
        std::memcpy(&total, p + 16, 4);
        EXPECT_GT(total, 3u * 32768);
        // First block: a full 32 KiB of output, then more blocks follow.
        EXPECT_EQ(p[20] | p[21] << 8, 32768);
        const std::size_t packed = std::size_t(p[22] | p[23] << 8);
        EXPECT_EQ(p[24], 'C');
        EXPECT_EQ(p[25], 'K');
        EXPECT_LT(20 + 4 + packed, file.size());
    }
}

TEST(XofLayout, PrimitivesAreLaidOutInDeclarationOrder) {
    const std::string templates =
        "template Sample { <11111111-2222-3333-4444-555555555555>\n"
        " WORD w; DWORD d; FLOAT f; DOUBLE g; CHAR c; UCHAR u; BYTE b; STRING s; SWORD sw; SDWORD sd; STRING t; }\n";
    const std::string text = "xof 0303txt 0032\n" + templates + "Sample { 65535; 4000000000; 0.1; 0.1; -5; 200; 7; \"one\"; -2; -100000; \"two\"; }\n";

    // The same values in a binary file with 64-bit floats: FLOAT still takes 4 bytes.
    BinaryWriter bin;
    bin.floatSize = 8;
    bin.bytes = "xof 0303bin 0064";
    bin.Token(kTemplate); bin.Name("Sample"); bin.Token(kOBrace);
    bin.Guid({0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}});
    const std::pair<std::uint16_t, const char*> members[] = {{kWord, "w"}, {kDword, "d"}, {kFloat, "f"}, {kDouble, "g"},
        {kChar, "c"}, {kUchar, "u"}, {kUchar, "b"}, {kLpstr, "s"}, {kSword, "sw"}, {kSdword, "sd"}, {kLpstr, "t"}};
    for (auto [code, name] : members) {
        bin.Token(code); bin.Name(name); bin.Token(kSemicolon);
    }
    bin.Token(kCBrace);
    bin.Name("Sample"); bin.Token(kOBrace);
    bin.IntegerList({65535, 4000000000u});
    bin.FloatList({0.1, 0.1});
    bin.IntegerList({std::uint32_t(-5), 200, 7});
    bin.String("one");
    bin.IntegerList({std::uint32_t(-2), std::uint32_t(-100000)});
    bin.String("two");
    bin.Token(kCBrace);

    for (const std::string& file : {text, bin.bytes}) {
        ComPtr<IDirectXFileEnumObject> e;
        ASSERT_EQ(Open(file, e), S_OK);
        ComPtr<IDirectXFileData> data;
        ASSERT_EQ(e->GetNextDataObject(data.ReleaseAndGetAddressOf()), S_OK);
        std::vector<std::uint8_t> bytes = DataOf(data.Get());
        ASSERT_EQ(bytes.size(), 2u + 4 + 4 + 8 + 1 + 1 + 1 + 4 + 2 + 4 + 4);
        std::uint16_t w; std::memcpy(&w, &bytes[0], 2);
        EXPECT_EQ(w, 65535);
        EXPECT_EQ(U32(bytes, 2), 4000000000u);
        EXPECT_EQ(F32(bytes, 6), 0.1f);
        double g; std::memcpy(&g, &bytes[10], 8);
        EXPECT_EQ(g, 0.1);
        EXPECT_EQ(std::int8_t(bytes[18]), -5);
        EXPECT_EQ(bytes[19], 200);
        EXPECT_EQ(bytes[20], 7);
        std::int16_t sw; std::memcpy(&sw, &bytes[25], 2);
        EXPECT_EQ(sw, -2);
        EXPECT_EQ(std::int32_t(U32(bytes, 27)), -100000);
        LPCSTR s = nullptr;
        ASSERT_EQ(data->GetString(U32(bytes, 21), &s), S_OK);
        EXPECT_STREQ(s, "one");
        ASSERT_EQ(data->GetString(U32(bytes, 31), &s), S_OK);
        EXPECT_STREQ(s, "two");
        EXPECT_EQ(data->GetString(2, &s), DXFILEERR_BADVALUE);
        // Members by name: address and size of that member alone.
        DWORD size = 0;
        void* where = nullptr;
        ASSERT_EQ(data->GetData("g", &size, &where), S_OK);
        EXPECT_EQ(size, 8u);
        DWORD wholeSize = 0;
        void* whole = nullptr;
        data->GetData(nullptr, &wholeSize, &whole);
        EXPECT_EQ(static_cast<std::uint8_t*>(where) - static_cast<std::uint8_t*>(whole), 10);
        EXPECT_EQ(data->GetData("missing", &size, &where), DXFILEERR_NOTFOUND);
    }
}

TEST(XofTemplates, ArraysSizedByMembersConstantsAndSeveralDimensions) {
    const std::string file =
        "xof 0302txt 0032\n"
        "template Pair { <00000000-0000-0000-0000-000000000001> WORD a; array BYTE b[2]; }\n"
        "template Grid { <00000000-0000-0000-0000-000000000002>\n"
        "  DWORD rows; DWORD cols; array DWORD cells[rows][cols]; array Pair fixed[3]; array FLOAT none[0];\n"
        "  Pair last; }\n"
        "Grid { 2; 3; 1,2,3,4,5,6; 10;1,2;, 20;3,4;, 30;5,6;; 7;8,9;; }\n";
    ComPtr<IDirectXFileEnumObject> e;
    ASSERT_EQ(Open(file, e), S_OK);
    ComPtr<IDirectXFileData> grid;
    ASSERT_EQ(e->GetNextDataObject(grid.ReleaseAndGetAddressOf()), S_OK);
    std::vector<std::uint8_t> cells = DataOf(grid.Get(), "cells");
    ASSERT_EQ(cells.size(), 24u);
    for (std::uint32_t i = 0; i < 6; ++i) EXPECT_EQ(U32(cells, 4 * i), i + 1);
    const std::vector<std::uint8_t> fixed = DataOf(grid.Get(), "fixed");
    EXPECT_EQ(fixed, (std::vector<std::uint8_t>{10, 0, 1, 2, 20, 0, 3, 4, 30, 0, 5, 6}));
    EXPECT_EQ(DataOf(grid.Get(), "none").size(), 0u);
    EXPECT_EQ(DataOf(grid.Get(), "last"), (std::vector<std::uint8_t>{7, 0, 8, 9}));
    EXPECT_EQ(DataOf(grid.Get()).size(), 8u + 24 + 12 + 4);
}

TEST(XofTemplates, ChildRulesOfClosedOpenAndRestrictedTemplates) {
    const std::string templates =
        "xof 0303txt 0032\n"
        "template Leaf { <00000000-0000-0000-0000-0000000000A1> DWORD v; }\n"
        "template Other { <00000000-0000-0000-0000-0000000000A2> DWORD v; }\n"
        "template Open { <00000000-0000-0000-0000-0000000000A3> [...] }\n"
        "template OnlyLeaf { <00000000-0000-0000-0000-0000000000A4> [Leaf <00000000-0000-0000-0000-0000000000A1>] }\n"
        "template ByName { <00000000-0000-0000-0000-0000000000A5> [ Leaf, Open ] }\n";
    auto open = [&](const std::string& body) {
        ComPtr<IDirectXFileEnumObject> e;
        return Open("xof 0303txt 0032\n" + body, e, templates);
    };
    EXPECT_EQ(open("Open { Leaf { 1; } Other { 2; } OnlyLeaf { Leaf { 3; } } }"), S_OK);
    EXPECT_EQ(open("OnlyLeaf { Other { 2; } }"), DXFILEERR_BADOBJECT);
    EXPECT_EQ(open("ByName { Open { } Leaf { 1; } }"), S_OK);
    EXPECT_EQ(open("ByName { OnlyLeaf { } }"), DXFILEERR_BADOBJECT);
    EXPECT_EQ(open("Leaf { 1; Leaf { 2; } }"), DXFILEERR_BADOBJECT);  // closed
    // A reference must name an allowed template too.
    EXPECT_EQ(open("Other O { 1; } Leaf L { 2; } OnlyLeaf { { L } }"), S_OK);
    EXPECT_EQ(open("Other O { 1; } Leaf L { 2; } OnlyLeaf { { O } }"), DXFILEERR_BADOBJECT);
    // Data of a template nobody declared.
    EXPECT_EQ(open("Unknown { 1; }"), DXFILEERR_NOTEMPLATE);
}

TEST(XofTemplates, RegisteredBlocksAndRedeclarations) {
    ComPtr<IDirectXFile> parser;
    ASSERT_EQ(DirectXFileCreate(parser.ReleaseAndGetAddressOf()), S_OK);
    std::string block = "xof 0303txt 0032 template Vec { <00000000-0000-0000-0000-0000000000B1> FLOAT x; FLOAT y; }";
    ASSERT_EQ(parser->RegisterTemplates(block.data(), DWORD(block.size())), S_OK);
    // A block with a data object, or a broken one, registers nothing.
    std::string bad = "xof 0303txt 0032 template Extra { <00000000-0000-0000-0000-0000000000B2> DWORD a; } Vec { 1; 2; }";
    EXPECT_EQ(parser->RegisterTemplates(bad.data(), DWORD(bad.size())), DXFILEERR_PARSEERROR);
    std::string sized = "xof 0303txt 0032 template Arr { <00000000-0000-0000-0000-0000000000B3> array DWORD a[n]; }";
    EXPECT_EQ(parser->RegisterTemplates(sized.data(), DWORD(sized.size())), DXFILEERR_BADARRAYSIZE);

    auto open = [&](const std::string& file, ComPtr<IDirectXFileEnumObject>& e) {
        DXFILELOADMEMORY memory{const_cast<char*>(file.data()), DWORD(file.size())};
        return parser->CreateEnumObject(&memory, DXFILELOAD_FROMMEMORY, e.ReleaseAndGetAddressOf());
    };
    ComPtr<IDirectXFileEnumObject> e;
    EXPECT_EQ(open("xof 0303txt 0032 Vec { 1.5; 2.5; }", e), S_OK);
    EXPECT_EQ(open("xof 0303txt 0032 Extra { 1; }", e), DXFILEERR_NOTEMPLATE);
    // A file may declare a template again (exporters repeat the standard ones); its data uses the
    // file's definition, and the parser's registered one is untouched for the next file.
    ASSERT_EQ(open("xof 0303txt 0032 template Vec { <00000000-0000-0000-0000-0000000000B1> FLOAT x; FLOAT y; FLOAT z; }"
                   " Vec { 1; 2; 3; }", e), S_OK);
    ComPtr<IDirectXFileData> v;
    ASSERT_EQ(e->GetNextDataObject(v.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(DataOf(v.Get()).size(), 12u);
    EXPECT_EQ(open("xof 0303txt 0032 Vec { 1; 2; 3; }", e), DXFILEERR_PARSEERROR);
}

TEST(XofReferences, ByNameAndGuidForwardAndInCycles) {
    const std::string file =
        "xof 0303txt 0032\n"
        "template Node { <00000000-0000-0000-0000-0000000000C1> DWORD v; [...] }\n"
        "Node A { 1; { B } }\n"
        "Node B <00000000-0000-0000-0000-00000000BBBB> { 2; { A } { <00000000-0000-0000-0000-00000000BBBB> } }\n"
        "Node C { 3; { D <00000000-0000-0000-0000-00000000BBBB> } Node Inner { 4; } }\n"
        "Node { 5; { Inner } }\n";
    ComPtr<IDirectXFileEnumObject> e;
    ASSERT_EQ(Open(file, e), S_OK);
    // Each reference resolves to the object it names, by name first, by GUID when the name is
    // unknown; A and B refer to each other and everything is released all the same.
    std::vector<std::string> dumps = DumpAll(e.Get());
    ASSERT_EQ(dumps.size(), 4u);
    EXPECT_NE(dumps[0].find("ref -> 'B'"), std::string::npos);
    EXPECT_NE(dumps[1].find("ref -> 'A'"), std::string::npos);
    EXPECT_EQ(dumps[1].find("ref -> 'A'"), dumps[1].rfind("ref -> 'A'"));
    EXPECT_NE(dumps[1].find("ref -> 'B'"), std::string::npos);
    EXPECT_NE(dumps[2].find("ref -> 'B'"), std::string::npos);
    EXPECT_NE(dumps[3].find("ref -> 'Inner'"), std::string::npos);

    ComPtr<IDirectXFileData> byId;
    ASSERT_EQ(e->GetDataObjectById({0, 0, 0, {0, 0, 0, 0, 0, 0, 0xBB, 0xBB}}, byId.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(NameOf(byId.Get()), "B");
    ComPtr<IDirectXFileData> inner;
    ASSERT_EQ(e->GetDataObjectByName("Inner", inner.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(DataOf(inner.Get()), (std::vector<std::uint8_t>{4, 0, 0, 0}));
    EXPECT_EQ(e->GetDataObjectByName("Nobody", inner.ReleaseAndGetAddressOf()), DXFILEERR_NOTFOUND);
    EXPECT_FALSE(inner);

    // The reference object itself: name and GUID as written.
    ComPtr<IDirectXFileData> c;
    ASSERT_EQ(e->GetDataObjectByName("C", c.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<IDirectXFileObject> child;
    ASSERT_EQ(c->GetNextObject(child.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(NameOf(child.Get()), "D");
    GUID id{};
    child->GetId(&id);
    EXPECT_EQ(id.Data4[7], 0xBB);
    ComPtr<IDirectXFileData> notData;
    EXPECT_EQ(child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(notData.ReleaseAndGetAddressOf())), E_NOINTERFACE);

    ComPtr<IDirectXFileEnumObject> bad;
    EXPECT_EQ(Open("xof 0303txt 0032 template Node { <00000000-0000-0000-0000-0000000000C1> DWORD v; [...] }"
                   " Node A { 1; { Missing } }", bad),
              DXFILEERR_BADDATAREFERENCE);
    EXPECT_EQ(Open("xof 0303txt 0032 template Node { <00000000-0000-0000-0000-0000000000C1> DWORD v; [...] }"
                   " Node A { 1; { <00000000-0000-0000-0000-000000000099> } }", bad),
              DXFILEERR_BADDATAREFERENCE);
}

TEST(XofObjects, NameDataTypeAndChildOperations) {
    const std::string file =
        "xof 0303txt 0032\n"
        "template Frame { <3D82AB46-62DA-11CF-AB39-0020AF71E433> [...] }\n"
        "template Value { <00000000-0000-0000-0000-0000000000D1> DWORD v; }\n"
        "Frame Root_Frame-01 { Frame { } Value { 9; } }\n";
    ComPtr<IDirectXFile> parser;
    ASSERT_EQ(DirectXFileCreate(parser.ReleaseAndGetAddressOf()), S_OK);
    DXFILELOADMEMORY memory{const_cast<char*>(file.data()), DWORD(file.size())};
    ComPtr<IDirectXFileEnumObject> e;
    ASSERT_EQ(parser->CreateEnumObject(&memory, DXFILELOAD_FROMMEMORY, e.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<IDirectXFileData> root;
    ASSERT_EQ(e->GetNextDataObject(root.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<IDirectXFileData> none;
    EXPECT_EQ(e->GetNextDataObject(none.ReleaseAndGetAddressOf()), DXFILEERR_NOMOREOBJECTS);
    // The objects outlive the enumerator and the parser.
    e.Reset();
    parser.Reset();

    DWORD length = 0;
    ASSERT_EQ(root->GetName(nullptr, &length), S_OK);
    EXPECT_EQ(length, 14u);
    char small[8] = "xxxxxxx";
    length = sizeof small;
    EXPECT_EQ(root->GetName(small, &length), DXFILEERR_BADVALUE);
    EXPECT_EQ(length, 14u);
    char buffer[32];
    length = sizeof buffer;
    ASSERT_EQ(root->GetName(buffer, &length), S_OK);
    EXPECT_STREQ(buffer, "Root_Frame-01");
    EXPECT_EQ(length, 14u);
    EXPECT_EQ(root->GetName(buffer, nullptr), DXFILEERR_BADVALUE);
    const GUID* type = nullptr;
    ASSERT_EQ(root->GetType(&type), S_OK);
    EXPECT_EQ(*type, kFrameType);
    GUID id{1, 2, 3, {4}};
    root->GetId(&id);
    EXPECT_EQ(id, GUID{});
    DWORD size = 99;
    void* data = nullptr;
    ASSERT_EQ(root->GetData(nullptr, &size, &data), S_OK);
    EXPECT_EQ(size, 0u);

    ComPtr<IDirectXFileObject> child;
    ASSERT_EQ(root->GetNextObject(child.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(child->GetName(nullptr, &length), S_OK);
    EXPECT_EQ(length, 0u);  // unnamed
    ComPtr<IDirectXFileObject> asObject;
    EXPECT_EQ(child->QueryInterface(IID_IDirectXFileObject, reinterpret_cast<void**>(asObject.ReleaseAndGetAddressOf())), S_OK);
    ComPtr<IDirectXFileDataReference> asRef;
    EXPECT_EQ(child->QueryInterface(IID_IDirectXFileDataReference, reinterpret_cast<void**>(asRef.ReleaseAndGetAddressOf())), E_NOINTERFACE);
    ComPtr<IDirectXFileData> value = NextData(root.Get());
    ASSERT_TRUE(value);
    EXPECT_EQ(DataOf(value.Get()), (std::vector<std::uint8_t>{9, 0, 0, 0}));
    EXPECT_EQ(root->GetNextObject(child.ReleaseAndGetAddressOf()), DXFILEERR_NOMOREOBJECTS);
    EXPECT_EQ(root->AddDataReference("x", nullptr), E_NOTIMPL);
}

TEST(XofText, ExporterLeniency) {
    const std::string templates =
        "template V { <00000000-0000-0000-0000-0000000000E1> FLOAT x; FLOAT y; FLOAT z; }\n"
        "template L { <00000000-0000-0000-0000-0000000000E2> DWORD n; array V v[n]; array DWORD i[n]; }\n";
    const std::string strict = "xof 0303txt 0032\n" + templates + "L { 2; 1.0;2.0;3.0;, 4.0;5.0;6.0;; 7,8; }\n";
    const std::string odd = "xof 0303txt 0032\r\n# a comment line\r\n" + templates +
                            "L // trailing comment\r\n{ 2;; +1 2.0e0 ;;3., 4;.5e1,,6.0,; 7 8,; }\r\n";
    ComPtr<IDirectXFileEnumObject> a, b;
    ASSERT_EQ(Open(strict, a), S_OK);
    ASSERT_EQ(Open(odd, b), S_OK);
    EXPECT_EQ(DumpAll(a.Get()), DumpAll(b.Get()));
    // An integer member refuses a fraction; a float member takes an integer.
    ComPtr<IDirectXFileEnumObject> c;
    EXPECT_EQ(Open("xof 0303txt 0032\n" + templates + "L { 1.5; 1;2;3;; 7; }", c), DXFILEERR_PARSEERROR);
    EXPECT_EQ(Open("xof 0303txt 0032\n" + templates + "L { 1; x;2;3;; 7; }", c), DXFILEERR_PARSEERROR);
}

TEST(XofText, NumbersEndWhereTheirWordEnds) {
    const std::string templates =
        "template V { <00000000-0000-0000-0000-0000000000E3> FLOAT x; FLOAT y; FLOAT z; }\n"
        "template L { <00000000-0000-0000-0000-0000000000E4> DWORD n; array V v[n]; array DWORD i[n]; }\n";
    auto open = [&](const std::string& body, ComPtr<IDirectXFileEnumObject>& e) {
        return Open("xof 0303txt 0032\n" + templates + body, e);
    };
    // Numbers ended by separators, spaces, comments of both kinds and the closing brace; a leading
    // '+', a bare fraction, an exponent, and an integral fraction for a DWORD.
    ComPtr<IDirectXFileEnumObject> e;
    ASSERT_EQ(open("L { 2; +1//c\n-.5#c\n2e1, 4.;5;6;; 3.000,4294967295}", e), S_OK);
    ComPtr<IDirectXFileData> list;
    ASSERT_EQ(e->GetNextDataObject(list.ReleaseAndGetAddressOf()), S_OK);
    const std::vector<std::uint8_t> v = DataOf(list.Get(), "v");
    ASSERT_EQ(v.size(), 24u);
    const float expected[] = {1.0f, -0.5f, 20.0f, 4.0f, 5.0f, 6.0f};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(F32(v, 4 * k), expected[k]) << k;
    const std::vector<std::uint8_t> i = DataOf(list.Get(), "i");
    ASSERT_EQ(i.size(), 8u);
    EXPECT_EQ(U32(i, 0), 3u);
    EXPECT_EQ(U32(i, 4), 4294967295u);

    // Words that only begin like numbers, a dot that is punctuation, and values out of range.
    EXPECT_EQ(open("L { 1; 1.5.3;2;3;; 7; }", e), DXFILEERR_PARSEERROR);
    EXPECT_EQ(open("L { 1; 1/2;2;3;; 7; }", e), DXFILEERR_PARSEERROR);
    EXPECT_EQ(open("L { 1; 1e;2;3;; 7; }", e), DXFILEERR_PARSEERROR);
    EXPECT_EQ(open("L { 1; ..5;2;3;; 7; }", e), DXFILEERR_PARSEERROR);
    EXPECT_EQ(open("L { 1; 1e999;2;3;; 7; }", e), DXFILEERR_PARSEERROR);
    EXPECT_EQ(open("L { 1; 1;2;3;; 4294967296; }", e), DXFILEERR_BADVALUE);
    EXPECT_EQ(open("L { 1; 1;2;3;; 7.5; }", e), DXFILEERR_PARSEERROR);
    EXPECT_EQ(open("L { 2; 1;2;3;; 7; }", e), DXFILEERR_PARSEERROR);  // too few values
}

TEST(XofLayout, LargeArraysKeepEveryValue) {
    // Over a megabyte of object data, in both encodings, with vectors given as one binary list or as
    // lists broken at odd places.
    const std::string templates =
        "template V { <00000000-0000-0000-0000-0000000000E5> FLOAT x; FLOAT y; FLOAT z; }\n"
        "template L { <00000000-0000-0000-0000-0000000000E6> DWORD n; array V v[n]; }\n";
    const std::uint32_t count = 120000;
    auto value = [](std::uint32_t k) { return float(k % 1000) * 0.25f - float(k / 1000); };
    std::string text = "xof 0303txt 0032\n" + templates + "L { " + std::to_string(count) + ";\n";
    for (std::uint32_t k = 0; k < 3 * count; ++k) text += std::to_string(value(k)) + (k % 3 == 2 ? ";,\n" : ";");
    text += "; }\n";

    BinaryWriter bin;
    bin.bytes = "xof 0303bin 0032";
    const std::string header = "xof 0303txt 0032\n" + templates;
    ComPtr<IDirectXFile> parser;
    ASSERT_EQ(DirectXFileCreate(parser.ReleaseAndGetAddressOf()), S_OK);
    ASSERT_EQ(parser->RegisterTemplates(const_cast<char*>(header.data()), DWORD(header.size())), S_OK);
    bin.Name("L");
    bin.Token(kOBrace);
    bin.IntegerList({count});
    std::vector<double> values;
    for (std::uint32_t k = 0; k < 3 * count; ++k) {
        values.push_back(value(k));
        if (values.size() == 7 || k + 1 == 3 * count) {
            bin.FloatList(values);
            values.clear();
        }
    }
    bin.Token(kCBrace);

    for (const std::string* file : {&text, &bin.bytes}) {
        ComPtr<IDirectXFileEnumObject> e;
        DXFILELOADMEMORY memory{const_cast<char*>(file->data()), DWORD(file->size())};
        ASSERT_EQ(parser->CreateEnumObject(&memory, DXFILELOAD_FROMMEMORY, e.ReleaseAndGetAddressOf()), S_OK);
        ComPtr<IDirectXFileData> list;
        ASSERT_EQ(e->GetNextDataObject(list.ReleaseAndGetAddressOf()), S_OK);
        const std::vector<std::uint8_t> v = DataOf(list.Get(), "v");
        ASSERT_EQ(v.size(), 12u * count);
        for (std::uint32_t k = 0; k < 3 * count; ++k) ASSERT_EQ(F32(v, 4 * k), value(k)) << k;
    }
}

TEST(XofLayout, CountedListsReadAlikeWhereverBinaryListsBreak) {
    // Faces (a count, then that many indices) in text, in one binary list, and in binary lists broken
    // inside a face, right after a count, and into a float list that the integers may not take.
    const std::string templates =
        "template F { <00000000-0000-0000-0000-0000000000E7> DWORD n; array DWORD i[n]; }\n"
        "template M { <00000000-0000-0000-0000-0000000000E8> DWORD faces; array F f[faces]; DWORD tail; }\n";
    const std::vector<std::vector<std::uint32_t>> faces = {{3, 0, 1, 2}, {4, 2, 3, 4, 5}, {0}, {3, 7, 8, 9}, {5, 1, 2, 3, 4, 5}};
    std::string text = "xof 0303txt 0032\n" + templates + "M { 5; ";
    std::vector<std::uint32_t> flat = {5};
    for (const auto& face : faces) {
        text += std::to_string(face[0]) + ";";
        for (std::size_t k = 1; k < face.size(); ++k) text += std::to_string(face[k]) + (k + 1 < face.size() ? "," : "");
        text += ";,";
        flat.insert(flat.end(), face.begin(), face.end());
    }
    text.back() = ';';
    text += " 77; }\n";
    flat.push_back(77);

    const std::string header = "xof 0303txt 0032\n" + templates;
    ComPtr<IDirectXFile> parser;
    ASSERT_EQ(DirectXFileCreate(parser.ReleaseAndGetAddressOf()), S_OK);
    ASSERT_EQ(parser->RegisterTemplates(const_cast<char*>(header.data()), DWORD(header.size())), S_OK);
    auto binary = [&](const std::vector<std::size_t>& breaks) {
        BinaryWriter bin;
        bin.bytes = "xof 0303bin 0032";
        bin.Name("M");
        bin.Token(kOBrace);
        std::size_t from = 0;
        for (std::size_t at : breaks) {
            bin.IntegerList(std::vector<std::uint32_t>(flat.begin() + from, flat.begin() + at));
            from = at;
        }
        bin.IntegerList(std::vector<std::uint32_t>(flat.begin() + from, flat.end()));
        bin.Token(kCBrace);
        return bin.bytes;
    };
    auto dataOf = [&](const std::string& file) {
        ComPtr<IDirectXFileEnumObject> e;
        DXFILELOADMEMORY memory{const_cast<char*>(file.data()), DWORD(file.size())};
        EXPECT_EQ(parser->CreateEnumObject(&memory, DXFILELOAD_FROMMEMORY, e.ReleaseAndGetAddressOf()), S_OK);
        ComPtr<IDirectXFileData> m;
        if (!e || FAILED(e->GetNextDataObject(m.ReleaseAndGetAddressOf()))) return std::vector<std::uint8_t>{};
        return DataOf(m.Get());
    };
    const std::vector<std::uint8_t> expected = dataOf(text);
    ASSERT_EQ(expected.size(), 4 * flat.size());
    for (std::size_t k = 0; k < flat.size(); ++k) EXPECT_EQ(U32(expected, 4 * k), flat[k]) << k;
    for (const std::vector<std::size_t>& breaks : std::vector<std::vector<std::size_t>>{
             {}, {1}, {3}, {5}, {6}, {2, 7, 10}, {11}, {15, 16}, {21}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}})
        EXPECT_EQ(dataOf(binary(breaks)), expected) << breaks.size() << " breaks";

    // A face count past the end of the file, and a float list where indices belong, still fail.
    BinaryWriter shortFile;
    shortFile.bytes = "xof 0303bin 0032";
    shortFile.Name("M");
    shortFile.Token(kOBrace);
    shortFile.IntegerList({2, 3, 0, 1, 2, 9, 1});
    shortFile.Token(kCBrace);
    ComPtr<IDirectXFileEnumObject> e;
    DXFILELOADMEMORY memory{shortFile.bytes.data(), DWORD(shortFile.bytes.size())};
    EXPECT_EQ(parser->CreateEnumObject(&memory, DXFILELOAD_FROMMEMORY, e.ReleaseAndGetAddressOf()), DXFILEERR_PARSEERROR);
    BinaryWriter floats;
    floats.bytes = "xof 0303bin 0032";
    floats.Name("M");
    floats.Token(kOBrace);
    floats.IntegerList({1, 3, 0});
    floats.FloatList({1.0, 2.0});
    floats.IntegerList({5});
    floats.Token(kCBrace);
    DXFILELOADMEMORY floatMemory{floats.bytes.data(), DWORD(floats.bytes.size())};
    EXPECT_EQ(parser->CreateEnumObject(&floatMemory, DXFILELOAD_FROMMEMORY, e.ReleaseAndGetAddressOf()),
              DXFILEERR_PARSEERROR);
}

TEST(XofLayout, TimedKeysReadAlikeWhereverBinaryListsBreak) {
    // Animation-key-like records (a time, then a counted float list) in text and in binary laid out
    // as writers give them and otherwise: keys without values, single integer tokens, separators, a
    // time and count split over lists, several value-less keys in one list, 64-bit floats.
    const std::string templates =
        "template V { <00000000-0000-0000-0000-0000000000E9> DWORD n; array FLOAT f[n]; }\n"
        "template K { <00000000-0000-0000-0000-0000000000EA> DWORD t; V v; }\n"
        "template A { <00000000-0000-0000-0000-0000000000EB> DWORD type; DWORD keys; array K k[keys]; DWORD tail; }\n";
    struct Key {
        std::uint32_t time;
        std::vector<double> values;
    };
    const std::vector<Key> keys = {{0, {1, 2, 3, 4}}, {10, {}}, {20, {}}, {30, {0.5, -1.5, 2.25}}, {40, {8}}};
    std::string text = "xof 0303txt 0032\n" + templates + "A { 2; 5; ";
    for (const Key& key : keys) {
        text += std::to_string(key.time) + ";" + std::to_string(key.values.size()) + ";";
        for (std::size_t i = 0; i < key.values.size(); ++i)
            text += std::to_string(key.values[i]) + (i + 1 < key.values.size() ? "," : "");
        text += ";;,";
    }
    text.back() = ';';
    text += " 77; }\n";

    const std::string header = "xof 0303txt 0032\n" + templates;
    ComPtr<IDirectXFile> parser;
    ASSERT_EQ(DirectXFileCreate(parser.ReleaseAndGetAddressOf()), S_OK);
    ASSERT_EQ(parser->RegisterTemplates(const_cast<char*>(header.data()), DWORD(header.size())), S_OK);
    auto load = [&](const std::string& file, std::vector<std::uint8_t>* data) {
        ComPtr<IDirectXFileEnumObject> e;
        DXFILELOADMEMORY memory{const_cast<char*>(file.data()), DWORD(file.size())};
        const HRESULT hr = parser->CreateEnumObject(&memory, DXFILELOAD_FROMMEMORY, e.ReleaseAndGetAddressOf());
        ComPtr<IDirectXFileData> a;
        if (SUCCEEDED(hr) && SUCCEEDED(e->GetNextDataObject(a.ReleaseAndGetAddressOf()))) *data = DataOf(a.Get());
        return hr;
    };
    std::vector<std::uint8_t> expected;
    ASSERT_EQ(load(text, &expected), S_OK);
    ASSERT_EQ(expected.size(), 4u * (2 + 2 * keys.size() + 8 + 1));
    EXPECT_EQ(U32(expected, 8), 0u);
    EXPECT_EQ(U32(expected, 12), 4u);
    EXPECT_EQ(U32(expected, expected.size() - 4), 77u);

    // layout: 0 as writers give it, 1 each time and count as single integer tokens, 2 separators
    // between the lists, 3 the count in a list of its own, 4 value-less keys sharing one list, 5
    // values split over two float lists.
    auto binary = [&](int layout, unsigned floatSize) {
        BinaryWriter bin;
        bin.floatSize = floatSize;
        bin.bytes = floatSize == 4 ? "xof 0303bin 0032" : "xof 0303bin 0064";
        bin.Name("A");
        bin.Token(kOBrace);
        std::vector<std::uint32_t> pending = {2, 5};
        for (const Key& key : keys) {
            const std::uint32_t n = std::uint32_t(key.values.size());
            if (layout == 1) {
                if (!pending.empty()) bin.IntegerList(pending);
                pending.clear();
                bin.Integer(key.time);
                bin.Integer(n);
            } else if (layout == 3) {
                pending.push_back(key.time);
                bin.IntegerList(pending);
                pending = {n};
            } else {
                pending.push_back(key.time);
                pending.push_back(n);
            }
            if (n == 0 && layout == 4) continue;
            if (!pending.empty()) bin.IntegerList(pending);
            pending.clear();
            if (layout == 2) bin.Token(kSemicolon);
            if (n > 1 && layout == 5) {
                bin.FloatList(std::vector<double>(key.values.begin(), key.values.end() - 1));
                bin.FloatList({key.values.back()});
            } else if (n > 0) {
                bin.FloatList(key.values);
            }
            if (layout == 2) bin.Token(kComma);
        }
        pending.push_back(77);
        bin.IntegerList(pending);
        bin.Token(kCBrace);
        return bin.bytes;
    };
    for (unsigned floatSize : {4u, 8u}) {
        for (int layout = 0; layout <= 5; ++layout) {
            std::vector<std::uint8_t> data;
            EXPECT_EQ(load(binary(layout, floatSize), &data), S_OK) << layout << " " << floatSize;
            EXPECT_EQ(data, expected) << "layout " << layout << ", " << floatSize << "-byte floats";
        }
    }

    // Values of two keys in one float list, or a float list where a time belongs, fail as anywhere.
    for (int broken = 0; broken < 2; ++broken) {
        BinaryWriter bin;
        bin.bytes = "xof 0303bin 0032";
        bin.Name("A");
        bin.Token(kOBrace);
        bin.IntegerList({2, 2, 0, 1});
        bin.FloatList(broken == 0 ? std::vector<double>{1, 2} : std::vector<double>{1});
        if (broken == 1) bin.FloatList({5});
        bin.IntegerList({1, 0, 77});
        bin.Token(kCBrace);
        std::vector<std::uint8_t> data;
        EXPECT_EQ(load(bin.bytes, &data), DXFILEERR_PARSEERROR) << broken;
    }
}

TEST(XofFiles, LoadOptionsAndHeaders) {
    ComPtr<IDirectXFile> parser;
    ASSERT_EQ(DirectXFileCreate(parser.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<IDirectXFileEnumObject> e;
    const std::string path = SamplePath("scene_bzip.x");
    ASSERT_EQ(parser->CreateEnumObject(const_cast<char*>(path.c_str()), DXFILELOAD_FROMFILE, e.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(DumpAll(e.Get()).size(), 6u);
    const std::string missing = SamplePath("no_such_file.x");
    EXPECT_EQ(parser->CreateEnumObject(const_cast<char*>(missing.c_str()), DXFILELOAD_FROMFILE, e.ReleaseAndGetAddressOf()),
              DXFILEERR_FILENOTFOUND);
    EXPECT_FALSE(e);
    EXPECT_EQ(parser->CreateEnumObject(nullptr, DXFILELOAD_FROMMEMORY, e.ReleaseAndGetAddressOf()), DXFILEERR_BADVALUE);
    DXFILELOADRESOURCE resource{nullptr, "scene", "XFILE"};
    EXPECT_EQ(parser->CreateEnumObject(&resource, DXFILELOAD_FROMRESOURCE, e.ReleaseAndGetAddressOf()), DXFILEERR_RESOURCENOTFOUND);
    EXPECT_EQ(parser->CreateSaveObject("out.x", DXFILEFORMAT_TEXT, nullptr), E_NOTIMPL);

    const std::pair<const char*, HRESULT> headers[] = {
        {"xof 0303txt 0032", S_OK},
        {"xof 0302bin 0064", S_OK},
        {"xof 0304txt 0032", DXFILEERR_BADFILEVERSION},
        {"xof 0203txt 0032", DXFILEERR_BADFILEVERSION},
        {"xof 0303txt 0016", DXFILEERR_BADFILEFLOATSIZE},
        {"xof 0303com 0032", DXFILEERR_BADFILECOMPRESSIONTYPE},
        {"xof 0303abc 0032", DXFILEERR_BADFILETYPE},
        {"XOF 0303txt 0032", DXFILEERR_BADFILETYPE},
        {"xof 0303txt", DXFILEERR_BADFILETYPE},
        {"", DXFILEERR_BADFILETYPE},
    };
    for (auto [header, expected] : headers) {
        SCOPED_TRACE(header);
        EXPECT_EQ(Open(header, e), expected);
    }
}
