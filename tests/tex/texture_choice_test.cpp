// texture_choice_test.cpp: the format mismatch score and format choice, the size, mip-count and format
// rules against full and reduced device caps, checked creation, and muting the debug output.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "library/tex/debug_mute.h"
#include "library/tex/format_choice.h"
#include "library/tex/format_table.h"
#include "library/tex/texture_requirements.h"
#include "tests/tex/texture_test_support.h"

namespace qm::test {
namespace {

FormatDescriptor Request(D3DFORMAT base, int alphaWidth = -1) {
    FormatDescriptor request = FindFormatDescriptor(base);
    if (alphaWidth >= 0) {
        request.format = D3DFMT_UNKNOWN;
        request.widths[kWidthAlpha] = static_cast<UINT>(alphaWidth);
    }
    return request;
}

std::vector<std::string> LinesStartingWith(const CallRecorder& recorder, const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& line : recorder.Lines())
        if (line.rfind(prefix, 0) == 0) out.push_back(line);
    return out;
}

TEST(FormatChoice, ScoresFollowTheChannelRules) {
    // 24-bit colour asking for one alpha bit: an 8-bit alpha costs 7, as do the three other 32-bit
    // rows with 2 or 8 alpha bits and 10-bit colour (1 + 3 x 2); losing alpha costs a lost channel.
    const FormatDescriptor keyed = Request(D3DFMT_R8G8B8, 1);
    EXPECT_EQ(FormatMismatchScore(keyed, FindFormatDescriptor(D3DFMT_A8R8G8B8)), 7u);
    EXPECT_EQ(FormatMismatchScore(keyed, FindFormatDescriptor(D3DFMT_A8B8G8R8)), 7u);
    EXPECT_EQ(FormatMismatchScore(keyed, FindFormatDescriptor(D3DFMT_A2R10G10B10)), 7u);
    EXPECT_EQ(FormatMismatchScore(keyed, FindFormatDescriptor(D3DFMT_A2B10G10R10)), 7u);
    EXPECT_EQ(FormatMismatchScore(keyed, FindFormatDescriptor(D3DFMT_X8R8G8B8)), 1u << 24);
    // Narrower channels cost 65536 per bit: 3 bits off each of red, green, blue, alpha kept at 1.
    EXPECT_EQ(FormatMismatchScore(keyed, FindFormatDescriptor(D3DFMT_A1R5G5B5)), 9u * 65536u);
    // A gained channel costs 256: 24-bit colour offered 8 alpha bits it did not ask for.
    EXPECT_EQ(FormatMismatchScore(Request(D3DFMT_R8G8B8), FindFormatDescriptor(D3DFMT_A8R8G8B8)), 256u);
    EXPECT_EQ(ChooseTextureFormat(nullptr, 0, D3DRTYPE_TEXTURE, keyed), D3DFMT_A8R8G8B8);

    // Kinds: luminance may become colour but not signed; signed only signed; depth only depth.
    const FormatDescriptor luminance = Request(D3DFMT_L8);
    EXPECT_NE(FormatMismatchScore(luminance, FindFormatDescriptor(D3DFMT_X8R8G8B8)), kNoFormatMatch);
    EXPECT_EQ(FormatMismatchScore(luminance, FindFormatDescriptor(D3DFMT_V8U8)), kNoFormatMatch);
    EXPECT_EQ(FormatMismatchScore(Request(D3DFMT_V8U8), FindFormatDescriptor(D3DFMT_A8R8G8B8)), kNoFormatMatch);
    EXPECT_EQ(FormatMismatchScore(Request(D3DFMT_D16), FindFormatDescriptor(D3DFMT_D24S8)), 8u + 256u);
    EXPECT_EQ(FormatMismatchScore(Request(D3DFMT_A8R8G8B8), FindFormatDescriptor(D3DFMT_P8)), kNoFormatMatch);
    // Every requested channel lost: alpha-only asked of an opaque format.
    EXPECT_EQ(FormatMismatchScore(Request(D3DFMT_A8), FindFormatDescriptor(D3DFMT_X8R8G8B8)), kNoFormatMatch);
    EXPECT_EQ(FormatMismatchScore(Request(D3DFMT_A8), FindFormatDescriptor(D3DFMT_A8R8G8B8)), 3u * 256u);

    // Without a device every row counts: the exact format wins even when it may not substitute.
    EXPECT_EQ(ChooseTextureFormat(nullptr, 0, D3DRTYPE_TEXTURE, Request(D3DFMT_DXT1)), D3DFMT_DXT1);
    // A colour layout asking for the alpha width of another row gets that row (score 0).
    EXPECT_EQ(ChooseTextureFormat(nullptr, 0, D3DRTYPE_TEXTURE, Request(D3DFMT_X1R5G5B5, 1)), D3DFMT_A1R5G5B5);
    EXPECT_EQ(ChooseTextureFormat(nullptr, 0, D3DRTYPE_TEXTURE, Request(D3DFMT_X4R4G4B4, 4)), D3DFMT_A4R4G4B4);
}

TEST(FormatChoice, DeviceChecksEveryRowWithItsAdapterAndDisplayFormat) {
    ComPtr<IDirect3DDevice9> device = MakeTextureDevice();
    ASSERT_TRUE(device);
    {
        CallRecorder recorder;
        // The software device samples L8 but not P8: paletted requests fall back to 32-bit colour.
        EXPECT_EQ(ChooseTextureFormat(device.Get(), 0, D3DRTYPE_TEXTURE, Request(D3DFMT_L8)), D3DFMT_L8);
        EXPECT_EQ(ChooseTextureFormat(device.Get(), 0, D3DRTYPE_TEXTURE, Request(D3DFMT_P8)), D3DFMT_A8R8G8B8);
        // A depth format has no sampled substitute.
        EXPECT_EQ(ChooseTextureFormat(device.Get(), 0, D3DRTYPE_TEXTURE, Request(D3DFMT_D16)), D3DFMT_UNKNOWN);
        std::vector<std::string> checks = LinesStartingWith(recorder, "CheckDeviceFormat(");
        ASSERT_FALSE(checks.empty());
        // Adapter 0, HAL, the display format X8R8G8B8 (22), usage 0, 2D texture, the first row R8G8B8.
        EXPECT_EQ(checks.front(), "CheckDeviceFormat(0, 1, 22, 0, 3, 20)");
    }
    {
        // A vertex-texture query on a device with software vertex processing adds software processing.
        CallRecorder recorder;
        ChooseTextureFormat(device.Get(), kUsageQueryVertexTexture, D3DRTYPE_TEXTURE, Request(D3DFMT_A8R8G8B8));
        std::vector<std::string> checks = LinesStartingWith(recorder, "CheckDeviceFormat(");
        ASSERT_FALSE(checks.empty());
        EXPECT_EQ(checks.front(), "CheckDeviceFormat(0, 1, 22, " + std::to_string(0x100010) + ", 3, 20)");
        EXPECT_EQ(LinesStartingWith(recorder, "GetCreationParameters(").size(), 1u);
    }
}

struct Sizes {
    UINT width, height, depth, levels;
    D3DFORMAT format;
};

Sizes Check(IDirect3DDevice9* device, Sizes in, DWORD usage = 0, D3DPOOL pool = D3DPOOL_MANAGED,
            D3DRESOURCETYPE type = D3DRTYPE_TEXTURE, HRESULT expected = D3D_OK) {
    Sizes out = in;
    EXPECT_EQ(CheckTextureResourceRequirements(device, &out.width, &out.height, &out.depth, &out.levels, usage,
                                               &out.format, pool, type),
              expected);
    return out;
}

void ExpectSizes(const Sizes& got, UINT width, UINT height, UINT levels) {
    EXPECT_EQ(got.width, width);
    EXPECT_EQ(got.height, height);
    EXPECT_EQ(got.levels, levels);
}

TEST(TextureRequirements, DefaultsAndFullCapabilities) {
    ComPtr<IDirect3DDevice9> device = MakeTextureDevice();
    ASSERT_TRUE(device);
    const UINT d = kDefaultValue;
    Sizes got = Check(device.Get(), {d, d, d, d, D3DFMT_UNKNOWN});
    ExpectSizes(got, 256, 256, 9);
    EXPECT_EQ(got.depth, 1u);
    EXPECT_EQ(got.format, D3DFMT_A8R8G8B8);  // an unknown format asks for 8-bit ARGB
    ExpectSizes(Check(device.Get(), {d, 40, d, 0, D3DFMT_X8R8G8B8}), 40, 40, 6);
    ExpectSizes(Check(device.Get(), {300, d, d, 1, D3DFMT_X8R8G8B8}), 300, 300, 1);
    ExpectSizes(Check(device.Get(), {0, 0, 0, 50, D3DFMT_X8R8G8B8}), 1, 1, 1);
    // This device takes any size; a request above the full chain gets the full chain.
    ExpectSizes(Check(device.Get(), {300, 200, 1, 99, D3DFMT_X8R8G8B8}), 300, 200, 9);
    // Cubes use the larger side; volumes are clamped to the volume extent and count depth too.
    ExpectSizes(Check(device.Get(), {20, 70, 1, 0, D3DFMT_A8R8G8B8}, 0, D3DPOOL_MANAGED, D3DRTYPE_CUBETEXTURE), 70,
                70, 7);
    got = Check(device.Get(), {4, 2, 1000, 0, D3DFMT_A8R8G8B8}, 0, D3DPOOL_MANAGED, D3DRTYPE_VOLUMETEXTURE);
    ExpectSizes(got, 4, 2, 9);
    EXPECT_EQ(got.depth, 256u);
    // DXT sizes are whole blocks; automatic mipmaps ask for level count 0.
    ExpectSizes(Check(device.Get(), {5, 7, 1, 1, D3DFMT_DXT1}), 8, 8, 1);
    ExpectSizes(Check(device.Get(), {64, 64, 1, 0, D3DFMT_A8R8G8B8}, D3DUSAGE_AUTOGENMIPMAP), 64, 64, 0);
    ExpectSizes(Check(device.Get(), {64, 64, 1, 1, D3DFMT_A8R8G8B8}, D3DUSAGE_AUTOGENMIPMAP), 64, 64, 1);
    // Scratch keeps the format and ignores the caps; unknown becomes A8R8G8B8 there too.
    got = Check(device.Get(), {5000, 3, 1, 0, D3DFMT_P8}, 0, D3DPOOL_SCRATCH);
    ExpectSizes(got, 5000, 3, 13);
    EXPECT_EQ(got.format, D3DFMT_P8);
    EXPECT_EQ(Check(device.Get(), {8, 8, 1, 0, D3DFMT_UNKNOWN}, 0, D3DPOOL_SCRATCH).format, D3DFMT_A8R8G8B8);
    // The device clamps to its 4096 maximum.
    ExpectSizes(Check(device.Get(), {9000, 16, 1, 1, D3DFMT_A8R8G8B8}), 4096, 16, 1);

    // Every pointer may be null.
    EXPECT_EQ(CheckTextureRequirements(device.Get(), nullptr, nullptr, nullptr, 0, nullptr, D3DPOOL_MANAGED), D3D_OK);
    UINT height = 17;
    EXPECT_EQ(CheckTextureRequirements(device.Get(), nullptr, &height, nullptr, kDefaultValue, nullptr, D3DPOOL_MANAGED),
              D3D_OK);
    EXPECT_EQ(height, 17u);

    // Bad arguments leave the outputs alone.
    Sizes bad{3, 3, 1, 1, D3DFMT_A8R8G8B8};
    Sizes untouched = Check(nullptr, bad, 0, D3DPOOL_MANAGED, D3DRTYPE_TEXTURE, D3DERR_INVALIDCALL);
    EXPECT_EQ(untouched.width, 3u);
    Check(device.Get(), bad, D3DUSAGE_WRITEONLY, D3DPOOL_MANAGED, D3DRTYPE_TEXTURE, D3DERR_INVALIDCALL);
    Check(device.Get(), bad, 0, static_cast<D3DPOOL>(4), D3DRTYPE_TEXTURE, D3DERR_INVALIDCALL);
    Check(device.Get(), bad, 0, D3DPOOL_MANAGED, D3DRTYPE_SURFACE, D3DERR_INVALIDCALL);
    Check(device.Get(), {3, 3, 1, 1, D3DFMT_D16}, 0, D3DPOOL_MANAGED, D3DRTYPE_TEXTURE, D3DERR_NOTAVAILABLE);
    // Usage -1 counts as 0.
    ExpectSizes(Check(device.Get(), bad, kDefaultValue), 3, 3, 1);
}

TEST(TextureRequirements, ReducedCapabilities) {
    const D3DCAPS9 full = SoftwareCaps();
    CallRecorder recorder;
    const UINT d = kDefaultValue;

    D3DCAPS9 powers = full;
    powers.TextureCaps |= D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_CUBEMAP_POW2 | D3DPTEXTURECAPS_VOLUMEMAP_POW2;
    ComPtr<IDirect3DDevice9> device = MakeReducedDevice(recorder, powers);
    ASSERT_TRUE(device);
    ExpectSizes(Check(device.Get(), {300, 200, 1, d, D3DFMT_X8R8G8B8}), 512, 256, 10);
    Sizes volume = Check(device.Get(), {3, 5, 6, 0, D3DFMT_A8R8G8B8}, 0, D3DPOOL_MANAGED, D3DRTYPE_VOLUMETEXTURE);
    ExpectSizes(volume, 4, 8, 4);
    EXPECT_EQ(volume.depth, 8u);

    // Conditional non-power-of-two: a single level keeps its size; a chain is rounded.
    D3DCAPS9 conditional = powers;
    conditional.TextureCaps |= D3DPTEXTURECAPS_NONPOW2CONDITIONAL;
    device = MakeReducedDevice(recorder, conditional);
    ExpectSizes(Check(device.Get(), {300, 200, 1, 1, D3DFMT_X8R8G8B8}), 300, 200, 1);
    ExpectSizes(Check(device.Get(), {300, 200, 1, 0, D3DFMT_X8R8G8B8}), 512, 256, 10);
    // Non-power-of-two sizes on such a device get no mip chain.
    D3DCAPS9 conditionalOnly = full;
    conditionalOnly.TextureCaps |= D3DPTEXTURECAPS_NONPOW2CONDITIONAL;
    device = MakeReducedDevice(recorder, conditionalOnly);
    ExpectSizes(Check(device.Get(), {300, 200, 1, 0, D3DFMT_X8R8G8B8}), 300, 200, 1);
    ExpectSizes(Check(device.Get(), {256, 64, 1, 0, D3DFMT_X8R8G8B8}), 256, 64, 9);

    // Square only: the width is cut to the height, then the height to the width.
    D3DCAPS9 square = full;
    square.TextureCaps |= D3DPTEXTURECAPS_SQUAREONLY;
    device = MakeReducedDevice(recorder, square);
    ExpectSizes(Check(device.Get(), {300, 200, 1, 1, D3DFMT_X8R8G8B8}), 200, 200, 1);

    // Aspect ratio 2 and a 512 maximum; no mipmaps at all.
    D3DCAPS9 small = full;
    small.MaxTextureAspectRatio = 2;
    small.MaxTextureWidth = 512;
    small.MaxTextureHeight = 512;
    small.TextureCaps &= ~D3DPTEXTURECAPS_MIPMAP;
    device = MakeReducedDevice(recorder, small);
    ExpectSizes(Check(device.Get(), {1000, 100, 1, 0, D3DFMT_X8R8G8B8}), 200, 100, 1);
    ExpectSizes(Check(device.Get(), {2000, 3000, 1, 0, D3DFMT_X8R8G8B8}), 512, 512, 1);
    // Cube maps are clamped but keep their own mip cap.
    ExpectSizes(Check(device.Get(), {2000, 30, 1, 0, D3DFMT_X8R8G8B8}, 0, D3DPOOL_MANAGED, D3DRTYPE_CUBETEXTURE), 512,
                512, 10);
}

TEST(CreateTextureChecked, FitsTheRequestAndDropsQueryUsages) {
    ComPtr<IDirect3DDevice9> device = MakeTextureDevice();
    ASSERT_TRUE(device);
    CallRecorder recorder;
    ComPtr<IDirect3DTexture9> texture;
    ASSERT_EQ(CreateTextureChecked(device.Get(), 5, kDefaultValue, 0, D3DUSAGE_QUERY_FILTER, D3DFMT_R8G8B8,
                                   D3DPOOL_MANAGED, texture.ReleaseAndGetAddressOf()),
              D3D_OK);
    std::vector<std::string> creations = LinesStartingWith(recorder, "CreateTexture(");
    ASSERT_EQ(creations.size(), 1u);
    // 5 x 5, three levels, usage without the query bit, R8G8B8 (sampled by this device), managed.
    EXPECT_EQ(creations[0], "CreateTexture(5, 5, 3, 0, 20, 1, ptr, null)");
    EXPECT_EQ(texture->GetLevelCount(), 3u);

    recorder.Clear();
    ASSERT_EQ(CreateTextureChecked(device.Get(), 4, 4, 1, kDefaultValue, D3DFMT_UNKNOWN, D3DPOOL_SYSTEMMEM,
                                   texture.ReleaseAndGetAddressOf()),
              D3D_OK);
    EXPECT_EQ(LinesStartingWith(recorder, "CreateTexture(")[0], "CreateTexture(4, 4, 1, 0, 21, 2, ptr, null)");
    EXPECT_EQ(CreateTextureChecked(device.Get(), 4, 4, 1, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, nullptr),
              D3DERR_INVALIDCALL);

    // A device without dynamic textures refuses the creation; the refusal comes back as it came.
    D3DCAPS9 noDynamic = SoftwareCaps();
    noDynamic.Caps2 &= ~D3DCAPS2_DYNAMICTEXTURES;
    ComPtr<IDirect3DDevice9> reduced = MakeReducedDevice(recorder, noDynamic);
    ASSERT_TRUE(reduced);
    ComPtr<IDirect3DTexture9> dynamic;
    HRESULT hr = CreateTextureChecked(reduced.Get(), 8, 8, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                      dynamic.ReleaseAndGetAddressOf());
    EXPECT_TRUE(FAILED(hr));
    EXPECT_FALSE(dynamic);
}

void CountMute(BOOL mute);
std::vector<BOOL> gMuteCalls;
void CountMute(BOOL mute) { gMuteCalls.push_back(mute); }

TEST(MuteDebugOutput, CallsTheLoadedRuntimesUnlessTheRegistryForbids) {
    gMuteCalls.clear();
    unsetenv("QUILLMERE_REG_LibraryDoNotMute");
    DebugOutputMuter muter;
    muter.Mute(true);  // no runtime loaded yet: nothing to call, and the next call looks again
    EXPECT_TRUE(gMuteCalls.empty());
    RegisterModuleEntry("D3D9d.dll", "DebugSetMute", reinterpret_cast<FARPROC>(&CountMute));
    muter.Mute(true);
    muter.Mute(false);
    EXPECT_EQ(gMuteCalls, (std::vector<BOOL>{TRUE, FALSE}));

    // The registry value is read once, at the first call: set later it changes nothing.
    setenv("QUILLMERE_REG_LibraryDoNotMute", "1", 1);
    muter.Mute(true);
    EXPECT_EQ(gMuteCalls.size(), 3u);
    // A fresh state reads it and stays silent for good, even after the value goes away.
    DebugOutputMuter forbidden;
    forbidden.Mute(true);
    unsetenv("QUILLMERE_REG_LibraryDoNotMute");
    forbidden.Mute(false);
    EXPECT_EQ(gMuteCalls.size(), 3u);
    // A value of 0 does not forbid.
    setenv("QUILLMERE_REG_LibraryDoNotMute", "0", 1);
    DebugOutputMuter allowed;
    allowed.Mute(true);
    EXPECT_EQ(gMuteCalls.size(), 4u);
    unsetenv("QUILLMERE_REG_LibraryDoNotMute");
    RegisterModuleEntry("d3d9d.dll", "DebugSetMute", nullptr);
    EXPECT_EQ(GetModuleHandleA("d3d9d.dll"), nullptr);
}

}  // namespace
}  // namespace qm::test
