// texture_creation_test.cpp: textures created from files of every reader's kind in several formats,
// the format, size and mip-chain defaults, cube and volume files, staging through system memory,
// mip generation and the failures of creation.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "library/tex/parse_image_file.h"
#include "library/tex/pixel_box.h"
#include "library/tex/texture_creation.h"
#include "library/tex/texture_requirements.h"
#include "tests/tex/image_writers.h"
#include "tests/tex/texture_test_support.h"

namespace qm::test {
namespace {

struct Rgba {
    BYTE r, g, b, a;
};

constexpr UINT kW = 4;
constexpr UINT kH = 2;
// Opaque test pixels, top row first; every channel value lands well away from a rounding boundary
// in the 4-, 5- and 6-bit layouts and in luminance.
constexpr Rgba kPixels[kH][kW] = {
    {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}, {200, 100, 50, 255}},
    {{10, 20, 30, 255}, {255, 255, 255, 255}, {0, 0, 0, 255}, {90, 180, 240, 255}},
};

DWORD Argb(const Rgba& p) { return DWORD{p.a} << 24 | DWORD{p.r} << 16 | DWORD{p.g} << 8 | p.b; }

Bytes Bmp24() {
    BmpFile layout;
    layout.width = kW;
    layout.height = kH;
    for (int y = kH - 1; y >= 0; --y) {  // bottom row first
        for (const Rgba& p : kPixels[y]) layout.rows.insert(layout.rows.end(), {p.b, p.g, p.r});
    }
    return WriteBmp(layout);
}

Bytes Dib24() {
    BmpFile layout;
    layout.width = kW;
    layout.height = -static_cast<std::int32_t>(kH);  // top row first
    for (const auto& row : kPixels)
        for (const Rgba& p : row) layout.rows.insert(layout.rows.end(), {p.b, p.g, p.r});
    return WriteDib(layout);
}

Bytes Tga32() {
    TgaFile layout;
    layout.width = kW;
    layout.height = kH;
    layout.pixelBits = 32;
    layout.descriptor = 0x28;  // top-left, 8 alpha bits
    for (const auto& row : kPixels)
        for (const Rgba& p : row) layout.pixels.insert(layout.pixels.end(), {p.b, p.g, p.r, p.a});
    return WriteTga(layout);
}

Bytes PngRgba() {
    PngFile layout;
    layout.width = kW;
    layout.height = kH;
    layout.colorType = 6;
    for (const auto& row : kPixels)
        for (const Rgba& p : row) layout.rows.insert(layout.rows.end(), {p.r, p.g, p.b, p.a});
    return WritePng(layout);
}

Bytes PpmBinary() {
    Bytes out = FromText("P6\n4 2\n255\n");
    for (const auto& row : kPixels)
        for (const Rgba& p : row) out.insert(out.end(), {p.r, p.g, p.b});
    return out;
}

Bytes DdsArgb() {
    DdsFile layout;
    layout.width = kW;
    layout.height = kH;
    for (const auto& row : kPixels)
        for (const Rgba& p : row) layout.payload.insert(layout.payload.end(), {p.b, p.g, p.r, p.a});
    return WriteDds(layout);
}

HRESULT Create(IDirect3DDevice9* device, const Bytes& file, IDirect3DTexture9** texture, D3DFORMAT format,
               UINT mipLevels = 1, DWORD filter = FILTER_NONE, DWORD mipFilter = FILTER_NONE, D3DCOLOR key = 0,
               ImageInfo* info = nullptr, PALETTEENTRY* palette = nullptr, UINT size = kDefaultNonPowerOfTwo,
               D3DPOOL pool = D3DPOOL_MANAGED, DWORD usage = 0) {
    return CreateTextureFromFileInMemoryWithOptions(device, file.data(), static_cast<UINT>(file.size()), size, size,
                                                    mipLevels, usage, format, pool, filter, mipFilter, key, info,
                                                    palette, texture);
}

D3DFORMAT LevelFormat(IDirect3DTexture9* texture) {
    D3DSURFACE_DESC desc{};
    texture->GetLevelDesc(0, &desc);
    return desc.Format;
}

// Truncates a stored value, first making sure the test's pixel is not so close to the next integer
// that single-precision arithmetic could land on either side.
UINT Truncate(double stored) {
    double fraction = stored - std::floor(stored);
    EXPECT_GT(std::min(fraction, 1.0 - fraction), 0.001) << "test pixel too close to a rounding edge";
    return static_cast<UINT>(stored);
}

// An unsigned n-bit channel stored without dither: trunc(v x (2^n - 1) + 0.5), v = code / 255.
UINT Quantise(BYTE code, int bits) { return Truncate(code / 255.0 * ((1 << bits) - 1) + 0.5); }

// Luminance formats store trunc(L x 255 + 0.5), L = 0.2125 red + 0.7154 green + 0.0721 blue.
UINT Luminance(const Rgba& p) {
    double l = 0.2125 * (p.r / 255.0) + 0.7154 * (p.g / 255.0) + 0.0721 * (p.b / 255.0);
    return Truncate(l * 255.0 + 0.5);
}

struct Kind {
    const char* name;
    Bytes file;
    ImageFileFormat fileFormat;
    bool hasAlpha;
};

TEST(TextureCreation, EveryReaderKindLoadsIntoSeveralFormats) {
    ComPtr<IDirect3DDevice9> device = MakeTextureDevice();
    ASSERT_TRUE(device);
    const Kind kinds[] = {
        {"bmp", Bmp24(), ImageFileFormat::Bmp, false}, {"dib", Dib24(), ImageFileFormat::Dib, false},
        {"tga", Tga32(), ImageFileFormat::Tga, true},  {"png", PngRgba(), ImageFileFormat::Png, true},
        {"ppm", PpmBinary(), ImageFileFormat::Ppm, false}, {"dds", DdsArgb(), ImageFileFormat::Dds, true},
    };
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        ComPtr<IDirect3DTexture9> texture;
        ImageInfo info;
        ASSERT_EQ(Create(device.Get(), kind.file, texture.ReleaseAndGetAddressOf(), D3DFMT_A8R8G8B8, 1, FILTER_NONE,
                         FILTER_NONE, 0, &info),
                  D3D_OK);
        EXPECT_EQ(info.width, kW);
        EXPECT_EQ(info.height, kH);
        EXPECT_EQ(info.fileFormat, kind.fileFormat);
        EXPECT_EQ(info.resourceType, D3DRTYPE_TEXTURE);
        std::vector<DWORD> argb = ReadLevel32(texture.Get(), 0);
        ASSERT_EQ(argb.size(), kW * kH);
        for (UINT y = 0; y < kH; ++y)
            for (UINT x = 0; x < kW; ++x) EXPECT_EQ(argb[y * kW + x], Argb(kPixels[y][x])) << x << "," << y;

        ASSERT_EQ(Create(device.Get(), kind.file, texture.ReleaseAndGetAddressOf(), D3DFMT_R5G6B5), D3D_OK);
        ASSERT_EQ(LevelFormat(texture.Get()), D3DFMT_R5G6B5);
        std::vector<WORD> rgb565 = ReadLevel16(texture.Get(), 0);
        for (UINT y = 0; y < kH; ++y) {
            for (UINT x = 0; x < kW; ++x) {
                const Rgba& p = kPixels[y][x];
                UINT expected = Quantise(p.r, 5) << 11 | Quantise(p.g, 6) << 5 | Quantise(p.b, 5);
                EXPECT_EQ(rgb565[y * kW + x], expected) << x << "," << y;
            }
        }

        ASSERT_EQ(Create(device.Get(), kind.file, texture.ReleaseAndGetAddressOf(), D3DFMT_L8), D3D_OK);
        ASSERT_EQ(LevelFormat(texture.Get()), D3DFMT_L8);
        std::vector<BYTE> grey = ReadLevel(texture.Get(), 0, 1);
        for (UINT y = 0; y < kH; ++y)
            for (UINT x = 0; x < kW; ++x) EXPECT_EQ(grey[y * kW + x], Luminance(kPixels[y][x])) << x << "," << y;
    }

    // JPEG is lossy: a flat colour decodes to within a step or two of itself.
    Bytes samples;
    for (int i = 0; i < 16 * 16; ++i) samples.insert(samples.end(), {200, 100, 50});
    Bytes jpeg = WriteJpeg(16, 16, 3, samples, 100);
    ComPtr<IDirect3DTexture9> texture;
    ImageInfo info;
    ASSERT_EQ(Create(device.Get(), jpeg, texture.ReleaseAndGetAddressOf(), D3DFMT_X8R8G8B8, 1, FILTER_NONE,
                     FILTER_NONE, 0, &info),
              D3D_OK);
    EXPECT_EQ(info.fileFormat, ImageFileFormat::Jpg);
    for (DWORD pixel : ReadLevel32(texture.Get(), 0)) {
        EXPECT_NEAR(static_cast<int>((pixel >> 16) & 0xFF), 200, 2);
        EXPECT_NEAR(static_cast<int>((pixel >> 8) & 0xFF), 100, 2);
        EXPECT_NEAR(static_cast<int>(pixel & 0xFF), 50, 2);
    }
}

// An 8-bit bitmap of kW x kH whose pixel (x, y) is index y * kW + x, with the given colour table.
Bytes PalettedBmp(const std::array<Rgba, 256>& table) {
    BmpFile layout;
    layout.width = kW;
    layout.height = -static_cast<std::int32_t>(kH);
    layout.bits = 8;
    for (const Rgba& e : table) layout.table.insert(layout.table.end(), {e.b, e.g, e.r, 0});
    for (UINT i = 0; i < kW * kH; ++i) layout.rows.push_back(static_cast<BYTE>(i * 37));
    return WriteBmp(layout);
}

BYTE IndexAt(UINT x, UINT y) { return static_cast<BYTE>((y * kW + x) * 37); }

TEST(TextureCreation, FormatDefaultsFollowTheFileThePaletteAndTheColourKey) {
    ComPtr<IDirect3DDevice9> device = MakeTextureDevice();
    ASSERT_TRUE(device);
    ComPtr<IDirect3DTexture9> texture;

    // A grey-ramp palette is read as L8: the bytes are the indices.
    std::array<Rgba, 256> ramp{};
    for (int i = 0; i < 256; ++i) ramp[i] = {BYTE(i), BYTE(i), BYTE(i), 255};
    ASSERT_EQ(Create(device.Get(), PalettedBmp(ramp), texture.ReleaseAndGetAddressOf(), D3DFMT_UNKNOWN), D3D_OK);
    EXPECT_EQ(LevelFormat(texture.Get()), D3DFMT_L8);
    std::vector<BYTE> bytes = ReadLevel(texture.Get(), 0, 1);
    for (UINT y = 0; y < kH; ++y)
        for (UINT x = 0; x < kW; ++x) EXPECT_EQ(bytes[y * kW + x], IndexAt(x, y));

    // The 3-3-2 palette is read as R3G3B2, likewise byte for byte.
    const BYTE three[8] = {0, 36, 73, 109, 146, 182, 219, 255};
    const BYTE two[4] = {0, 85, 170, 255};
    std::array<Rgba, 256> rgb332{};
    for (int i = 0; i < 256; ++i) rgb332[i] = {three[i >> 5], three[(i >> 2) & 7], two[i & 3], 255};
    ASSERT_EQ(Create(device.Get(), PalettedBmp(rgb332), texture.ReleaseAndGetAddressOf(), D3DFMT_UNKNOWN), D3D_OK);
    EXPECT_EQ(LevelFormat(texture.Get()), D3DFMT_R3G3B2);
    bytes = ReadLevel(texture.Get(), 0, 1);
    for (UINT y = 0; y < kH; ++y)
        for (UINT x = 0; x < kW; ++x) EXPECT_EQ(bytes[y * kW + x], IndexAt(x, y));

    // Any other palette becomes opaque 32-bit colour; a colour key empties its entry, which then
    // needs an alpha channel. The palette output receives the keyed palette.
    std::array<Rgba, 256> colours{};
    for (int i = 0; i < 256; ++i) colours[i] = {BYTE(i * 7), BYTE(255 - i), BYTE(i * 3), 255};
    ASSERT_EQ(Create(device.Get(), PalettedBmp(colours), texture.ReleaseAndGetAddressOf(), D3DFMT_UNKNOWN), D3D_OK);
    EXPECT_EQ(LevelFormat(texture.Get()), D3DFMT_X8R8G8B8);
    std::vector<DWORD> argb = ReadLevel32(texture.Get(), 0);
    EXPECT_EQ(argb[kW + 1] & 0xFFFFFF, Argb(colours[IndexAt(1, 1)]) & 0xFFFFFF);

    const Rgba keyed = colours[IndexAt(2, 0)];
    const D3DCOLOR key = Argb(keyed);
    ASSERT_EQ(Create(device.Get(), PalettedBmp(colours), texture.ReleaseAndGetAddressOf(), D3DFMT_UNKNOWN, 1,
                     FILTER_NONE, FILTER_NONE, key),
              D3D_OK);
    EXPECT_EQ(LevelFormat(texture.Get()), D3DFMT_A8R8G8B8);
    argb = ReadLevel32(texture.Get(), 0);
    for (UINT y = 0; y < kH; ++y) {
        for (UINT x = 0; x < kW; ++x) {
            DWORD expected = x == 2 && y == 0 ? 0u : Argb(colours[IndexAt(x, y)]);
            EXPECT_EQ(argb[y * kW + x], expected) << x << "," << y;
        }
    }
    std::array<PALETTEENTRY, 256> paletteOut{};
    ASSERT_EQ(Create(device.Get(), PalettedBmp(colours), texture.ReleaseAndGetAddressOf(), D3DFMT_UNKNOWN, 1,
                     FILTER_NONE, FILTER_NONE, key, nullptr, paletteOut.data()),
              D3D_OK);
    const PALETTEENTRY& emptied = paletteOut[IndexAt(2, 0)];
    EXPECT_EQ(emptied.peRed + emptied.peGreen + emptied.peBlue + emptied.peFlags, 0);
    EXPECT_EQ(paletteOut[5].peRed, colours[5].r);
    EXPECT_EQ(paletteOut[5].peFlags, 255);

    // 24-bit colour with the key 0xFF000000 asks for its own layout plus one alpha bit: A8R8G8B8
    // (score 7, first of four), and the black pixel becomes transparent black.
    ASSERT_EQ(Create(device.Get(), Bmp24(), texture.ReleaseAndGetAddressOf(), D3DFMT_UNKNOWN, 1, FILTER_NONE,
                     FILTER_NONE, 0xFF000000),
              D3D_OK);
    EXPECT_EQ(LevelFormat(texture.Get()), D3DFMT_A8R8G8B8);
    argb = ReadLevel32(texture.Get(), 0);
    for (UINT y = 0; y < kH; ++y) {
        for (UINT x = 0; x < kW; ++x) {
            DWORD expected = x == 2 && y == 1 ? 0u : Argb(kPixels[y][x]);
            EXPECT_EQ(argb[y * kW + x], expected) << x << "," << y;
        }
    }
    // Without a key 24-bit files become X8R8G8B8, except in the scratch pool.
    ASSERT_EQ(Create(device.Get(), Bmp24(), texture.ReleaseAndGetAddressOf(), D3DFMT_UNKNOWN), D3D_OK);
    EXPECT_EQ(LevelFormat(texture.Get()), D3DFMT_X8R8G8B8);
    ASSERT_EQ(Create(device.Get(), Bmp24(), texture.ReleaseAndGetAddressOf(), D3DFMT_UNKNOWN, 1, FILTER_NONE,
                     FILTER_NONE, 0, nullptr, nullptr, kDefaultNonPowerOfTwo, D3DPOOL_SCRATCH),
              D3D_OK);
    EXPECT_EQ(LevelFormat(texture.Get()), D3DFMT_R8G8B8);

    // A palette with a translucent entry (PNG transparency) becomes A8R8G8B8.
    PngFile png;
    png.width = 2;
    png.height = 1;
    png.colorType = 3;
    png.palette = {10, 20, 30, 40, 50, 60};
    png.paletteAlpha = {128};
    png.rows = {0, 1};
    ASSERT_EQ(Create(device.Get(), WritePng(png), texture.ReleaseAndGetAddressOf(), D3DFMT_UNKNOWN), D3D_OK);
    EXPECT_EQ(LevelFormat(texture.Get()), D3DFMT_A8R8G8B8);
    EXPECT_EQ(ReadLevel32(texture.Get(), 0), (std::vector<DWORD>{0x800A141Eu, 0xFF28323Cu}));
}

Bytes SolidPng(UINT width, UINT height) {
    PngFile layout;
    layout.width = width;
    layout.height = height;
    layout.rows.assign(static_cast<std::size_t>(width) * height * 3, 0x80);
    return WritePng(layout);
}

DWORD BoxOf(DWORD a, DWORD b, DWORD c, DWORD d) {
    DWORD out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        DWORD sum = ((a >> shift) & 0xFF) + ((b >> shift) & 0xFF) + ((c >> shift) & 0xFF) + ((d >> shift) & 0xFF);
        out |= ((sum + 2) >> 2) << shift;
    }
    return out;
}

TEST(TextureCreation, SizesAndMipChains) {
    const Bytes wide = SolidPng(300, 200);
    ComPtr<IDirect3DTexture9> texture;
    D3DSURFACE_DESC desc{};
    {
        // The defaults round the image up to powers of two and make the full chain.
        CallRecorder recorder;
        D3DCAPS9 caps = SoftwareCaps();
        caps.TextureCaps |= D3DPTEXTURECAPS_POW2;
        ComPtr<IDirect3DDevice9> powers = MakeReducedDevice(recorder, caps);
        ASSERT_TRUE(powers);
        ASSERT_EQ(CreateTextureFromFileInMemory(powers.Get(), wide.data(), static_cast<UINT>(wide.size()),
                                                texture.ReleaseAndGetAddressOf()),
                  D3D_OK);
        texture->GetLevelDesc(0, &desc);
        EXPECT_EQ(desc.Width, 512u);
        EXPECT_EQ(desc.Height, 256u);
        EXPECT_EQ(texture->GetLevelCount(), 10u);
        EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
        // Asking for the image's own size still gets powers of two from this device.
        ASSERT_EQ(Create(powers.Get(), wide, texture.ReleaseAndGetAddressOf(), D3DFMT_UNKNOWN, kDefaultValue,
                         kDefaultValue, kDefaultValue),
                  D3D_OK);
        texture->GetLevelDesc(0, &desc);
        EXPECT_EQ(desc.Width, 512u);
        EXPECT_EQ(desc.Height, 256u);
    }
    ComPtr<IDirect3DDevice9> device = MakeTextureDevice();
    ASSERT_TRUE(device);
    ASSERT_EQ(Create(device.Get(), wide, texture.ReleaseAndGetAddressOf(), D3DFMT_UNKNOWN, kDefaultValue,
                     kDefaultValue, kDefaultValue),
              D3D_OK);
    texture->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Width, 300u);
    EXPECT_EQ(desc.Height, 200u);
    EXPECT_EQ(texture->GetLevelCount(), 9u);

    // A file with three of the four levels of an 8 x 8 chain: levels 0-2 come from the file, level
    // 3 is the box filter of level 2.
    const DWORD red = 0xFFFF0000, green = 0xFF00FF00;
    const DWORD level2[4] = {0xFF102030, 0x80405060, 0x40FFFFFF, 0x00000000};
    DdsFile dds;
    dds.width = 8;
    dds.height = 8;
    dds.mipCount = 3;
    dds.flags |= 0x20000;
    auto put = [&](DWORD value, int count) {
        for (int i = 0; i < count; ++i)
            for (int s = 0; s < 32; s += 8) dds.payload.push_back(static_cast<BYTE>(value >> s));
    };
    put(red, 64);
    put(green, 16);
    for (DWORD v : level2) put(v, 1);
    const Bytes chain = WriteDds(dds);
    ImageInfo info;
    ASSERT_EQ(Create(device.Get(), chain, texture.ReleaseAndGetAddressOf(), D3DFMT_UNKNOWN, kDefaultValue,
                     kDefaultValue, kDefaultValue, 0, &info),
              D3D_OK);
    EXPECT_EQ(info.mipLevels, 3u);
    EXPECT_EQ(info.format, D3DFMT_A8R8G8B8);
    ASSERT_EQ(texture->GetLevelCount(), 4u);
    EXPECT_EQ(ReadLevel32(texture.Get(), 0), std::vector<DWORD>(64, red));
    EXPECT_EQ(ReadLevel32(texture.Get(), 1), std::vector<DWORD>(16, green));
    EXPECT_EQ(ReadLevel32(texture.Get(), 2), std::vector<DWORD>(level2, level2 + 4));
    EXPECT_EQ(ReadLevel32(texture.Get(), 3),
              std::vector<DWORD>{BoxOf(level2[0], level2[1], level2[2], level2[3])});

    // With a mip filter that does not chain, the levels past the file's are each sampled from its
    // last level with the image filter: a point sample takes the top-left pixel.
    PngFile quad;
    quad.width = 2;
    quad.height = 2;
    quad.colorType = 6;
    quad.rows = {0x10, 0x20, 0x30, 0xFF, 0x50, 0x60, 0x70, 0xFF, 0x90, 0xA0, 0xB0, 0xFF, 0xD0, 0xE0, 0xF0, 0xFF};
    const Bytes quadFile = WritePng(quad);
    ASSERT_EQ(Create(device.Get(), quadFile, texture.ReleaseAndGetAddressOf(), D3DFMT_A8R8G8B8, 2, FILTER_POINT,
                     FILTER_TRIANGLE),
              D3D_OK);
    EXPECT_EQ(ReadLevel32(texture.Get(), 1), std::vector<DWORD>{0xFF102030u});
    // With the box mip filter level 1 is generated: the rounded mean of the four.
    ASSERT_EQ(Create(device.Get(), quadFile, texture.ReleaseAndGetAddressOf(), D3DFMT_A8R8G8B8, 2, FILTER_POINT,
                     FILTER_BOX),
              D3D_OK);
    EXPECT_EQ(ReadLevel32(texture.Get(), 1),
              std::vector<DWORD>{BoxOf(0xFF102030u, 0xFF506070u, 0xFF90A0B0u, 0xFFD0E0F0u)});
}

TEST(TextureCreation, CubeAndVolumeFiles) {
    ComPtr<IDirect3DDevice9> device = MakeTextureDevice();
    ASSERT_TRUE(device);
    const DWORD faceColours[6] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00, 0xFF00FFFF, 0xFFFF00FF};
    DdsFile cube;
    cube.width = 4;
    cube.height = 4;
    cube.caps2 = 0xFE00;
    for (DWORD colour : faceColours)
        for (int i = 0; i < 16; ++i)
            for (int s = 0; s < 32; s += 8) cube.payload.push_back(static_cast<BYTE>(colour >> s));
    const Bytes cubeFile = WriteDds(cube);

    ComPtr<IDirect3DBaseTexture9> texture;
    ImageInfo info;
    ASSERT_EQ(CreateTextureResourceFromMemory(device.Get(), cubeFile.data(), static_cast<UINT>(cubeFile.size()),
                                              kDefaultValue, kDefaultValue, kDefaultValue, kDefaultValue, 0,
                                              D3DFMT_UNKNOWN, D3DPOOL_MANAGED, kDefaultValue, kDefaultValue, 0, &info,
                                              nullptr, kResourceTypeFromFile, texture.ReleaseAndGetAddressOf()),
              D3D_OK);
    EXPECT_EQ(info.resourceType, D3DRTYPE_CUBETEXTURE);
    ASSERT_EQ(texture->GetType(), D3DRTYPE_CUBETEXTURE);
    auto* cubeTexture = static_cast<IDirect3DCubeTexture9*>(texture.Get());
    ASSERT_EQ(cubeTexture->GetLevelCount(), 3u);
    for (UINT face = 0; face < 6; ++face) {
        for (UINT level = 0; level < 3; ++level) {
            D3DLOCKED_RECT locked{};
            ASSERT_EQ(cubeTexture->LockRect(static_cast<D3DCUBEMAP_FACES>(face), level, &locked, nullptr,
                                            D3DLOCK_READONLY),
                      D3D_OK);
            UINT side = 4u >> level;
            std::vector<BYTE> rows = ReadRows(locked, side, side, 4);
            cubeTexture->UnlockRect(static_cast<D3DCUBEMAP_FACES>(face), level);
            for (std::size_t i = 0; i < rows.size(); i += 4) {
                DWORD pixel = rows[i] | rows[i + 1] << 8 | rows[i + 2] << 16 | DWORD{rows[i + 3]} << 24;
                ASSERT_EQ(pixel, faceColours[face]) << "face " << face << " level " << level;
            }
        }
    }
    // A cube cannot be made from a file without six faces.
    const Bytes flat = PngRgba();
    EXPECT_EQ(CreateTextureResourceFromMemory(device.Get(), flat.data(), static_cast<UINT>(flat.size()),
                                              kDefaultValue, kDefaultValue, kDefaultValue, kDefaultValue, 0,
                                              D3DFMT_UNKNOWN, D3DPOOL_MANAGED, kDefaultValue, kDefaultValue, 0,
                                              nullptr, nullptr, D3DRTYPE_CUBETEXTURE, texture.ReleaseAndGetAddressOf()),
              E_FAIL);

    // A 2 x 2 x 2 volume: its two slices load as they are; level 1 is the mean of all eight.
    DdsFile volume;
    volume.width = 2;
    volume.height = 2;
    volume.depth = 2;
    volume.flags |= 0x800000;
    const DWORD voxels[8] = {0xFF000000, 0xFF080808, 0xFF101010, 0xFF181818,
                             0xFF202020, 0xFF282828, 0xFF303030, 0xFF383838};
    for (DWORD v : voxels)
        for (int s = 0; s < 32; s += 8) volume.payload.push_back(static_cast<BYTE>(v >> s));
    const Bytes volumeFile = WriteDds(volume);
    ASSERT_EQ(CreateTextureResourceFromMemory(device.Get(), volumeFile.data(), static_cast<UINT>(volumeFile.size()),
                                              kDefaultValue, kDefaultValue, kDefaultValue, kDefaultValue, 0,
                                              D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, kDefaultValue, kDefaultValue, 0,
                                              nullptr, nullptr, kResourceTypeFromFile,
                                              texture.ReleaseAndGetAddressOf()),
              D3D_OK);
    ASSERT_EQ(texture->GetType(), D3DRTYPE_VOLUMETEXTURE);
    auto* volumeTexture = static_cast<IDirect3DVolumeTexture9*>(texture.Get());
    ASSERT_EQ(volumeTexture->GetLevelCount(), 2u);
    D3DLOCKED_BOX box{};
    ASSERT_EQ(volumeTexture->LockBox(0, &box, nullptr, D3DLOCK_READONLY), D3D_OK);
    for (UINT z = 0; z < 2; ++z)
        for (UINT y = 0; y < 2; ++y)
            for (UINT x = 0; x < 2; ++x) {
                DWORD pixel;
                std::memcpy(&pixel, static_cast<const BYTE*>(box.pBits) + z * box.SlicePitch + y * box.RowPitch + x * 4,
                            4);
                EXPECT_EQ(pixel, voxels[z * 4 + y * 2 + x]);
            }
    volumeTexture->UnlockBox(0);
    ASSERT_EQ(volumeTexture->LockBox(1, &box, nullptr, D3DLOCK_READONLY), D3D_OK);
    DWORD mean;
    std::memcpy(&mean, box.pBits, 4);
    volumeTexture->UnlockBox(1);
    // Grey values 0, 8, ..., 56: their mean is 28 (the exact sum 224 / 8).
    EXPECT_EQ(mean, 0xFF1C1C1Cu);
}

std::vector<std::string> Matching(const CallRecorder& recorder, std::initializer_list<const char*> prefixes) {
    std::vector<std::string> out;
    for (const std::string& line : recorder.Lines())
        for (const char* prefix : prefixes)
            if (line.rfind(prefix, 0) == 0) out.push_back(line);
    return out;
}

TEST(TextureCreation, DefaultPoolPixelsTravelThroughSystemMemory) {
    ComPtr<IDirect3DDevice9> device = MakeTextureDevice();
    ASSERT_TRUE(device);
    const Bytes file = PngRgba();
    ComPtr<IDirect3DTexture9> texture;
    {
        CallRecorder recorder;
        ASSERT_EQ(Create(device.Get(), file, texture.ReleaseAndGetAddressOf(), D3DFMT_A8R8G8B8, 1, FILTER_NONE,
                         FILTER_NONE, 0, nullptr, nullptr, kDefaultNonPowerOfTwo, D3DPOOL_DEFAULT),
                  D3D_OK);
        std::vector<std::string> calls = Matching(recorder, {"CreateTexture(", "UpdateTexture("});
        ASSERT_EQ(calls.size(), 3u);
        EXPECT_EQ(calls[0], "CreateTexture(4, 2, 1, 0, 21, 0, ptr, null)");
        EXPECT_EQ(calls[1], "CreateTexture(4, 2, 1, 0, 21, 2, ptr, null)");
        EXPECT_EQ(calls[2], "UpdateTexture(ptr, ptr)");
    }
    {
        // A dynamic texture is written directly, and can be read back.
        CallRecorder recorder;
        ASSERT_EQ(Create(device.Get(), file, texture.ReleaseAndGetAddressOf(), D3DFMT_A8R8G8B8, 1, FILTER_NONE,
                         FILTER_NONE, 0, nullptr, nullptr, kDefaultNonPowerOfTwo, D3DPOOL_DEFAULT, D3DUSAGE_DYNAMIC),
                  D3D_OK);
        std::vector<std::string> calls = Matching(recorder, {"CreateTexture(", "UpdateTexture("});
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0], "CreateTexture(4, 2, 1, 512, 21, 0, ptr, null)");
        EXPECT_EQ(ReadLevel32(texture.Get(), 0)[3], Argb(kPixels[0][3]));
    }
}

TEST(TextureCreation, BadFilesAndArgumentsFailWithoutOutput) {
    ComPtr<IDirect3DDevice9> device = MakeTextureDevice();
    ASSERT_TRUE(device);
    IDirect3DTexture9* const sentinel = reinterpret_cast<IDirect3DTexture9*>(0x10);
    IDirect3DTexture9* texture = sentinel;
    const Bytes text = FromText("no image here, only text\n");
    EXPECT_EQ(CreateTextureFromFileInMemory(device.Get(), text.data(), static_cast<UINT>(text.size()), &texture),
              ERR_INVALID_DATA);
    EXPECT_EQ(CreateTextureFromFileInMemory(device.Get(), text.data(), 0, &texture), D3DERR_INVALIDCALL);
    EXPECT_EQ(CreateTextureFromFileInMemory(nullptr, text.data(), static_cast<UINT>(text.size()), &texture),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(texture, sentinel);
    const Bytes png = PngRgba();
    EXPECT_EQ(CreateTextureFromFileInMemory(device.Get(), png.data(), static_cast<UINT>(png.size()), nullptr),
              D3DERR_INVALIDCALL);
    IDirect3DBaseTexture9* base = nullptr;
    EXPECT_EQ(CreateTextureResourceFromMemory(device.Get(), png.data(), static_cast<UINT>(png.size()), 0, 0, 0, 0, 0,
                                              D3DFMT_UNKNOWN, D3DPOOL_MANAGED, kDefaultValue, kDefaultValue, 0,
                                              nullptr, nullptr, D3DRTYPE_SURFACE, &base),
              D3DERR_INVALIDCALL);
    // A filter word with an unknown bit is refused by the level loads, and nothing is handed out.
    EXPECT_EQ(Create(device.Get(), png, &texture, D3DFMT_A8R8G8B8, 1, FILTER_NONE | 0x400000), D3DERR_INVALIDCALL);
    EXPECT_EQ(texture, sentinel);

    // Files on disk: missing, empty, text, and a good one.
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("quillmere-texcreate-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    auto write = [&](const char* name, const Bytes& bytes) {
        std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                          static_cast<std::streamsize>(bytes.size()));
        return (dir / name).string();
    };
    const std::string empty = write("empty.png", {});
    const std::string notes = write("notes.txt", text);
    const std::string good = write("good.png", png);
    EXPECT_EQ(CreateTextureFromFile(device.Get(), (dir / "missing.png").string().c_str(), &texture), ERR_INVALID_DATA);
    EXPECT_EQ(CreateTextureFromFile(device.Get(), dir.string().c_str(), &texture), ERR_INVALID_DATA);
    EXPECT_EQ(CreateTextureFromFile(device.Get(), empty.c_str(), &texture), D3DERR_INVALIDCALL);
    EXPECT_EQ(CreateTextureFromFile(device.Get(), notes.c_str(), &texture), ERR_INVALID_DATA);
    EXPECT_EQ(CreateTextureFromFile(device.Get(), nullptr, &texture), D3DERR_INVALIDCALL);
    EXPECT_EQ(texture, sentinel);
    ImageInfo info;
    ASSERT_EQ(CreateTextureFromFileWithOptions(device.Get(), good.c_str(), kDefaultNonPowerOfTwo,
                                               kDefaultNonPowerOfTwo, 1, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED,
                                               FILTER_NONE, FILTER_NONE, 0, &info, nullptr, &texture),
              D3D_OK);
    ComPtr<IDirect3DTexture9> loaded = ComPtr<IDirect3DTexture9>::Adopt(texture);
    EXPECT_EQ(info.fileFormat, ImageFileFormat::Png);
    EXPECT_EQ(ReadLevel32(loaded.Get(), 0)[kW], Argb(kPixels[1][0]));
    std::filesystem::remove_all(dir);
}

TEST(GenerateMipLevels, ChainsBoxAndPointAndRefusesBadLevels) {
    ComPtr<IDirect3DDevice9> device = MakeTextureDevice();
    ASSERT_TRUE(device);
    ComPtr<IDirect3DTexture9> texture;
    ASSERT_EQ(device->CreateTexture(4, 4, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, texture.ReleaseAndGetAddressOf(),
                                    nullptr),
              D3D_OK);
    DWORD top[16];
    for (DWORD i = 0; i < 16; ++i) top[i] = 0xFF000000u | (i * 16) << 16 | (255 - i * 16) << 8 | (i * 7);
    auto fill = [&] {
        D3DLOCKED_RECT locked{};
        ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
        for (int y = 0; y < 4; ++y) std::memcpy(static_cast<BYTE*>(locked.pBits) + y * locked.Pitch, top + y * 4, 16);
        texture->UnlockRect(0);
    };
    fill();
    auto at = [&](int x, int y) { return top[y * 4 + x]; };
    const std::vector<DWORD> level1 = {BoxOf(at(0, 0), at(1, 0), at(0, 1), at(1, 1)),
                                       BoxOf(at(2, 0), at(3, 0), at(2, 1), at(3, 1)),
                                       BoxOf(at(0, 2), at(1, 2), at(0, 3), at(1, 3)),
                                       BoxOf(at(2, 2), at(3, 2), at(2, 3), at(3, 3))};
    // The default filter for power-of-two sizes is the box, chained level to level.
    ASSERT_EQ(GenerateMipLevels(texture.Get(), nullptr, kDefaultValue, kDefaultValue), D3D_OK);
    EXPECT_EQ(ReadLevel32(texture.Get(), 1), level1);
    EXPECT_EQ(ReadLevel32(texture.Get(), 2), std::vector<DWORD>{BoxOf(level1[0], level1[1], level1[2], level1[3])});

    // Point sampling also chains: level 2 takes level 1's top-left pixel, itself level 0's.
    ASSERT_EQ(GenerateMipLevels(texture.Get(), nullptr, 0, FILTER_POINT), D3D_OK);
    EXPECT_EQ(ReadLevel32(texture.Get(), 1), (std::vector<DWORD>{at(0, 0), at(2, 0), at(0, 2), at(2, 2)}));
    EXPECT_EQ(ReadLevel32(texture.Get(), 2), std::vector<DWORD>{at(0, 0)});

    EXPECT_EQ(GenerateMipLevels(texture.Get(), nullptr, 3, FILTER_BOX), D3DERR_INVALIDCALL);
    EXPECT_EQ(GenerateMipLevels(nullptr, nullptr, 0, FILTER_BOX), D3DERR_INVALIDCALL);
}

// The 2:1 box reduction of a 32-bit level, each byte (sum of the four + 2) / 4.
std::vector<DWORD> BoxHalf(const std::vector<DWORD>& level, UINT width, UINT height) {
    std::vector<DWORD> out;
    for (UINT y = 0; y < height / 2; ++y) {
        for (UINT x = 0; x < width / 2; ++x) {
            const DWORD quad[4] = {level[2 * y * width + 2 * x], level[2 * y * width + 2 * x + 1],
                                   level[(2 * y + 1) * width + 2 * x], level[(2 * y + 1) * width + 2 * x + 1]};
            DWORD v = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                DWORD sum = 2;
                for (DWORD q : quad) sum += (q >> shift) & 0xFF;
                v |= (sum / 4) << shift;
            }
            out.push_back(v);
        }
    }
    return out;
}

// Checks level 0 against the expected pixels and every further level made from a level at least two
// pixels each way against the box reduction of that level, worked out here.
void ExpectBoxChain(IDirect3DTexture9* texture, std::vector<DWORD> expected, UINT width, UINT height) {
    const UINT levels = texture->GetLevelCount();
    for (UINT level = 0; level < levels && width >= 1 && height >= 1; ++level) {
        EXPECT_EQ(ReadLevel32(texture, level), expected) << "level " << level;
        expected = BoxHalf(expected, width, height);
        width /= 2;
        height /= 2;
    }
}

// Noisy samples, n per pixel, so that every pixel and every 2 x 2 block differs.
Bytes NoisySamples(UINT width, UINT height, int n) {
    Bytes out;
    std::uint32_t noise = 7;
    for (UINT i = 0; i < width * height * n; ++i) {
        noise = noise * 1664525u + 1013904223u;
        out.push_back(static_cast<BYTE>(noise >> 24));
    }
    return out;
}

// JPEG and PNG files whose pixels need no conversion are decoded straight into the texture: the
// texture must still hold the library's decoded pixels and the box-filtered chain below them, for
// managed, system-memory and staged default-pool textures alike.
TEST(TextureCreation, DecodedPixelsAndChainsOfJpegAndPngFiles) {
    ComPtr<IDirect3DDevice9> device = MakeTextureDevice();
    ASSERT_TRUE(device);
    constexpr UINT kWidth = 64, kHeight = 32;

    const Bytes jpeg = WriteJpeg(kWidth, kHeight, 3, NoisySamples(kWidth, kHeight, 3), 90);
    const Bytes rgb = DecodeJpegRgb(jpeg);
    ASSERT_EQ(rgb.size(), std::size_t{kWidth} * kHeight * 3);
    std::vector<DWORD> jpegPixels;
    for (std::size_t i = 0; i < rgb.size(); i += 3) {
        jpegPixels.push_back(DWORD{rgb[i]} << 16 | DWORD{rgb[i + 1]} << 8 | rgb[i + 2]);
    }

    PngFile layout;
    layout.width = kWidth;
    layout.height = kHeight;
    layout.colorType = 6;
    layout.rows = NoisySamples(kWidth, kHeight, 4);
    std::fill_n(layout.rows.begin() + 5 * 4, 3, BYTE{0});  // pixel 5 opaque black, for the colour key
    layout.rows[5 * 4 + 3] = 255;
    const Bytes png = WritePng(layout);
    std::vector<DWORD> pngPixels;
    for (std::size_t i = 0; i < layout.rows.size(); i += 4) {
        const BYTE* p = &layout.rows[i];
        pngPixels.push_back(DWORD{p[3]} << 24 | DWORD{p[0]} << 16 | DWORD{p[1]} << 8 | p[2]);
    }

    ComPtr<IDirect3DTexture9> texture;
    ImageInfo info;
    ASSERT_EQ(CreateTextureFromFileInMemory(device.Get(), jpeg.data(), static_cast<UINT>(jpeg.size()),
                                            texture.ReleaseAndGetAddressOf()),
              D3D_OK);
    EXPECT_EQ(LevelFormat(texture.Get()), D3DFMT_X8R8G8B8);
    EXPECT_EQ(texture->GetLevelCount(), 7u);
    ExpectBoxChain(texture.Get(), jpegPixels, kWidth, kHeight);

    PALETTEENTRY palette[256];
    std::fill(std::begin(palette), std::end(palette), PALETTEENTRY{1, 2, 3, 4});
    ASSERT_EQ(Create(device.Get(), png, texture.ReleaseAndGetAddressOf(), D3DFMT_UNKNOWN, 0, FILTER_NONE, FILTER_BOX,
                     0, &info, palette, kDefaultNonPowerOfTwo, D3DPOOL_SYSTEMMEM),
              D3D_OK);
    EXPECT_EQ(info.fileFormat, ImageFileFormat::Png);
    EXPECT_EQ(info.format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(info.width, kWidth);
    EXPECT_EQ(info.mipLevels, 1u);
    EXPECT_TRUE(std::all_of(std::begin(palette), std::end(palette), [](const PALETTEENTRY& e) {
        return e.peRed == 255 && e.peGreen == 255 && e.peBlue == 255 && e.peFlags == 255;
    }));
    EXPECT_EQ(texture->GetLevelCount(), 7u);
    ExpectBoxChain(texture.Get(), pngPixels, kWidth, kHeight);

    // A dynamic default-pool texture is written directly too.
    ComPtr<IDirect3DTexture9> staged;
    ASSERT_EQ(Create(device.Get(), png, staged.ReleaseAndGetAddressOf(), D3DFMT_A8R8G8B8, 1, FILTER_NONE, FILTER_NONE,
                     0, nullptr, nullptr, kDefaultNonPowerOfTwo, D3DPOOL_DEFAULT, D3DUSAGE_DYNAMIC),
              D3D_OK);
    EXPECT_EQ(ReadLevel32(staged.Get(), 0), pngPixels);

    // A colour key or a different format sends the pixels through conversion instead.
    const DWORD key = 0xFF000000;
    ASSERT_EQ(Create(device.Get(), png, texture.ReleaseAndGetAddressOf(), D3DFMT_A8R8G8B8, 1, FILTER_NONE, FILTER_NONE,
                     key),
              D3D_OK);
    std::vector<DWORD> keyed = pngPixels;
    for (DWORD& p : keyed) {
        if (p == key) p = 0;
    }
    ASSERT_EQ(keyed[5], 0u);
    EXPECT_EQ(ReadLevel32(texture.Get(), 0), keyed);
    ASSERT_EQ(Create(device.Get(), jpeg, texture.ReleaseAndGetAddressOf(), D3DFMT_A8R8G8B8), D3D_OK);
    std::vector<DWORD> opaque = jpegPixels;
    for (DWORD& p : opaque) p |= 0xFF000000;
    EXPECT_EQ(ReadLevel32(texture.Get(), 0), opaque);
}

// A JPEG whose header is sound but whose scan is cut short loads (or fails) as the readers decide
// when decoding the whole file, and a texture made from its header alone is never handed out.
TEST(TextureCreation, DamagedJpegScanFollowsTheReaders) {
    ComPtr<IDirect3DDevice9> device = MakeTextureDevice();
    ASSERT_TRUE(device);
    const Bytes whole = WriteJpeg(32, 32, 3, NoisySamples(32, 32, 3), 90);
    for (std::size_t keep : {whole.size() / 2, whole.size() - 40}) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(keep));
        SourceImage image;
        ImageInfo parsedInfo;
        const HRESULT parsed = ParseImageFile(&image, cut.data(), static_cast<UINT>(cut.size()), &parsedInfo, true);
        ComPtr<IDirect3DTexture9> texture;
        ImageInfo info;
        const HRESULT created = Create(device.Get(), cut, texture.ReleaseAndGetAddressOf(), D3DFMT_UNKNOWN, 1,
                                       FILTER_NONE, FILTER_NONE, 0, &info);
        if (FAILED(parsed)) {
            EXPECT_EQ(created, parsed);
            EXPECT_FALSE(texture);
        } else {
            ASSERT_EQ(created, D3D_OK);
            EXPECT_EQ(info.fileFormat, parsedInfo.fileFormat);
            D3DSURFACE_DESC desc{};
            ASSERT_EQ(texture->GetLevelDesc(0, &desc), D3D_OK);
            EXPECT_EQ(desc.Width, parsedInfo.width);
            EXPECT_EQ(desc.Height, parsedInfo.height);
        }
    }
}

// New textures start zeroed, large ones included, and every level and face is storage of its own,
// also when a released texture's memory is given out again.
TEST(TextureStorage, LevelsAndFacesStartZeroedAndApart) {
    ComPtr<IDirect3DDevice9> device = MakeTextureDevice();
    ASSERT_TRUE(device);
    for (int round = 0; round < 2; ++round) {
        for (UINT side : {1024u, 16u}) {
            ComPtr<IDirect3DTexture9> texture;
            ASSERT_EQ(device->CreateTexture(side, side, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                            texture.ReleaseAndGetAddressOf(), nullptr),
                      D3D_OK);
            const UINT levels = texture->GetLevelCount();
            for (UINT level = 0; level < levels; ++level) {
                std::vector<DWORD> pixels = ReadLevel32(texture.Get(), level);
                EXPECT_TRUE(std::all_of(pixels.begin(), pixels.end(), [](DWORD p) { return p == 0; }))
                    << "side " << side << " level " << level;
            }
            // Fill every level with its own byte, then find each level still holding only its byte.
            for (UINT level = 0; level < levels; ++level) {
                D3DSURFACE_DESC desc{};
                texture->GetLevelDesc(level, &desc);
                D3DLOCKED_RECT locked{};
                ASSERT_EQ(texture->LockRect(level, &locked, nullptr, 0), D3D_OK);
                for (UINT y = 0; y < desc.Height; ++y) {
                    std::memset(static_cast<BYTE*>(locked.pBits) + std::size_t{y} * locked.Pitch,
                                static_cast<int>(level + 1), std::size_t{desc.Width} * 4);
                }
                texture->UnlockRect(level);
            }
            for (UINT level = 0; level < levels; ++level) {
                std::vector<BYTE> bytes = ReadLevel(texture.Get(), level, 4);
                EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [&](BYTE b) { return b == level + 1; }))
                    << "side " << side << " level " << level;
            }
        }
    }

    ComPtr<IDirect3DCubeTexture9> cube;
    ASSERT_EQ(device->CreateCubeTexture(8, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, cube.ReleaseAndGetAddressOf(),
                                        nullptr),
              D3D_OK);
    const UINT levels = cube->GetLevelCount();
    auto each = [&](auto visit) {
        for (UINT face = 0; face < 6; ++face) {
            for (UINT level = 0; level < levels; ++level) {
                const UINT side = std::max(1u, 8u >> level);
                D3DLOCKED_RECT locked{};
                ASSERT_EQ(cube->LockRect(static_cast<D3DCUBEMAP_FACES>(face), level, &locked, nullptr, 0), D3D_OK);
                for (UINT y = 0; y < side; ++y) {
                    BYTE* row = static_cast<BYTE*>(locked.pBits) + std::size_t{y} * locked.Pitch;
                    visit(row, side * 4, face * levels + level);
                }
                cube->UnlockRect(static_cast<D3DCUBEMAP_FACES>(face), level);
            }
        }
    };
    each([](BYTE* row, UINT bytes, UINT index) {
        EXPECT_TRUE(std::all_of(row, row + bytes, [](BYTE b) { return b == 0; }));
        std::memset(row, static_cast<int>(index + 1), bytes);
    });
    each([](BYTE* row, UINT bytes, UINT index) {
        EXPECT_TRUE(std::all_of(row, row + bytes, [&](BYTE b) { return b == index + 1; })) << "surface " << index;
    });
}

}  // namespace
}  // namespace qm::test
