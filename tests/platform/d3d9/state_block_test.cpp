// state_block_test.cpp: state blocks: recording exactly the states set between BeginStateBlock and
// EndStateBlock, Capture and Apply, and the states of the ALL, PIXELSTATE and VERTEXSTATE blocks.
#include <gtest/gtest.h>

#include "platform/d3d9/d3d9.h"
#include "tests/platform/d3d9/d3d9_test_support.h"

namespace {

using d3d9test::CapturingWindow;
using d3d9test::MakeDevice;

DWORD RenderState(IDirect3DDevice9* d, D3DRENDERSTATETYPE s) {
    DWORD v = 0xDEADBEEF;
    EXPECT_EQ(d->GetRenderState(s, &v), D3D_OK);
    return v;
}
DWORD StageState(IDirect3DDevice9* d, DWORD stage, D3DTEXTURESTAGESTATETYPE s) {
    DWORD v = 0xDEADBEEF;
    EXPECT_EQ(d->GetTextureStageState(stage, s, &v), D3D_OK);
    return v;
}
DWORD SamplerState(IDirect3DDevice9* d, DWORD sampler, D3DSAMPLERSTATETYPE s) {
    DWORD v = 0xDEADBEEF;
    EXPECT_EQ(d->GetSamplerState(sampler, s, &v), D3D_OK);
    return v;
}
float WorldX(IDirect3DDevice9* d) {
    D3DMATRIX m;
    EXPECT_EQ(d->GetTransform(D3DTS_WORLD, &m), D3D_OK);
    return m._41;
}
D3DMATRIX Translation(float x) {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    m._41 = x;
    return m;
}
IDirect3DBaseTexture9* BoundTexture(IDirect3DDevice9* d, DWORD stage) {
    ComPtr<IDirect3DBaseTexture9> t;
    d->GetTexture(stage, t.ReleaseAndGetAddressOf());
    return t.Get();  // still held by the device when bound
}
D3DLIGHT9 PointLight(float range) {
    D3DLIGHT9 l{};
    l.Type = D3DLIGHT_POINT;
    l.Diffuse = {1, 1, 1, 1};
    l.Range = range;
    l.Attenuation0 = 1.0f;
    return l;
}

TEST(D3d9StateBlocks, RecordingCapturesExactlyTheStatesSet) {
    CapturingWindow window;
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    IDirect3DDevice9* d = device.Get();
    ComPtr<IDirect3DTexture9> texture;
    ASSERT_EQ(d->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, texture.ReleaseAndGetAddressOf(), nullptr),
              D3D_OK);
    ComPtr<IDirect3DVertexBuffer9> vb;
    ASSERT_EQ(d->CreateVertexBuffer(112, 0, 0, D3DPOOL_MANAGED, vb.ReleaseAndGetAddressOf(), nullptr), D3D_OK);

    ASSERT_EQ(d->BeginStateBlock(), D3D_OK);
    EXPECT_EQ(d->BeginStateBlock(), D3DERR_INVALIDCALL);  // blocks do not nest
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD);
    d->SetSamplerState(2, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    D3DMATRIX world = Translation(5.0f);
    d->SetTransform(D3DTS_WORLD, &world);
    d->SetTexture(0, texture.Get());
    d->SetStreamSource(1, vb.Get(), 4, 28);
    d->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
    D3DLIGHT9 light = PointLight(7.0f);
    d->SetLight(3, &light);
    d->LightEnable(5, TRUE);
    // Recording leaves the device's state as it was.
    EXPECT_EQ(RenderState(d, D3DRS_ALPHABLENDENABLE), static_cast<DWORD>(FALSE));
    EXPECT_EQ(StageState(d, 1, D3DTSS_COLOROP), static_cast<DWORD>(D3DTOP_DISABLE));
    EXPECT_EQ(WorldX(d), 0.0f);
    EXPECT_EQ(BoundTexture(d, 0), nullptr);
    D3DLIGHT9 got;
    EXPECT_EQ(d->GetLight(3, &got), D3DERR_INVALIDCALL);
    ComPtr<IDirect3DStateBlock9> block;
    ASSERT_EQ(d->EndStateBlock(block.ReleaseAndGetAddressOf()), D3D_OK);
    ASSERT_TRUE(block);
    ComPtr<IDirect3DStateBlock9> unused;
    EXPECT_EQ(d->EndStateBlock(unused.ReleaseAndGetAddressOf()), D3DERR_INVALIDCALL);
    EXPECT_EQ(unused.Get(), nullptr);
    EXPECT_EQ(d->EndStateBlock(nullptr), D3DERR_INVALIDCALL);

    // States outside the block are not touched by Apply.
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    ASSERT_EQ(block->Apply(), D3D_OK);
    EXPECT_EQ(RenderState(d, D3DRS_ALPHABLENDENABLE), static_cast<DWORD>(TRUE));
    EXPECT_EQ(StageState(d, 1, D3DTSS_COLOROP), static_cast<DWORD>(D3DTOP_ADD));
    EXPECT_EQ(SamplerState(d, 2, D3DSAMP_ADDRESSU), static_cast<DWORD>(D3DTADDRESS_CLAMP));
    EXPECT_EQ(WorldX(d), 5.0f);
    EXPECT_EQ(BoundTexture(d, 0), static_cast<IDirect3DBaseTexture9*>(texture.Get()));
    ComPtr<IDirect3DVertexBuffer9> stream;
    UINT offset = 0, stride = 0;
    d->GetStreamSource(1, stream.ReleaseAndGetAddressOf(), &offset, &stride);
    EXPECT_EQ(stream.Get(), vb.Get());
    EXPECT_EQ(offset, 4u);
    EXPECT_EQ(stride, 28u);
    DWORD fvf = 0;
    d->GetFVF(&fvf);
    EXPECT_EQ(fvf, static_cast<DWORD>(D3DFVF_XYZ | D3DFVF_DIFFUSE));
    ASSERT_EQ(d->GetLight(3, &got), D3D_OK);
    EXPECT_EQ(got.Range, 7.0f);
    BOOL enabled = FALSE;
    ASSERT_EQ(d->GetLightEnable(5, &enabled), D3D_OK);  // made as the default light, then enabled
    EXPECT_TRUE(enabled);
    EXPECT_EQ(RenderState(d, D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_NONE));
    EXPECT_EQ(StageState(d, 1, D3DTSS_COLORARG1), D3DTA_DIFFUSE);
    EXPECT_EQ(StageState(d, 1, D3DTSS_ALPHAOP), static_cast<DWORD>(D3DTOP_DISABLE));

    // Capture takes the current values of the block's states only.
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    world = Translation(-2.0f);
    d->SetTransform(D3DTS_WORLD, &world);
    ASSERT_EQ(block->Capture(), D3D_OK);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    world = Translation(9.0f);
    d->SetTransform(D3DTS_WORLD, &world);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    block->Apply();
    EXPECT_EQ(RenderState(d, D3DRS_ALPHABLENDENABLE), static_cast<DWORD>(FALSE));
    EXPECT_EQ(WorldX(d), -2.0f);
    EXPECT_EQ(RenderState(d, D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_CW));

    // Capture and Apply are refused while another block records.
    d->BeginStateBlock();
    EXPECT_EQ(block->Capture(), D3DERR_INVALIDCALL);
    EXPECT_EQ(block->Apply(), D3DERR_INVALIDCALL);
    d->EndStateBlock(unused.ReleaseAndGetAddressOf());

    // The block holds what it bound; with the device gone it can do nothing.
    d->SetTexture(0, nullptr);
    texture.Reset();
    block->Apply();
    EXPECT_NE(BoundTexture(d, 0), nullptr);
    device.Reset();
    EXPECT_EQ(block->Apply(), D3DERR_INVALIDCALL);
}

TEST(D3d9StateBlocks, CreatedBlocksHoldThePlatformsStateLists) {
    CapturingWindow window;
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    IDirect3DDevice9* d = device.Get();
    ComPtr<IDirect3DTexture9> texture;
    d->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, texture.ReleaseAndGetAddressOf(), nullptr);

    // A configuration, then every kind of block over it.
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 3);
    d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    D3DMATRIX world = Translation(1.0f);
    d->SetTransform(D3DTS_WORLD, &world);
    d->SetTexture(0, texture.Get());
    D3DLIGHT9 light = PointLight(3.0f);
    d->SetLight(0, &light);
    d->LightEnable(0, TRUE);
    d->SetFVF(D3DFVF_XYZRHW);
    D3DVIEWPORT9 viewport{10, 20, 30, 40, 0.25f, 0.75f};
    d->SetViewport(&viewport);

    ComPtr<IDirect3DStateBlock9> all, pixel, vertex;
    ASSERT_EQ(d->CreateStateBlock(D3DSBT_ALL, all.ReleaseAndGetAddressOf()), D3D_OK);
    ASSERT_EQ(d->CreateStateBlock(D3DSBT_PIXELSTATE, pixel.ReleaseAndGetAddressOf()), D3D_OK);
    ASSERT_EQ(d->CreateStateBlock(D3DSBT_VERTEXSTATE, vertex.ReleaseAndGetAddressOf()), D3D_OK);
    EXPECT_EQ(d->CreateStateBlock(static_cast<D3DSTATEBLOCKTYPE>(4), pixel.ReleaseAndGetAddressOf()),
              D3DERR_INVALIDCALL);
    ASSERT_EQ(d->CreateStateBlock(D3DSBT_PIXELSTATE, pixel.ReleaseAndGetAddressOf()), D3D_OK);

    auto scramble = [&] {
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        d->SetRenderState(D3DRS_LIGHTING, TRUE);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
        d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
        D3DMATRIX other = Translation(8.0f);
        d->SetTransform(D3DTS_WORLD, &other);
        d->SetTexture(0, nullptr);
        d->LightEnable(0, FALSE);
        d->SetFVF(D3DFVF_XYZ);
        D3DVIEWPORT9 small{0, 0, 8, 8, 0.0f, 1.0f};
        d->SetViewport(&small);
    };

    // Pixel states: blending, stage colour operations, sampler filters; not culling, lighting,
    // transforms, textures, lights or the vertex format.
    scramble();
    ASSERT_EQ(pixel->Apply(), D3D_OK);
    EXPECT_EQ(RenderState(d, D3DRS_ALPHABLENDENABLE), static_cast<DWORD>(TRUE));
    EXPECT_EQ(StageState(d, 0, D3DTSS_COLOROP), static_cast<DWORD>(D3DTOP_SELECTARG2));
    EXPECT_EQ(SamplerState(d, 0, D3DSAMP_MINFILTER), static_cast<DWORD>(D3DTEXF_LINEAR));
    EXPECT_EQ(RenderState(d, D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_NONE));
    EXPECT_EQ(RenderState(d, D3DRS_LIGHTING), static_cast<DWORD>(TRUE));
    EXPECT_EQ(WorldX(d), 8.0f);
    EXPECT_EQ(BoundTexture(d, 0), nullptr);

    // Vertex states: culling, lighting, coordinate indices, lights, the vertex format; not blending.
    scramble();
    ASSERT_EQ(vertex->Apply(), D3D_OK);
    EXPECT_EQ(RenderState(d, D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_CW));
    EXPECT_EQ(RenderState(d, D3DRS_LIGHTING), static_cast<DWORD>(FALSE));
    EXPECT_EQ(StageState(d, 0, D3DTSS_TEXCOORDINDEX), 3u);
    BOOL enabled = FALSE;
    d->GetLightEnable(0, &enabled);
    EXPECT_TRUE(enabled);
    DWORD fvf = 0;
    d->GetFVF(&fvf);
    EXPECT_EQ(fvf, static_cast<DWORD>(D3DFVF_XYZRHW));
    EXPECT_EQ(RenderState(d, D3DRS_ALPHABLENDENABLE), static_cast<DWORD>(FALSE));
    EXPECT_EQ(StageState(d, 0, D3DTSS_COLOROP), static_cast<DWORD>(D3DTOP_MODULATE));
    EXPECT_EQ(WorldX(d), 8.0f);

    // Everything.
    scramble();
    ASSERT_EQ(all->Apply(), D3D_OK);
    EXPECT_EQ(RenderState(d, D3DRS_ALPHABLENDENABLE), static_cast<DWORD>(TRUE));
    EXPECT_EQ(RenderState(d, D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_CW));
    EXPECT_EQ(StageState(d, 0, D3DTSS_TEXCOORDINDEX), 3u);
    EXPECT_EQ(WorldX(d), 1.0f);
    EXPECT_EQ(BoundTexture(d, 0), static_cast<IDirect3DBaseTexture9*>(texture.Get()));
    D3DVIEWPORT9 got;
    d->GetViewport(&got);
    EXPECT_EQ(got.X, 10u);
    EXPECT_EQ(got.MaxZ, 0.75f);
}

TEST(D3d9StateBlocks, TheVertexDeclarationTravelsWithTheVertexFormat) {
    CapturingWindow window;
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    IDirect3DDevice9* d = device.Get();
    const D3DVERTEXELEMENT9 elements[] = {{0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITIONT, 0},
                                          D3DDECL_END()};
    ComPtr<IDirect3DVertexDeclaration9> declaration;
    ASSERT_EQ(d->CreateVertexDeclaration(elements, declaration.ReleaseAndGetAddressOf()), D3D_OK);
    d->BeginStateBlock();
    d->SetVertexDeclaration(declaration.Get());
    ComPtr<IDirect3DStateBlock9> block;
    ASSERT_EQ(d->EndStateBlock(block.ReleaseAndGetAddressOf()), D3D_OK);
    d->SetFVF(D3DFVF_XYZ);
    ASSERT_EQ(block->Apply(), D3D_OK);
    ComPtr<IDirect3DVertexDeclaration9> got;
    ASSERT_EQ(d->GetVertexDeclaration(got.ReleaseAndGetAddressOf()), D3D_OK);
    EXPECT_EQ(got.Get(), declaration.Get());

    // A vertex-state block taken now gives the declaration back after another format is set.
    ComPtr<IDirect3DStateBlock9> vertex;
    ASSERT_EQ(d->CreateStateBlock(D3DSBT_VERTEXSTATE, vertex.ReleaseAndGetAddressOf()), D3D_OK);
    d->SetFVF(D3DFVF_XYZRHW);
    vertex->Apply();
    d->GetVertexDeclaration(got.ReleaseAndGetAddressOf());
    EXPECT_EQ(got.Get(), declaration.Get());
}

}  // namespace
