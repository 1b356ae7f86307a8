// declaration_test.cpp: vertex-format codes to declarations and back, sizes, validity and the
// conversion of element values between declaration types.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "library/mesh/vertex_declaration.h"

namespace qm {
namespace {

using Element = D3DVERTEXELEMENT9;

bool Same(const Element& a, const Element& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The vertex size of a vertex-format code, summed from the format's own rules.
UINT FvfSize(DWORD fvf) {
    static constexpr UINT kPositionBytes[8] = {0, 12, 16, 16, 20, 24, 28, 32};  // by (fvf & 0xE) / 2
    UINT size = kPositionBytes[(fvf & 0xE) >> 1];
    if (fvf & D3DFVF_NORMAL) size += 12;
    if (fvf & D3DFVF_PSIZE) size += 4;
    if (fvf & D3DFVF_DIFFUSE) size += 4;
    if (fvf & D3DFVF_SPECULAR) size += 4;
    static constexpr UINT kSetBytes[4] = {8, 12, 16, 4};
    for (DWORD set = 0; set < ((fvf >> 8) & 0xF); ++set) size += kSetBytes[(fvf >> (16 + 2 * set)) & 3];
    return size;
}

TEST(Declaration, PositionNormalOneTextureSet) {
    Element declaration[kMaxDeclarationElements];
    ASSERT_EQ(DeclarationFromFVF(0x112, declaration), D3D_OK);
    const Element expected[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                {0, 12, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_NORMAL, 0},
                                {0, 24, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 0},
                                {0xFF, 0, D3DDECLTYPE_UNUSED, 0, 0, 0}};
    ASSERT_EQ(DeclarationLength(declaration), 3u);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(Same(declaration[i], expected[i])) << "element " << i;
    EXPECT_EQ(DeclarationVertexSize(declaration, 0), 32u);
    EXPECT_TRUE(IsValidDeclaration(declaration));
}

TEST(Declaration, BlendWeightsAndLastWeightIndices) {
    Element d[kMaxDeclarationElements];
    // Three weights, the last holding colour-ordered indices: two weight floats, then the indices.
    ASSERT_EQ(DeclarationFromFVF(D3DFVF_XYZB3 | D3DFVF_LASTBETA_D3DCOLOR | D3DFVF_NORMAL, d), D3D_OK);
    ASSERT_EQ(DeclarationLength(d), 4u);
    EXPECT_TRUE(Same(d[1], Element{0, 12, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_BLENDWEIGHT, 0}));
    EXPECT_TRUE(Same(d[2], Element{0, 20, D3DDECLTYPE_D3DCOLOR, 0, D3DDECLUSAGE_BLENDINDICES, 0}));
    EXPECT_TRUE(Same(d[3], Element{0, 24, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_NORMAL, 0}));
    // One weight with byte indices: no weight element at all.
    ASSERT_EQ(DeclarationFromFVF(D3DFVF_XYZB1 | D3DFVF_LASTBETA_UBYTE4, d), D3D_OK);
    ASSERT_EQ(DeclarationLength(d), 2u);
    EXPECT_TRUE(Same(d[1], Element{0, 12, D3DDECLTYPE_UBYTE4, 0, D3DDECLUSAGE_BLENDINDICES, 0}));
    // Refused: five weights without a last-weight flag, reserved bits, more than 8 texture sets.
    for (DWORD code : {DWORD{D3DFVF_XYZB5}, 0x1u, 0x2002u, DWORD{D3DFVF_XYZW}, 0x902u})
        EXPECT_EQ(DeclarationFromFVF(code, d), D3DERR_INVALIDCALL) << std::hex << code;
    ASSERT_EQ(DeclarationFromFVF(D3DFVF_XYZB5 | D3DFVF_LASTBETA_UBYTE4, d), D3D_OK);
    EXPECT_TRUE(Same(d[1], Element{0, 12, D3DDECLTYPE_FLOAT4, 0, D3DDECLUSAGE_BLENDWEIGHT, 0}));
    // Four plain weights.
    ASSERT_EQ(DeclarationFromFVF(D3DFVF_XYZB4, d), D3D_OK);
    EXPECT_TRUE(Same(d[1], Element{0, 12, D3DDECLTYPE_FLOAT4, 0, D3DDECLUSAGE_BLENDWEIGHT, 0}));
    EXPECT_EQ(DeclarationVertexSize(d, 0), 28u);
    // Transformed positions take four floats; colours carry usage indices 0 and 1.
    ASSERT_EQ(DeclarationFromFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_PSIZE, d), D3D_OK);
    EXPECT_TRUE(Same(d[0], Element{0, 0, D3DDECLTYPE_FLOAT4, 0, D3DDECLUSAGE_POSITIONT, 0}));
    EXPECT_TRUE(Same(d[1], Element{0, 16, D3DDECLTYPE_FLOAT1, 0, D3DDECLUSAGE_PSIZE, 0}));
    EXPECT_TRUE(Same(d[2], Element{0, 20, D3DDECLTYPE_D3DCOLOR, 0, D3DDECLUSAGE_COLOR, 0}));
    EXPECT_TRUE(Same(d[3], Element{0, 24, D3DDECLTYPE_D3DCOLOR, 0, D3DDECLUSAGE_COLOR, 1}));
}

TEST(Declaration, EveryCanonicalCodeRoundTrips) {
    // Positions with their weight variants, every combination of the four single-bit parts, and
    // texture counts 0 to 8 with varied set sizes.
    std::vector<DWORD> positions = {0, D3DFVF_XYZ, D3DFVF_XYZRHW};
    for (DWORD b = 1; b <= 4; ++b) positions.push_back(D3DFVF_XYZRHW + 2 * b);  // XYZB1 to XYZB4
    for (DWORD b = 1; b <= 5; ++b) {
        positions.push_back((D3DFVF_XYZRHW + 2 * b) | D3DFVF_LASTBETA_UBYTE4);
        positions.push_back((D3DFVF_XYZRHW + 2 * b) | D3DFVF_LASTBETA_D3DCOLOR);
    }
    int checked = 0;
    for (DWORD position : positions) {
        for (DWORD parts = 0; parts < 16; ++parts) {
            for (DWORD sets = 0; sets <= 8; ++sets) {
                DWORD code = position | (parts << 4) | (sets << 8);
                for (DWORD s = 0; s < sets; ++s) code |= ((s + parts) % 4) << (16 + 2 * s);
                Element d[kMaxDeclarationElements];
                ASSERT_EQ(DeclarationFromFVF(code, d), D3D_OK) << std::hex << code;
                EXPECT_EQ(DeclarationVertexSize(d, 0), FvfSize(code)) << std::hex << code;
                EXPECT_TRUE(IsValidDeclaration(d));
                DWORD back = 0xDEAD;
                EXPECT_EQ(FVFFromDeclaration(d, &back), D3D_OK) << std::hex << code;
                EXPECT_EQ(back, code);
                ++checked;
            }
        }
    }
    EXPECT_EQ(checked, 17 * 16 * 9);
}

TEST(Declaration, DeclarationsWithoutACodeGiveZero) {
    const Element gapAfterPosition[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                        {0, 16, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_NORMAL, 0},
                                        D3DDECL_END()};
    const Element secondSetOnly[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                     {0, 12, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 1},
                                     D3DDECL_END()};
    const Element halfNormal[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                  {0, 12, D3DDECLTYPE_FLOAT16_4, 0, D3DDECLUSAGE_NORMAL, 0},
                                  D3DDECL_END()};
    const Element normalFirst[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_NORMAL, 0},
                                   {0, 12, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                   D3DDECL_END()};
    for (const Element* d : {gapAfterPosition, secondSetOnly, halfNormal, normalFirst}) {
        DWORD code = 0x1234;
        EXPECT_EQ(FVFFromDeclaration(d, &code), D3DERR_INVALIDCALL);
        EXPECT_EQ(code, 0u);
    }
}

TEST(Declaration, ValidityEqualityAndSize) {
    const Element empty[] = {D3DDECL_END()};
    EXPECT_TRUE(IsValidDeclaration(empty));
    EXPECT_EQ(DeclarationVertexSize(empty, 0), 0u);
    EXPECT_FALSE(IsValidDeclaration(nullptr));

    const Element overlap[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                               {0, 8, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_NORMAL, 0},
                               D3DDECL_END()};
    EXPECT_FALSE(IsValidDeclaration(overlap));
    const Element otherStream[] = {{1, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
    EXPECT_FALSE(IsValidDeclaration(otherStream));
    EXPECT_EQ(DeclarationVertexSize(otherStream, 1), 12u);
    EXPECT_EQ(DeclarationVertexSize(otherStream, 0), 0u);

    // An element of method 4 is generated, takes no room and is not checked for overlap.
    const Element generated[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                 {0, 4, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_UV, D3DDECLUSAGE_TEXCOORD, 0},
                                 D3DDECL_END()};
    EXPECT_TRUE(IsValidDeclaration(generated));
    EXPECT_EQ(DeclarationVertexSize(generated, 0), 12u);

    // No end marker within 65 elements.
    std::vector<Element> endless(70, Element{0, 0, D3DDECLTYPE_FLOAT1, D3DDECLMETHOD_UV, D3DDECLUSAGE_FOG, 0});
    EXPECT_FALSE(IsValidDeclaration(endless.data()));

    Element a[kMaxDeclarationElements], b[kMaxDeclarationElements];
    ASSERT_EQ(DeclarationFromFVF(0x252, a), D3D_OK);
    ASSERT_EQ(DeclarationFromFVF(0x252, b), D3D_OK);
    EXPECT_TRUE(DeclarationsEqual(a, b));
    b[2].UsageIndex = 1;
    EXPECT_FALSE(DeclarationsEqual(a, b));
    ASSERT_EQ(DeclarationFromFVF(0x152, b), D3D_OK);  // one set fewer: ends earlier
    EXPECT_FALSE(DeclarationsEqual(a, b));
    EXPECT_EQ(DeclarationLength(a), 5u);
}

TEST(Declaration, ElementValuesConvertBetweenTypes) {
    BYTE bytes[16];
    float v[4];
    // A colour word 0x80FF4000 (alpha 0x80, red 0xFF, green 0x40, blue 0): red first when read.
    const DWORD colour = 0x80FF4000;
    std::memcpy(bytes, &colour, 4);
    ReadDeclarationElement(D3DDECLTYPE_D3DCOLOR, bytes, v);
    EXPECT_FLOAT_EQ(v[0], 1.0f);
    EXPECT_FLOAT_EQ(v[1], 64.0f / 255.0f);
    EXPECT_FLOAT_EQ(v[2], 0.0f);
    EXPECT_FLOAT_EQ(v[3], 128.0f / 255.0f);
    // UDEC3: three unsigned 10-bit fields; DEC3N: signed fields over 511.
    const float udec[4] = {1.0f, 1023.0f, 2000.0f, 7.0f};
    WriteDeclarationElement(D3DDECLTYPE_UDEC3, udec, bytes);
    DWORD word;
    std::memcpy(&word, bytes, 4);
    EXPECT_EQ(word, 1u | (1023u << 10) | (1023u << 20));
    const float dec[4] = {-1.0f, 0.5f, 0.0f, 0.0f};
    WriteDeclarationElement(D3DDECLTYPE_DEC3N, dec, bytes);
    std::memcpy(&word, bytes, 4);
    EXPECT_EQ(word, (0x3FFu & static_cast<DWORD>(-511)) | (256u << 10));
    ReadDeclarationElement(D3DDECLTYPE_DEC3N, bytes, v);
    EXPECT_FLOAT_EQ(v[0], -1.0f);
    EXPECT_FLOAT_EQ(v[1], 256.0f / 511.0f);
    EXPECT_EQ(v[3], 1.0f);

}

}  // namespace
}  // namespace qm
