// texture_test.cpp: texture and surface resources of the software device: creation checks and level
// sizes, lock rectangles (block rules), the copies between pools, format support answers and devices
// with a reduced capability record.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/d3d9/caps.h"
#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/diagnostics.h"
#include "tests/platform/d3d9/d3d9_test_support.h"

namespace {

using d3d9test::CapturingWindow;
using d3d9test::MakeDevice;

ULONG Count(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

ComPtr<IDirect3DTexture9> MakeTexture(IDirect3DDevice9* device, UINT w, UINT h, UINT levels, DWORD usage,
                                      D3DFORMAT format, D3DPOOL pool, HRESULT expected = D3D_OK) {
    ComPtr<IDirect3DTexture9> texture;
    EXPECT_EQ(device->CreateTexture(w, h, levels, usage, format, pool, texture.ReleaseAndGetAddressOf(), nullptr),
              expected)
        << w << "x" << h << " levels " << levels << " usage " << usage << " format " << format << " pool " << pool;
    return texture;
}

// Writes value(x, y) into every pixel of a 32-bit surface.
template <class F>
void Fill32(IDirect3DSurface9* surface, F value) {
    D3DSURFACE_DESC desc;
    surface->GetDesc(&desc);
    D3DLOCKED_RECT locked;
    ASSERT_EQ(surface->LockRect(&locked, nullptr, 0), D3D_OK);
    for (UINT y = 0; y < desc.Height; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(static_cast<std::byte*>(locked.pBits) + y * locked.Pitch);
        for (UINT x = 0; x < desc.Width; ++x) row[x] = value(x, y);
    }
    surface->UnlockRect();
}

std::uint32_t Read32(IDirect3DSurface9* surface, UINT x, UINT y) {
    D3DLOCKED_RECT locked;
    EXPECT_EQ(surface->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    std::uint32_t v;
    std::memcpy(&v, static_cast<std::byte*>(locked.pBits) + y * locked.Pitch + x * 4, 4);
    surface->UnlockRect();
    return v;
}

TEST(D3d9Textures, CreationGivesTheChainOfLevelSizes) {
    CapturingWindow window;
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    // Level 0 of a 300 x 20 texture, then halving with a floor of 1 on each side: 9 levels.
    ComPtr<IDirect3DTexture9> t = MakeTexture(device.Get(), 300, 20, 0, 0, D3DFMT_R5G6B5, D3DPOOL_MANAGED);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->GetLevelCount(), 9u);
    const UINT widths[] = {300, 150, 75, 37, 18, 9, 4, 2, 1};
    const UINT heights[] = {20, 10, 5, 2, 1, 1, 1, 1, 1};
    for (UINT level = 0; level < 9; ++level) {
        D3DSURFACE_DESC desc;
        ASSERT_EQ(t->GetLevelDesc(level, &desc), D3D_OK);
        EXPECT_EQ(desc.Width, widths[level]);
        EXPECT_EQ(desc.Height, heights[level]);
        EXPECT_EQ(desc.Format, D3DFMT_R5G6B5);
        EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
        EXPECT_EQ(desc.Type, D3DRTYPE_SURFACE);
    }
    D3DSURFACE_DESC desc;
    EXPECT_EQ(t->GetLevelDesc(9, &desc), D3DERR_INVALIDCALL);
    ComPtr<IDirect3DSurface9> level;
    EXPECT_EQ(t->GetSurfaceLevel(9, level.ReleaseAndGetAddressOf()), D3DERR_INVALIDCALL);
    EXPECT_EQ(level.Get(), nullptr);

    // A requested count is kept; more than the chain has is refused.
    EXPECT_EQ(MakeTexture(device.Get(), 64, 64, 3, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED)->GetLevelCount(), 3u);
    MakeTexture(device.Get(), 64, 64, 8, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DERR_INVALIDCALL);

    // Cube and volume textures.
    ComPtr<IDirect3DCubeTexture9> cube;
    ASSERT_EQ(device->CreateCubeTexture(16, 0, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, cube.ReleaseAndGetAddressOf(),
                                        nullptr),
              D3D_OK);
    EXPECT_EQ(cube->GetLevelCount(), 5u);
    ComPtr<IDirect3DSurface9> face;
    ASSERT_EQ(cube->GetCubeMapSurface(D3DCUBEMAP_FACE_NEGATIVE_Z, 2, face.ReleaseAndGetAddressOf()), D3D_OK);
    face->GetDesc(&desc);
    EXPECT_EQ(desc.Width, 4u);
    EXPECT_EQ(cube->GetCubeMapSurface(static_cast<D3DCUBEMAP_FACES>(6), 0, face.ReleaseAndGetAddressOf()),
              D3DERR_INVALIDCALL);
    ComPtr<IDirect3DVolumeTexture9> volume;
    ASSERT_EQ(device->CreateVolumeTexture(8, 4, 2, 0, 0, D3DFMT_L8, D3DPOOL_MANAGED, volume.ReleaseAndGetAddressOf(),
                                          nullptr),
              D3D_OK);
    EXPECT_EQ(volume->GetLevelCount(), 4u);
    D3DVOLUME_DESC vdesc;
    ASSERT_EQ(volume->GetLevelDesc(2, &vdesc), D3D_OK);
    EXPECT_EQ(vdesc.Width, 2u);
    EXPECT_EQ(vdesc.Height, 1u);
    EXPECT_EQ(vdesc.Depth, 1u);

    // An autogen texture shows one level.
    ComPtr<IDirect3DTexture9> autogen =
        MakeTexture(device.Get(), 32, 32, 0, D3DUSAGE_AUTOGENMIPMAP, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED);
    EXPECT_EQ(autogen->GetLevelCount(), 1u);
    EXPECT_EQ(autogen->SetAutoGenFilterType(D3DTEXF_POINT), D3D_OK);
    EXPECT_EQ(autogen->GetAutoGenFilterType(), D3DTEXF_POINT);
    EXPECT_EQ(autogen->SetAutoGenFilterType(D3DTEXF_ANISOTROPIC), D3DERR_INVALIDCALL);
}

TEST(D3d9Textures, BadRequestsAreRefused) {
    CapturingWindow window;
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    IDirect3DDevice9* d = device.Get();
    MakeTexture(d, 0, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DERR_INVALIDCALL);
    MakeTexture(d, 4, 4, 1, 0, static_cast<D3DFORMAT>(12345), D3DPOOL_MANAGED, D3DERR_INVALIDCALL);
    MakeTexture(d, 4, 4, 1, 0, D3DFMT_D16, D3DPOOL_DEFAULT, D3DERR_INVALIDCALL);
    MakeTexture(d, 4, 4, 1, 0, D3DFMT_A8R8G8B8, static_cast<D3DPOOL>(4), D3DERR_INVALIDCALL);
    MakeTexture(d, 4, 4, 1, 0x80000000u, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DERR_INVALIDCALL);
    MakeTexture(d, 4, 4, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DERR_INVALIDCALL);
    MakeTexture(d, 4, 4, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DERR_INVALIDCALL);
    MakeTexture(d, 4, 4, 1, D3DUSAGE_RENDERTARGET, D3DFMT_R5G6B5, D3DPOOL_DEFAULT, D3DERR_INVALIDCALL);
    MakeTexture(d, 4, 4, 2, D3DUSAGE_AUTOGENMIPMAP, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DERR_INVALIDCALL);
    MakeTexture(d, 8192, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DERR_INVALIDCALL);
    // DXT level 0 starts on whole blocks.
    MakeTexture(d, 6, 8, 1, 0, D3DFMT_DXT1, D3DPOOL_MANAGED, D3DERR_INVALIDCALL);
    // Palettized formats cannot be sampled here: only scratch textures take them.
    MakeTexture(d, 4, 4, 1, 0, D3DFMT_P8, D3DPOOL_MANAGED, D3DERR_INVALIDCALL);
    EXPECT_TRUE(MakeTexture(d, 4, 4, 1, 0, D3DFMT_P8, D3DPOOL_SCRATCH));
    // Scratch textures are not limited by the caps, but cannot be bound.
    ComPtr<IDirect3DTexture9> scratch = MakeTexture(d, 8192, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH);
    EXPECT_EQ(d->SetTexture(0, scratch.Get()), D3DERR_INVALIDCALL);
    // Nothing is written on failure and the pointer is cleared.
    IDirect3DTexture9* out = reinterpret_cast<IDirect3DTexture9*>(&window);
    EXPECT_EQ(d->CreateTexture(0, 0, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &out, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(d->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, nullptr, nullptr), D3DERR_INVALIDCALL);

    // Textures of another device cannot be bound.
    ComPtr<IDirect3DDevice9> other = MakeDevice(window.Handle());
    ComPtr<IDirect3DTexture9> foreign = MakeTexture(other.Get(), 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED);
    EXPECT_EQ(d->SetTexture(0, foreign.Get()), D3DERR_INVALIDCALL);
    EXPECT_EQ(Count(foreign.Get()), 1u);
}

TEST(D3d9Textures, LevelsShareTheTexturesLifetime) {
    CapturingWindow window;
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    ComPtr<IDirect3DTexture9> t = MakeTexture(device.Get(), 8, 8, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED);
    ComPtr<IDirect3DSurface9> level;
    ASSERT_EQ(t->GetSurfaceLevel(1, level.ReleaseAndGetAddressOf()), D3D_OK);
    EXPECT_EQ(Count(t.Get()), 2u);  // the level holds its texture
    ComPtr<IDirect3DTexture9> container;
    ASSERT_EQ(level->GetContainer(IDirect3DTexture9::iid, reinterpret_cast<void**>(container.ReleaseAndGetAddressOf())),
              D3D_OK);
    EXPECT_EQ(container.Get(), t.Get());
    container.Reset();
    ComPtr<IDirect3DBaseTexture9> base;
    ASSERT_EQ(t->QueryInterface(IDirect3DBaseTexture9::iid, reinterpret_cast<void**>(base.ReleaseAndGetAddressOf())),
              D3D_OK);
    EXPECT_EQ(base.Get(), static_cast<IDirect3DBaseTexture9*>(t.Get()));
    base.Reset();
    // With the texture released, the level alone keeps it, and the data, alive.
    t.Reset();
    Fill32(level.Get(), [](UINT x, UINT y) { return x + 16 * y; });
    EXPECT_EQ(Read32(level.Get(), 3, 2), 35u);
    level.Reset();
}

TEST(D3d9Textures, LockRectanglesFollowTheBlockRules) {
    CapturingWindow window;
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    ComPtr<IDirect3DTexture9> t = MakeTexture(device.Get(), 16, 8, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED);
    D3DLOCKED_RECT whole, part;
    ASSERT_EQ(t->LockRect(0, &whole, nullptr, 0), D3D_OK);
    EXPECT_EQ(whole.Pitch, 64);
    // A level locks once at a time; other levels are independent.
    EXPECT_EQ(t->LockRect(0, &part, nullptr, 0), D3DERR_INVALIDCALL);
    ASSERT_EQ(t->LockRect(1, &part, nullptr, 0), D3D_OK);
    EXPECT_EQ(t->UnlockRect(1), D3D_OK);
    EXPECT_EQ(t->UnlockRect(0), D3D_OK);
    EXPECT_EQ(t->UnlockRect(0), D3DERR_INVALIDCALL);
    RECT r{3, 2, 10, 7};
    ASSERT_EQ(t->LockRect(0, &part, &r, 0), D3D_OK);
    EXPECT_EQ(static_cast<std::byte*>(part.pBits) - static_cast<std::byte*>(whole.pBits), 2 * 64 + 3 * 4);
    t->UnlockRect(0);
    for (RECT bad : {RECT{0, 0, 17, 8}, RECT{-1, 0, 4, 4}, RECT{4, 4, 4, 6}, RECT{5, 0, 3, 2}}) {
        EXPECT_EQ(t->LockRect(0, &part, &bad, 0), D3DERR_INVALIDCALL) << bad.left << "," << bad.top;
    }
    EXPECT_EQ(t->LockRect(0, &part, nullptr, 0x1), D3DERR_INVALIDCALL);  // unknown flag
    EXPECT_EQ(t->LockRect(5, &part, nullptr, 0), D3DERR_INVALIDCALL);

    // DXT1: 8 bytes per 4 x 4 block; rectangles on block boundaries or the level's edge.
    ComPtr<IDirect3DTexture9> dxt = MakeTexture(device.Get(), 12, 8, 0, 0, D3DFMT_DXT1, D3DPOOL_MANAGED);
    ASSERT_EQ(dxt->GetLevelCount(), 4u);
    ASSERT_EQ(dxt->LockRect(0, &whole, nullptr, 0), D3D_OK);
    EXPECT_EQ(whole.Pitch, 24);
    dxt->UnlockRect(0);
    RECT blockRect{4, 4, 12, 8};
    ASSERT_EQ(dxt->LockRect(0, &part, &blockRect, 0), D3D_OK);
    EXPECT_EQ(static_cast<std::byte*>(part.pBits) - static_cast<std::byte*>(whole.pBits), 24 + 8);
    dxt->UnlockRect(0);
    for (RECT bad : {RECT{2, 0, 8, 4}, RECT{0, 0, 6, 4}, RECT{0, 1, 4, 4}}) {
        EXPECT_EQ(dxt->LockRect(0, &part, &bad, 0), D3DERR_INVALIDCALL) << bad.left << "," << bad.top;
    }
    // Level 1 is 6 x 4: its right edge may end inside a block.
    RECT edge{4, 0, 6, 4};
    EXPECT_EQ(dxt->LockRect(1, &part, &edge, 0), D3D_OK);
    dxt->UnlockRect(1);
    // Level 3 is 1 x 1: one block.
    ASSERT_EQ(dxt->LockRect(3, &part, nullptr, 0), D3D_OK);
    EXPECT_EQ(part.Pitch, 8);
    dxt->UnlockRect(3);

    // Default-pool textures lock only when dynamic.
    ComPtr<IDirect3DTexture9> staticDefault = MakeTexture(device.Get(), 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT);
    EXPECT_EQ(staticDefault->LockRect(0, &part, nullptr, 0), D3DERR_INVALIDCALL);
    ComPtr<IDirect3DTexture9> dynamic =
        MakeTexture(device.Get(), 4, 4, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT);
    EXPECT_EQ(dynamic->LockRect(0, &part, nullptr, D3DLOCK_DISCARD), D3D_OK);
    dynamic->UnlockRect(0);

    // Volumes: boxes inside the level, slices a slice pitch apart.
    ComPtr<IDirect3DVolumeTexture9> volume;
    ASSERT_EQ(device->CreateVolumeTexture(4, 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                          volume.ReleaseAndGetAddressOf(), nullptr),
              D3D_OK);
    D3DLOCKED_BOX box, wholeBox;
    ASSERT_EQ(volume->LockBox(0, &wholeBox, nullptr, 0), D3D_OK);
    EXPECT_EQ(wholeBox.RowPitch, 16);
    EXPECT_EQ(wholeBox.SlicePitch, 64);
    volume->UnlockBox(0);
    D3DBOX inner{1, 2, 3, 4, 3, 4};
    ASSERT_EQ(volume->LockBox(0, &box, &inner, 0), D3D_OK);
    EXPECT_EQ(static_cast<std::byte*>(box.pBits) - static_cast<std::byte*>(wholeBox.pBits), 3 * 64 + 2 * 16 + 4);
    EXPECT_EQ(volume->LockBox(0, &box, nullptr, 0), D3DERR_INVALIDCALL);
    volume->UnlockBox(0);
    D3DBOX outside{0, 0, 4, 4, 2, 5};
    EXPECT_EQ(volume->LockBox(0, &box, &outside, 0), D3DERR_INVALIDCALL);
}

TEST(D3d9Textures, CopiesMoveExactPixels) {
    CapturingWindow window;
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    IDirect3DDevice9* d = device.Get();
    auto pattern = [](UINT level) { return [level](UINT x, UINT y) { return 0xFF000000u | (level << 16) | (y << 8) | x; }; };

    // UpdateTexture: system memory to default pool, level by level, starting where sizes match.
    ComPtr<IDirect3DTexture9> staging = MakeTexture(d, 16, 16, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM);
    for (UINT level = 0; level < staging->GetLevelCount(); ++level) {
        ComPtr<IDirect3DSurface9> s;
        staging->GetSurfaceLevel(level, s.ReleaseAndGetAddressOf());
        Fill32(s.Get(), pattern(level));
    }
    ComPtr<IDirect3DTexture9> target = MakeTexture(d, 8, 8, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT);
    ASSERT_EQ(d->UpdateTexture(staging.Get(), target.Get()), D3D_OK);
    // Default-pool levels are read back through a system-memory surface of the same size.
    for (UINT level = 0; level < 4; ++level) {
        ComPtr<IDirect3DSurface9> back;
        UINT side = 8u >> level;
        ASSERT_EQ(d->CreateOffscreenPlainSurface(side, side, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                                 back.ReleaseAndGetAddressOf(), nullptr),
                  D3D_OK);
        ComPtr<IDirect3DSurface9> level0;
        target->GetSurfaceLevel(level, level0.ReleaseAndGetAddressOf());
        ASSERT_EQ(d->StretchRect(level0.Get(), nullptr, back.Get(), nullptr, D3DTEXF_NONE), D3D_OK);
        EXPECT_EQ(Read32(back.Get(), side - 1, side - 1), pattern(level + 1)(side - 1, side - 1)) << level;
    }
    // Wrong pools, types or formats are refused.
    EXPECT_EQ(d->UpdateTexture(target.Get(), staging.Get()), D3DERR_INVALIDCALL);
    ComPtr<IDirect3DTexture9> otherFormat = MakeTexture(d, 8, 8, 0, 0, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT);
    EXPECT_EQ(d->UpdateTexture(staging.Get(), otherFormat.Get()), D3DERR_INVALIDCALL);
    ComPtr<IDirect3DTexture9> tooBig = MakeTexture(d, 32, 32, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT);
    EXPECT_EQ(d->UpdateTexture(staging.Get(), tooBig.Get()), D3DERR_INVALIDCALL);
    EXPECT_EQ(d->UpdateTexture(nullptr, target.Get()), D3DERR_INVALIDCALL);

    // UpdateSurface: a rectangle to a point.
    ComPtr<IDirect3DSurface9> src, dst;
    d->CreateOffscreenPlainSurface(4, 4, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, src.ReleaseAndGetAddressOf(), nullptr);
    d->CreateOffscreenPlainSurface(8, 8, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, dst.ReleaseAndGetAddressOf(), nullptr);
    Fill32(src.Get(), pattern(7));
    Fill32(dst.Get(), [](UINT, UINT) { return 0u; });
    RECT r{1, 1, 3, 4};
    POINT at{5, 2};
    ASSERT_EQ(d->UpdateSurface(src.Get(), &r, dst.Get(), &at), D3D_OK);
    EXPECT_EQ(Read32(dst.Get(), 5, 2), pattern(7)(1, 1));
    EXPECT_EQ(Read32(dst.Get(), 6, 4), pattern(7)(2, 3));
    EXPECT_EQ(Read32(dst.Get(), 7, 4), 0u);
    EXPECT_EQ(Read32(dst.Get(), 5, 5), 0u);
    POINT outside{7, 7};
    EXPECT_EQ(d->UpdateSurface(src.Get(), &r, dst.Get(), &outside), D3DERR_INVALIDCALL);
    EXPECT_EQ(d->UpdateSurface(dst.Get(), nullptr, src.Get(), nullptr), D3DERR_INVALIDCALL);

    // GetRenderTargetData: the back buffer into system memory.
    ComPtr<IDirect3DSurface9> backBuffer, copy;
    d->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, backBuffer.ReleaseAndGetAddressOf());
    D3DSURFACE_DESC desc;
    backBuffer->GetDesc(&desc);
    ASSERT_EQ(d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF123456u, 1.0f, 0), D3D_OK);
    D3DRECT corner{0, 0, 1, 1};
    d->Clear(1, &corner, D3DCLEAR_TARGET, 0xFF00FF00u, 1.0f, 0);
    ASSERT_EQ(d->CreateOffscreenPlainSurface(desc.Width, desc.Height, desc.Format, D3DPOOL_SYSTEMMEM,
                                             copy.ReleaseAndGetAddressOf(), nullptr),
              D3D_OK);
    ASSERT_EQ(d->GetRenderTargetData(backBuffer.Get(), copy.Get()), D3D_OK);
    EXPECT_EQ(Read32(copy.Get(), 0, 0), 0xFF00FF00u);
    EXPECT_EQ(Read32(copy.Get(), desc.Width - 1, desc.Height - 1), 0xFF123456u);
    EXPECT_EQ(d->GetRenderTargetData(dst.Get(), copy.Get()), D3DERR_INVALIDCALL);  // not a render target
}

TEST(D3d9Textures, StretchRectSamplesNearestOrBilinear) {
    CapturingWindow window;
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    IDirect3DDevice9* d = device.Get();
    ComPtr<IDirect3DSurface9> src, dst;
    ASSERT_EQ(d->CreateRenderTarget(2, 1, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, TRUE, src.ReleaseAndGetAddressOf(),
                                    nullptr),
              D3D_OK);
    ASSERT_EQ(d->CreateRenderTarget(4, 1, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, TRUE, dst.ReleaseAndGetAddressOf(),
                                    nullptr),
              D3D_OK);
    // Texels 0 and 200 in red.
    Fill32(src.Get(), [](UINT x, UINT) { return x == 0 ? 0xFF000000u : 0xFFC80000u; });
    ASSERT_EQ(d->StretchRect(src.Get(), nullptr, dst.Get(), nullptr, D3DTEXF_POINT), D3D_OK);
    // Destination centres 0.5..3.5 map to source 0.25, 0.75, 1.25, 1.75: texels 0, 0, 1, 1.
    EXPECT_EQ(Read32(dst.Get(), 1, 0), 0xFF000000u);
    EXPECT_EQ(Read32(dst.Get(), 2, 0), 0xFFC80000u);
    ASSERT_EQ(d->StretchRect(src.Get(), nullptr, dst.Get(), nullptr, D3DTEXF_LINEAR), D3D_OK);
    // Bilinear: source positions -0.25, 0.25, 0.75, 1.25 around the centres at 0 and 1, edges clamped:
    // red 0, 0.25 * 200 = 50, 0.75 * 200 = 150, 200.
    const std::uint32_t expected[] = {0xFF000000u, 0xFF320000u, 0xFF960000u, 0xFFC80000u};
    for (UINT x = 0; x < 4; ++x) EXPECT_EQ(Read32(dst.Get(), x, 0), expected[x]) << x;
    EXPECT_EQ(d->StretchRect(src.Get(), nullptr, dst.Get(), nullptr, D3DTEXF_ANISOTROPIC), D3DERR_INVALIDCALL);
    RECT outside{0, 0, 3, 1};
    EXPECT_EQ(d->StretchRect(src.Get(), &outside, dst.Get(), nullptr, D3DTEXF_POINT), D3DERR_INVALIDCALL);
    // Overlapping rectangles of one surface are refused.
    RECT a{0, 0, 2, 1}, b{1, 0, 3, 1};
    EXPECT_EQ(d->StretchRect(dst.Get(), &a, dst.Get(), &b, D3DTEXF_POINT), D3DERR_INVALIDCALL);
    // A render target made without Lockable cannot be locked.
    ComPtr<IDirect3DSurface9> hidden;
    d->CreateRenderTarget(2, 2, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, 0, FALSE, hidden.ReleaseAndGetAddressOf(),
                          nullptr);
    D3DLOCKED_RECT locked;
    EXPECT_EQ(hidden->LockRect(&locked, nullptr, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(d->CreateRenderTarget(2, 2, D3DFMT_L8, D3DMULTISAMPLE_NONE, 0, FALSE, hidden.ReleaseAndGetAddressOf(),
                                    nullptr),
              D3DERR_INVALIDCALL);
}

TEST(D3d9Textures, CheckDeviceFormatAnswersFromWhatTheDeviceDoes) {
    ComPtr<IDirect3D9> d3d = ComPtr<IDirect3D9>::Adopt(Direct3DCreate9(D3D_SDK_VERSION));
    auto check = [&](DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format) {
        return d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, usage, type, format);
    };
    // Every colour format of the library's table that has a decoder is a texture format.
    for (D3DFORMAT f : {D3DFMT_R8G8B8, D3DFMT_A8R8G8B8, D3DFMT_R5G6B5, D3DFMT_A4R4G4B4, D3DFMT_A8, D3DFMT_L8,
                        D3DFMT_A8L8, D3DFMT_V8U8, D3DFMT_Q8W8V8U8, D3DFMT_DXT1, D3DFMT_DXT3, D3DFMT_DXT5,
                        D3DFMT_YUY2, D3DFMT_A16B16G16R16F, D3DFMT_A32B32G32R32F, D3DFMT_A2B10G10R10}) {
        EXPECT_EQ(check(0, D3DRTYPE_TEXTURE, f), D3D_OK) << f;
        EXPECT_EQ(check(0, D3DRTYPE_CUBETEXTURE, f), D3D_OK) << f;
    }
    EXPECT_EQ(check(0, D3DRTYPE_TEXTURE, D3DFMT_P8), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(check(0, D3DRTYPE_TEXTURE, D3DFMT_D16), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(check(D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8), D3D_OK);
    EXPECT_EQ(check(D3DUSAGE_RENDERTARGET, D3DRTYPE_TEXTURE, D3DFMT_R5G6B5), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(check(D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, D3DFMT_D24S8), D3D_OK);
    EXPECT_EQ(check(D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, D3DFMT_A8R8G8B8), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(check(D3DUSAGE_AUTOGENMIPMAP, D3DRTYPE_TEXTURE, D3DFMT_X8R8G8B8), D3D_OK);
    EXPECT_EQ(check(D3DUSAGE_QUERY_SRGBREAD, D3DRTYPE_TEXTURE, D3DFMT_X8R8G8B8), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(check(D3DUSAGE_QUERY_FILTER, D3DRTYPE_TEXTURE, D3DFMT_G16R16), D3D_OK);
    EXPECT_EQ(check(0, D3DRTYPE_VERTEXBUFFER, D3DFMT_VERTEXDATA), D3D_OK);
    EXPECT_EQ(check(0, D3DRTYPE_TEXTURE, static_cast<D3DFORMAT>(999)), D3DERR_NOTAVAILABLE);
    // Bad arguments.
    EXPECT_EQ(check(0x00000004u, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8), D3DERR_INVALIDCALL);
    EXPECT_EQ(check(0, static_cast<D3DRESOURCETYPE>(9), D3DFMT_A8R8G8B8), D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d->CheckDeviceFormat(1, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, 0, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_R5G6B5, 0, D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8),
              D3DERR_NOTAVAILABLE);

    // What CheckDeviceFormat accepts, CreateTexture makes, and the reverse for a refused format.
    CapturingWindow window;
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    EXPECT_TRUE(MakeTexture(device.Get(), 8, 8, 0, 0, D3DFMT_DXT5, D3DPOOL_MANAGED));
    EXPECT_TRUE(MakeTexture(device.Get(), 8, 8, 0, 0, D3DFMT_UYVY, D3DPOOL_MANAGED));

    EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, TRUE), D3D_OK);
    EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, TRUE), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, FALSE), D3DERR_NOTAVAILABLE);
}

TEST(D3d9Textures, AReducedCapabilityRecordIsReportedAndEnforced) {
    CallRecorder recorder;
    D3DCAPS9 caps = qm::d3d9::SoftwareDeviceCaps(D3DDEVTYPE_HAL);
    caps.TextureCaps |= D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_SQUAREONLY;
    caps.TextureCaps &= ~(D3DPTEXTURECAPS_CUBEMAP | D3DPTEXTURECAPS_MIPVOLUMEMAP);
    caps.Caps2 &= ~D3DCAPS2_DYNAMICTEXTURES;
    caps.SrcBlendCaps &= ~(D3DPBLENDCAPS_SRCALPHA | D3DPBLENDCAPS_INVSRCALPHA);
    caps.MaxTextureWidth = caps.MaxTextureHeight = 256;
    recorder.ReplaceDeviceCaps(caps);

    CapturingWindow window;
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    IDirect3DDevice9* d = device.Get();
    D3DCAPS9 reported;
    ASSERT_EQ(d->GetDeviceCaps(&reported), D3D_OK);
    EXPECT_EQ(reported.TextureCaps, caps.TextureCaps);
    EXPECT_EQ(reported.SrcBlendCaps & D3DPBLENDCAPS_SRCALPHA, 0u);
    EXPECT_EQ(reported.MaxTextureWidth, 256u);
    ComPtr<IDirect3D9> d3d;
    d->GetDirect3D(d3d.ReleaseAndGetAddressOf());
    ASSERT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &reported), D3D_OK);
    EXPECT_EQ(reported.Caps2 & D3DCAPS2_DYNAMICTEXTURES, 0u);

    MakeTexture(d, 64, 32, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DERR_INVALIDCALL);  // not square
    MakeTexture(d, 48, 48, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DERR_INVALIDCALL);  // not a power of two
    MakeTexture(d, 512, 512, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DERR_INVALIDCALL);  // too large
    MakeTexture(d, 64, 64, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, D3DERR_INVALIDCALL);
    EXPECT_EQ(MakeTexture(d, 64, 64, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED)->GetLevelCount(), 7u);
    ComPtr<IDirect3DCubeTexture9> cube;
    EXPECT_EQ(d->CreateCubeTexture(16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, cube.ReleaseAndGetAddressOf(), nullptr),
              D3DERR_INVALIDCALL);
    // Without mipmapped volumes a volume texture has one level, whatever is asked for with 0.
    ComPtr<IDirect3DVolumeTexture9> volume;
    ASSERT_EQ(d->CreateVolumeTexture(8, 8, 8, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, volume.ReleaseAndGetAddressOf(),
                                     nullptr),
              D3D_OK);
    EXPECT_EQ(volume->GetLevelCount(), 1u);
    // Scratch textures ignore the caps.
    EXPECT_TRUE(MakeTexture(d, 48, 20, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH));
}

TEST(D3d9Textures, NonPowerOfTwoIsConditionalWhenTheCapsSaySo) {
    CallRecorder recorder;
    D3DCAPS9 caps = qm::d3d9::SoftwareDeviceCaps(D3DDEVTYPE_HAL);
    caps.TextureCaps |= D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_NONPOW2CONDITIONAL;
    caps.MaxTextureAspectRatio = 4;
    recorder.ReplaceDeviceCaps(caps);
    CapturingWindow window;
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    EXPECT_TRUE(MakeTexture(device.Get(), 300, 200, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED));
    MakeTexture(device.Get(), 300, 200, 0, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, D3DERR_INVALIDCALL);
    EXPECT_TRUE(MakeTexture(device.Get(), 256, 64, 0, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED));
    MakeTexture(device.Get(), 256, 32, 0, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, D3DERR_INVALIDCALL);  // aspect 8
}

}  // namespace
