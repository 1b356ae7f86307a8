// declaration_test.cpp: vertex declarations: creation checks, the element list handed back, the
// declaration SetFVF makes, elements spread over two streams, the numeric decoding of the
// declaration types (seen through the diffuse colour), and draws refused when a stream is short.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/platform/d3d9/raster_test_support.h"

namespace {

using rastertest::Canvas;
using rastertest::Channel;

D3DVERTEXELEMENT9 El(WORD stream, WORD offset, BYTE type, BYTE usage, BYTE index = 0) {
    return D3DVERTEXELEMENT9{stream, offset, type, D3DDECLMETHOD_DEFAULT, usage, index};
}

ComPtr<IDirect3DVertexBuffer9> Buffer(IDirect3DDevice9* device, const void* data, UINT bytes) {
    ComPtr<IDirect3DVertexBuffer9> vb;
    EXPECT_EQ(device->CreateVertexBuffer(bytes, 0, 0, D3DPOOL_MANAGED, vb.ReleaseAndGetAddressOf(), nullptr), D3D_OK);
    void* p = nullptr;
    vb->Lock(0, 0, &p, 0);
    std::memcpy(p, data, bytes);
    vb->Unlock();
    return vb;
}

TEST(D3d9Declarations, CreationChecksAndTheElementsHandedBack) {
    Canvas canvas(4, 4);
    IDirect3DDevice9* d = canvas.Device();
    const D3DVERTEXELEMENT9 good[] = {El(0, 0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION),
                                      El(1, 0, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR), D3DDECL_END()};
    ComPtr<IDirect3DVertexDeclaration9> decl;
    ASSERT_EQ(d->CreateVertexDeclaration(good, decl.ReleaseAndGetAddressOf()), D3D_OK);
    UINT count = 0;
    ASSERT_EQ(decl->GetDeclaration(nullptr, &count), D3D_OK);
    EXPECT_EQ(count, 3u);
    D3DVERTEXELEMENT9 back[3];
    decl->GetDeclaration(back, &count);
    EXPECT_EQ(std::memcmp(back, good, sizeof good), 0);

    const D3DVERTEXELEMENT9 badType[] = {El(0, 0, 17, D3DDECLUSAGE_POSITION), D3DDECL_END()};
    const D3DVERTEXELEMENT9 twice[] = {El(0, 0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION),
                                       El(0, 12, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION), D3DDECL_END()};
    const D3DVERTEXELEMENT9 farStream[] = {El(16, 0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION), D3DDECL_END()};
    for (const D3DVERTEXELEMENT9* bad : {badType, twice, farStream}) {
        ComPtr<IDirect3DVertexDeclaration9> none;
        EXPECT_EQ(d->CreateVertexDeclaration(bad, none.ReleaseAndGetAddressOf()), D3DERR_INVALIDCALL);
        EXPECT_EQ(none.Get(), nullptr);
    }
    std::vector<D3DVERTEXELEMENT9> endless(MAXD3DDECLLENGTH + 1, El(0, 0, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_TANGENT));
    ComPtr<IDirect3DVertexDeclaration9> none;
    EXPECT_EQ(d->CreateVertexDeclaration(endless.data(), none.ReleaseAndGetAddressOf()), D3DERR_INVALIDCALL);

    // SetFVF sets a declaration of the format; setting a declaration clears the format word.
    d->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    ComPtr<IDirect3DVertexDeclaration9> fromFvf;
    ASSERT_EQ(d->GetVertexDeclaration(fromFvf.ReleaseAndGetAddressOf()), D3D_OK);
    ASSERT_TRUE(fromFvf);
    fromFvf->GetDeclaration(nullptr, &count);
    ASSERT_EQ(count, 4u);
    D3DVERTEXELEMENT9 fvfElements[4];
    fromFvf->GetDeclaration(fvfElements, &count);
    const D3DVERTEXELEMENT9 expected[] = {El(0, 0, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITIONT),
                                          El(0, 16, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR),
                                          El(0, 20, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD), D3DDECL_END()};
    EXPECT_EQ(std::memcmp(fvfElements, expected, sizeof expected), 0);
    d->SetVertexDeclaration(decl.Get());
    DWORD fvf = 1;
    d->GetFVF(&fvf);
    EXPECT_EQ(fvf, 0u);
    ComPtr<IDirect3DVertexDeclaration9> current;
    d->GetVertexDeclaration(current.ReleaseAndGetAddressOf());
    EXPECT_EQ(current.Get(), decl.Get());
}

TEST(D3d9Declarations, ElementsFromTwoStreamsAndEveryColourDecoding) {
    Canvas canvas(4, 4);
    IDirect3DDevice9* d = canvas.Device();
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    const float positions[4][4] = {{0, 0, 0, 1}, {4, 0, 0, 1}, {0, 4, 0, 1}, {4, 4, 0, 1}};
    ComPtr<IDirect3DVertexBuffer9> place = Buffer(d, positions, sizeof positions);

    struct Case {
        BYTE type;
        std::vector<std::uint8_t> bytes;  // one vertex's colour element
        int r, g, b;                      // expected bytes
    };
    auto halves = [](std::initializer_list<std::uint16_t> h) {
        std::vector<std::uint8_t> v;
        for (std::uint16_t x : h) v.insert(v.end(), {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(x >> 8)});
        return v;
    };
    const std::vector<Case> cases = {
        {D3DDECLTYPE_D3DCOLOR, {0x30, 0x20, 0x10, 0xFF}, 0x10, 0x20, 0x30},         // B, G, R, A in memory
        {D3DDECLTYPE_UBYTE4N, {0x10, 0x20, 0x30, 0xFF}, 0x10, 0x20, 0x30},          // R, G, B, A in memory
        {D3DDECLTYPE_FLOAT4, {0, 0, 0x80, 0x3E, 0, 0, 0x40, 0x3F, 0, 0, 0x80, 0x3F, 0, 0, 0x80, 0x3F}, 64, 191, 255},
        {D3DDECLTYPE_FLOAT16_4, halves({0x3400, 0x3A00, 0x3C00, 0x3C00}), 64, 191, 255},  // 0.25 0.75 1 1
        {D3DDECLTYPE_SHORT4N, halves({8192, 0x8000, 32767, 32767}), 64, 0, 255},          // 0.25, -1 (0), 1
        {D3DDECLTYPE_USHORT4N, halves({16384, 0, 65535, 65535}), 64, 0, 255},
        // 10-bit fields x, y, z from bit 0. DEC3N: 255/511, then -511 and -1 (negative: black, where a
        // field read without its sign would be bright). UDEC3 is not normalised: 1 is full.
        {D3DDECLTYPE_DEC3N, {0xFF, 0x04, 0xF8, 0x3F}, 127, 0, 0},
        {D3DDECLTYPE_UDEC3, {0x01, 0x00, 0x00, 0x00}, 255, 0, 0},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> colours;
        for (int v = 0; v < 4; ++v) colours.insert(colours.end(), c.bytes.begin(), c.bytes.end());
        ComPtr<IDirect3DVertexBuffer9> paint = Buffer(d, colours.data(), static_cast<UINT>(colours.size()));
        const D3DVERTEXELEMENT9 elements[] = {El(0, 0, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITIONT),
                                              El(1, 0, c.type, D3DDECLUSAGE_COLOR), D3DDECL_END()};
        ComPtr<IDirect3DVertexDeclaration9> decl;
        ASSERT_EQ(d->CreateVertexDeclaration(elements, decl.ReleaseAndGetAddressOf()), D3D_OK);
        d->SetVertexDeclaration(decl.Get());
        d->SetStreamSource(0, place.Get(), 0, 16);
        d->SetStreamSource(1, paint.Get(), 0, static_cast<UINT>(c.bytes.size()));
        canvas.Clear(0xFF000000u);
        d->BeginScene();
        EXPECT_EQ(d->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
        // Stream 1 shorter than four vertices, or unbound: refused.
        d->SetStreamSource(1, paint.Get(), static_cast<UINT>(c.bytes.size()), static_cast<UINT>(c.bytes.size()));
        EXPECT_EQ(d->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3DERR_INVALIDCALL);
        d->SetStreamSource(1, nullptr, 0, 0);
        EXPECT_EQ(d->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3DERR_INVALIDCALL);
        d->EndScene();
        std::uint32_t p = canvas.Pixel(2, 2);
        EXPECT_NEAR(Channel(p, 2), c.r, 1) << "type " << int{c.type};
        EXPECT_NEAR(Channel(p, 1), c.g, 1) << "type " << int{c.type};
        EXPECT_NEAR(Channel(p, 0), c.b, 1) << "type " << int{c.type};
    }
}

}  // namespace
