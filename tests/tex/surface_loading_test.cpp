// surface_loading_test.cpp: the loaders against the software device: sub-rectangles, DXT
// destinations, the system-memory copy for surfaces that cannot be locked, and argument checks.
#include <gtest/gtest.h>

#include "library/tex/dxt_codec.h"
#include "library/tex/pixel_box.h"
#include "library/tex/surface_loading.h"
#include "platform/win/results.h"
#include "tests/platform/d3d9/d3d9_test_support.h"

namespace qm {
namespace {

struct Fixture {
    d3d9test::CapturingWindow window{64, 64};
    ComPtr<IDirect3DDevice9> device = d3d9test::MakeDevice(window.Handle());

    ComPtr<IDirect3DSurface9> Level(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool, UINT levels = 1,
                                    UINT level = 0, DWORD usage = 0) {
        ComPtr<IDirect3DTexture9> texture;
        EXPECT_EQ(device->CreateTexture(width, height, levels, usage, format, pool, texture.ReleaseAndGetAddressOf(),
                                        nullptr),
                  D3D_OK);
        ComPtr<IDirect3DSurface9> surface;
        if (texture) {
            EXPECT_EQ(texture->GetSurfaceLevel(level, surface.ReleaseAndGetAddressOf()), D3D_OK);
        }
        return surface;
    }
};

// Reads a whole 32-bit surface.
std::vector<DWORD> ReadArgb(IDirect3DSurface9* surface) {
    D3DSURFACE_DESC desc{};
    surface->GetDesc(&desc);
    D3DLOCKED_RECT locked{};
    std::vector<DWORD> pixels;
    if (surface->LockRect(&locked, nullptr, D3DLOCK_READONLY) != D3D_OK) return pixels;
    for (UINT y = 0; y < desc.Height; ++y) {
        const DWORD* row = reinterpret_cast<const DWORD*>(static_cast<const BYTE*>(locked.pBits) + y * locked.Pitch);
        pixels.insert(pixels.end(), row, row + desc.Width);
    }
    surface->UnlockRect();
    return pixels;
}

TEST(SurfaceLoading, SubRectangleOfAManagedSurface) {
    Fixture f;
    ASSERT_TRUE(f.device);
    auto surface = f.Level(8, 8, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED);
    ASSERT_TRUE(surface);
    std::vector<DWORD> fill(64, 0xFF101010u);
    const RECT whole{0, 0, 8, 8};
    ASSERT_EQ(LoadSurfaceFromMemory(surface.Get(), nullptr, nullptr, fill.data(), D3DFMT_A8R8G8B8, 32, nullptr, &whole,
                                    FILTER_NONE, 0),
              S_OK);
    // A 4 x 4 X1R5G5B5 source halved into the 2 x 2 rectangle at (3, 5) with the box filter:
    // each 2 x 2 block is uniform, so each destination pixel is its block's colour widened.
    std::vector<WORD> source(16);
    for (UINT i = 0; i < 16; ++i) source[i] = ((i % 4) / 2 + (i / 8) * 2) == 3 ? 0x7FFF : 0x001F;
    const RECT destRect{3, 5, 5, 7}, srcRect{0, 0, 4, 4};
    ASSERT_EQ(LoadSurfaceFromMemory(surface.Get(), nullptr, &destRect, source.data(), D3DFMT_X1R5G5B5, 8, nullptr,
                                    &srcRect, FILTER_BOX, 0),
              S_OK);
    const std::vector<DWORD> pixels = ReadArgb(surface.Get());
    ASSERT_EQ(pixels.size(), 64u);
    for (UINT y = 0; y < 8; ++y) {
        for (UINT x = 0; x < 8; ++x) {
            DWORD expected = 0xFF101010u;
            if (x >= 3 && x < 5 && y >= 5 && y < 7) expected = (x == 4 && y == 6) ? 0xFFFFFFFFu : 0xFF0000FFu;
            EXPECT_EQ(pixels[y * 8 + x], expected) << x << "," << y;
        }
    }
    // Arguments: missing pieces, a rectangle outside the surface, a bad filter word.
    EXPECT_EQ(LoadSurfaceFromMemory(nullptr, nullptr, nullptr, fill.data(), D3DFMT_A8R8G8B8, 32, nullptr, &whole,
                                    FILTER_NONE, 0),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(LoadSurfaceFromMemory(surface.Get(), nullptr, nullptr, nullptr, D3DFMT_A8R8G8B8, 32, nullptr, &whole,
                                    FILTER_NONE, 0),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(LoadSurfaceFromMemory(surface.Get(), nullptr, nullptr, fill.data(), D3DFMT_A8R8G8B8, 32, nullptr, nullptr,
                                    FILTER_NONE, 0),
              D3DERR_INVALIDCALL);
    const RECT outside{4, 4, 9, 8};
    EXPECT_EQ(LoadSurfaceFromMemory(surface.Get(), nullptr, &outside, fill.data(), D3DFMT_A8R8G8B8, 32, nullptr, &whole,
                                    FILTER_NONE, 0),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(LoadSurfaceFromMemory(surface.Get(), nullptr, nullptr, fill.data(), D3DFMT_A8R8G8B8, 32, nullptr, &whole,
                                    FILTER_BOX | 0x400000u, 0),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(LoadSurfaceFromMemory(surface.Get(), nullptr, nullptr, fill.data(), static_cast<D3DFORMAT>(12345), 32,
                                    nullptr, &whole, FILTER_NONE, 0),
              E_FAIL);
}

TEST(SurfaceLoading, DxtDestinationsIncludingSmallLevels) {
    Fixture f;
    ASSERT_TRUE(f.device);
    // Level 2 of an 8 x 8 DXT1 texture is 2 x 2: its block repeats the real pixels.
    auto small = f.Level(8, 8, D3DFMT_DXT1, D3DPOOL_MANAGED, 0, 2);
    ASSERT_TRUE(small);
    const DWORD source[4] = {0xFFFF0000u, 0xFF00FF00u, 0xFF00FF00u, 0xFF00FF00u};
    const RECT srcRect{0, 0, 2, 2};
    ASSERT_EQ(LoadSurfaceFromMemory(small.Get(), nullptr, nullptr, source, D3DFMT_A8R8G8B8, 8, nullptr, &srcRect,
                                    FILTER_NONE, 0),
              S_OK);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(small->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    Rgba out[16];
    DecodeDxtBlock(D3DFMT_DXT1, static_cast<const BYTE*>(locked.pBits), out);
    small->UnlockRect();
    for (int i = 0; i < 16; ++i) {
        const bool red = i % 2 == 0 && (i / 4) % 2 == 0;
        EXPECT_EQ(out[i], red ? (Rgba{1, 0, 0, 1}) : (Rgba{0, 1, 0, 1})) << i;
    }

    // A rectangle that cuts blocks: the lock widens to whole blocks and the rest of each block stays.
    auto big = f.Level(8, 8, D3DFMT_DXT5, D3DPOOL_MANAGED);
    std::vector<DWORD> blue(64, 0xFF0000FFu), white(4, 0x80FFFFFFu);
    const RECT whole{0, 0, 8, 8};
    ASSERT_EQ(LoadSurfaceFromMemory(big.Get(), nullptr, nullptr, blue.data(), D3DFMT_A8R8G8B8, 32, nullptr, &whole,
                                    FILTER_NONE, 0),
              S_OK);
    const RECT cut{3, 3, 5, 5};
    ASSERT_EQ(LoadSurfaceFromMemory(big.Get(), nullptr, &cut, white.data(), D3DFMT_A8R8G8B8, 8, nullptr, &srcRect,
                                    FILTER_NONE, 0),
              S_OK);
    ASSERT_EQ(big->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    for (UINT by = 0; by < 2; ++by) {
        for (UINT bx = 0; bx < 2; ++bx) {
            DecodeDxtBlock(D3DFMT_DXT5, static_cast<const BYTE*>(locked.pBits) + by * locked.Pitch + bx * 16, out);
            for (int i = 0; i < 16; ++i) {
                const UINT x = bx * 4 + i % 4, y = by * 4 + i / 4;
                const bool inside = x >= 3 && x < 5 && y >= 3 && y < 5;
                const Rgba expected = inside ? Rgba{1, 1, 1, 128 / 255.f} : Rgba{0, 0, 1, 1};
                EXPECT_NEAR(out[i].r, expected.r, 1e-6) << x << "," << y;
                EXPECT_NEAR(out[i].b, expected.b, 1e-6) << x << "," << y;
                EXPECT_NEAR(out[i].a, expected.a, 1e-6) << x << "," << y;
            }
        }
    }
    big->UnlockRect();
}

TEST(SurfaceLoading, DefaultPoolGoesThroughASystemMemoryCopy) {
    Fixture f;
    ASSERT_TRUE(f.device);
    auto target = f.Level(4, 4, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT);
    ASSERT_TRUE(target);
    D3DLOCKED_RECT locked{};
    ASSERT_NE(target->LockRect(&locked, nullptr, 0), D3D_OK);  // not lockable: the loaders must copy
    std::vector<DWORD> pixels(16);
    for (UINT i = 0; i < 16; ++i) pixels[i] = 0xFF000000u | (i * 0x0F0F0F);
    const RECT whole{0, 0, 4, 4};
    ASSERT_EQ(LoadSurfaceFromMemory(target.Get(), nullptr, nullptr, pixels.data(), D3DFMT_A8R8G8B8, 16, nullptr, &whole,
                                    FILTER_NONE, 0),
              S_OK);
    // Read it back into system memory with the box filter (no device shortcut): 2:1 means.
    auto readBack = f.Level(2, 2, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM);
    ASSERT_EQ(LoadSurfaceFromSurface(readBack.Get(), nullptr, nullptr, target.Get(), nullptr, nullptr, FILTER_BOX, 0),
              S_OK);
    const std::vector<DWORD> half = ReadArgb(readBack.Get());
    ASSERT_EQ(half.size(), 4u);
    for (UINT y = 0; y < 2; ++y) {
        for (UINT x = 0; x < 2; ++x) {
            // Pixel i has every colour byte 15 i: the mean of i, i + 1, i + 4, i + 5 is 15 (i + 2.5).
            const DWORD i = y * 8 + x * 2;
            const DWORD v = (15 * (4 * i + 10) + 2) >> 2;
            EXPECT_EQ(half[y * 2 + x], 0xFF000000u | (v << 16) | (v << 8) | v) << x << "," << y;
        }
    }
    // Same size, no conversion: the device copies (UpdateSurface from system memory).
    auto again = f.Level(2, 2, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT);
    ASSERT_EQ(LoadSurfaceFromSurface(again.Get(), nullptr, nullptr, readBack.Get(), nullptr, nullptr, FILTER_POINT, 0),
              S_OK);
    auto check = f.Level(2, 2, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM);
    ASSERT_EQ(LoadSurfaceFromSurface(check.Get(), nullptr, nullptr, again.Get(), nullptr, nullptr, FILTER_NONE, 0), S_OK);
    EXPECT_EQ(ReadArgb(check.Get()), half);
    EXPECT_EQ(LoadSurfaceFromSurface(nullptr, nullptr, nullptr, again.Get(), nullptr, nullptr, FILTER_NONE, 0),
              D3DERR_INVALIDCALL);
}

}  // namespace
}  // namespace qm
