// state_block_shader_test.cpp: shader programs kept as token streams, draws refused while a shader
// is set, the constant registers and N-patch mode with their bounds, and how state blocks record,
// capture and apply them.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/diagnostics.h"
#include "tests/platform/d3d9/d3d9_test_support.h"
#include "tests/platform/d3d9/raster_test_support.h"

namespace {

using d3d9test::CapturingWindow;
using d3d9test::MakeDevice;

// vs_2_0 with a comment block and a def constant that both hold the end token's bit pattern: the
// program is 17 tokens long, not 3.
const std::vector<DWORD> kVertexProgram20 = {
    D3DVS_VERSION(2, 0),
    D3DSHADER_COMMENT(2), 0x0000FFFF, 0x12345678,
    0x05000051, 0xA00F0000, 0x0000FFFF, 0x3F800000, 0, 0,  // def c0, raw words
    0x0200001F, 0x80000000, 0x900F0000,                    // dcl_position v0
    0x02000001, 0xC00F0000, 0x90E40000,                    // mov oPos, v0
    D3DVS_END(),
};

// vs_1_1: instruction tokens carry no length; def is followed by a register and four raw words.
const std::vector<DWORD> kVertexProgram11 = {
    D3DVS_VERSION(1, 1),
    0x00000051, 0xA00F0000, 0x0000FFFF, 0, 0, 0,  // def c0
    0x0000001F, 0x80000000, 0x900F0000,           // dcl_position v0
    0x00000001, 0xC00F0000, 0x90E40000,           // mov oPos, v0
    D3DVS_END(),
};

// ps_1_4 with a phase marker.
const std::vector<DWORD> kPixelProgram14 = {
    D3DPS_VERSION(1, 4), 0x0000FFFD, 0x00000001, 0x800F0000, 0xB0E40000, D3DPS_END(),
};

using F4 = std::array<float, 4>;
using I4 = std::array<int, 4>;

template <class Shader>
std::vector<DWORD> Function(Shader* shader) {
    UINT size = 0;
    EXPECT_EQ(shader->GetFunction(nullptr, &size), D3D_OK);
    std::vector<DWORD> tokens(size / sizeof(DWORD));
    EXPECT_EQ(shader->GetFunction(tokens.data(), &size), D3D_OK);
    return tokens;
}

template <class Shader>
ComPtr<Shader> Make(IDirect3DDevice9* d, HRESULT (IDirect3DDevice9::*create)(const DWORD*, Shader**),
                    const std::vector<DWORD>& program) {
    ComPtr<Shader> shader;
    EXPECT_EQ((d->*create)(program.data(), shader.ReleaseAndGetAddressOf()), D3D_OK);
    return shader;
}

// The shader bound now (still held by the device when bound).
template <class Shader>
Shader* Bound(IDirect3DDevice9* d, HRESULT (IDirect3DDevice9::*get)(Shader**)) {
    ComPtr<Shader> s;
    EXPECT_EQ((d->*get)(s.ReleaseAndGetAddressOf()), D3D_OK);
    return s.Get();
}
IDirect3DVertexShader9* BoundVertexShader(IDirect3DDevice9* d) { return Bound(d, &IDirect3DDevice9::GetVertexShader); }
IDirect3DPixelShader9* BoundPixelShader(IDirect3DDevice9* d) { return Bound(d, &IDirect3DDevice9::GetPixelShader); }

// One constant register read back.
template <std::size_t Width, class T>
std::array<T, Width> Register(IDirect3DDevice9* d, HRESULT (IDirect3DDevice9::*get)(UINT, T*, UINT), UINT r) {
    std::array<T, Width> v;
    v.fill(T(-1));
    EXPECT_EQ((d->*get)(r, v.data(), 1), D3D_OK);
    return v;
}
F4 VertexF(IDirect3DDevice9* d, UINT r) { return Register<4>(d, &IDirect3DDevice9::GetVertexShaderConstantF, r); }
F4 PixelF(IDirect3DDevice9* d, UINT r) { return Register<4>(d, &IDirect3DDevice9::GetPixelShaderConstantF, r); }
I4 VertexI(IDirect3DDevice9* d, UINT r) { return Register<4>(d, &IDirect3DDevice9::GetVertexShaderConstantI, r); }
BOOL PixelB(IDirect3DDevice9* d, UINT r) { return Register<1>(d, &IDirect3DDevice9::GetPixelShaderConstantB, r)[0]; }

TEST(D3d9Shaders, ProgramsAreKeptToTheirEndToken) {
    CapturingWindow window;
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    IDirect3DDevice9* d = device.Get();

    ComPtr<IDirect3DVertexShader9> vs20 = Make(d, &IDirect3DDevice9::CreateVertexShader, kVertexProgram20);
    ComPtr<IDirect3DVertexShader9> vs11 = Make(d, &IDirect3DDevice9::CreateVertexShader, kVertexProgram11);
    ComPtr<IDirect3DPixelShader9> ps14 = Make(d, &IDirect3DDevice9::CreatePixelShader, kPixelProgram14);
    ASSERT_TRUE(vs20 && vs11 && ps14);
    EXPECT_EQ(Function(vs20.Get()), kVertexProgram20);
    EXPECT_EQ(Function(vs11.Get()), kVertexProgram11);
    EXPECT_EQ(Function(ps14.Get()), kPixelProgram14);

    // A buffer one token short is refused and left alone; null size is refused.
    std::vector<DWORD> small(kVertexProgram20.size() - 1, 0xAAAAAAAA);
    UINT size = static_cast<UINT>(small.size() * sizeof(DWORD));
    EXPECT_EQ(vs20->GetFunction(small.data(), &size), D3DERR_INVALIDCALL);
    EXPECT_EQ(small.front(), 0xAAAAAAAAu);
    EXPECT_EQ(vs20->GetFunction(nullptr, nullptr), D3DERR_INVALIDCALL);

    // Streams that are not programs of the stage.
    const std::vector<std::vector<DWORD>> badVertex = {
        kPixelProgram14,                                                          // another stage
        {D3DVS_VERSION(4, 0), D3DVS_END()},                                       // unknown version
        {D3DVS_VERSION(2, 0), 0x01000001, 0xC00F0000, 0x90E40000, D3DVS_END()},  // length too short
    };
    for (const std::vector<DWORD>& program : badVertex) {
        IDirect3DVertexShader9* out = reinterpret_cast<IDirect3DVertexShader9*>(0x1);
        EXPECT_EQ(d->CreateVertexShader(program.data(), &out), D3DERR_INVALIDCALL);
        EXPECT_EQ(out, nullptr);
    }
    IDirect3DPixelShader9* pixelOut = nullptr;
    EXPECT_EQ(d->CreatePixelShader(kVertexProgram11.data(), &pixelOut), D3DERR_INVALIDCALL);
    EXPECT_EQ(d->CreatePixelShader(nullptr, &pixelOut), D3DERR_INVALIDCALL);
    EXPECT_EQ(d->CreateVertexShader(kVertexProgram11.data(), nullptr), D3DERR_INVALIDCALL);
    // No end token within the 2^20 tokens a program may have: refused without reading further.
    std::vector<DWORD> endless((1u << 20) + 16, 0);  // nop after nop
    endless[0] = D3DVS_VERSION(2, 0);
    IDirect3DVertexShader9* endlessOut = nullptr;
    EXPECT_EQ(d->CreateVertexShader(endless.data(), &endlessOut), D3DERR_INVALIDCALL);
    EXPECT_EQ(endlessOut, nullptr);

    // Binding: the device holds the shader; shaders of another device are refused.
    EXPECT_EQ(BoundVertexShader(d), nullptr);
    ASSERT_EQ(d->SetVertexShader(vs20.Get()), D3D_OK);
    IDirect3DVertexShader9* raw = vs20.Get();
    vs20.Reset();
    EXPECT_EQ(BoundVertexShader(d), raw);
    CapturingWindow otherWindow;
    ComPtr<IDirect3DDevice9> other = MakeDevice(otherWindow.Handle());
    ComPtr<IDirect3DVertexShader9> foreign = Make(other.Get(), &IDirect3DDevice9::CreateVertexShader, kVertexProgram11);
    ComPtr<IDirect3DPixelShader9> foreignPixel = Make(other.Get(), &IDirect3DDevice9::CreatePixelShader, kPixelProgram14);
    EXPECT_EQ(d->SetVertexShader(foreign.Get()), D3DERR_INVALIDCALL);
    EXPECT_EQ(d->SetPixelShader(foreignPixel.Get()), D3DERR_INVALIDCALL);
    EXPECT_EQ(BoundVertexShader(d), raw);
    EXPECT_EQ(BoundPixelShader(d), nullptr);
}

TEST(D3d9Shaders, DrawsAreRefusedWhileAShaderIsSet) {
    rastertest::Canvas canvas(8, 8);
    IDirect3DDevice9* d = canvas.Device();
    // A full-target pre-transformed quad in red.
    std::vector<rastertest::ScreenVertex> quad = {
        {0, 0, 0.5f, 1, 0xFFFF0000, 0}, {8, 0, 0.5f, 1, 0xFFFF0000, 0},
        {0, 8, 0.5f, 1, 0xFFFF0000, 0}, {8, 8, 0.5f, 1, 0xFFFF0000, 0}};
    ComPtr<IDirect3DVertexShader9> vs = Make(d, &IDirect3DDevice9::CreateVertexShader, kVertexProgram11);
    ComPtr<IDirect3DPixelShader9> ps = Make(d, &IDirect3DDevice9::CreatePixelShader, kPixelProgram14);

    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    canvas.Clear(0xFF000000);
    ASSERT_EQ(d->SetVertexShader(vs.Get()), D3D_OK);
    EXPECT_EQ(canvas.Draw(rastertest::kScreenFvf, D3DPT_TRIANGLESTRIP, 2, quad), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(canvas.Pixel(3, 4) & 0xFFFFFF, 0u);
    ASSERT_EQ(d->SetVertexShader(nullptr), D3D_OK);
    ASSERT_EQ(d->SetPixelShader(ps.Get()), D3D_OK);
    EXPECT_EQ(canvas.Draw(rastertest::kScreenFvf, D3DPT_TRIANGLESTRIP, 2, quad), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(canvas.Pixel(3, 4) & 0xFFFFFF, 0u);
    // Checks that come first still give their own result: outside a scene is an invalid call.
    EXPECT_EQ(d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad.data(), sizeof(quad[0])), D3DERR_INVALIDCALL);
    // Back on the fixed-function stages, the same call draws every pixel.
    ASSERT_EQ(d->SetPixelShader(nullptr), D3D_OK);
    EXPECT_EQ(canvas.Draw(rastertest::kScreenFvf, D3DPT_TRIANGLESTRIP, 2, quad), D3D_OK);
    std::vector<std::uint32_t> pixels = canvas.Pixels();
    for (std::uint32_t p : pixels) EXPECT_EQ(p & 0xFFFFFF, 0xFF0000u);
}

TEST(D3d9Shaders, ConstantRegistersAndTheirBounds) {
    CapturingWindow window;
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    IDirect3DDevice9* d = device.Get();
    CallRecorder recorder;

    // The last registers of each bank take values; every register starts at 0.
    EXPECT_EQ(VertexF(d, 100), (F4{0, 0, 0, 0}));
    const float twoF[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(d->SetVertexShaderConstantF(254, twoF, 2), D3D_OK);
    EXPECT_EQ(VertexF(d, 254), (F4{1, 2, 3, 4}));
    EXPECT_EQ(VertexF(d, 255), (F4{5, 6, 7, 8}));
    EXPECT_EQ(VertexF(d, 253), (F4{0, 0, 0, 0}));
    ASSERT_EQ(d->SetPixelShaderConstantF(223, twoF, 1), D3D_OK);
    EXPECT_EQ(PixelF(d, 223), (F4{1, 2, 3, 4}));
    const int ints[4] = {-7, 0, 9, 1 << 30};
    ASSERT_EQ(d->SetVertexShaderConstantI(15, ints, 1), D3D_OK);
    EXPECT_EQ(VertexI(d, 15), (I4{-7, 0, 9, 1 << 30}));
    const BOOL bools[3] = {TRUE, FALSE, 5};
    ASSERT_EQ(d->SetPixelShaderConstantB(13, bools, 3), D3D_OK);
    EXPECT_EQ(PixelB(d, 13), TRUE);
    EXPECT_EQ(PixelB(d, 14), FALSE);
    EXPECT_EQ(PixelB(d, 15), 5);
    // The vertex and pixel banks are separate.
    EXPECT_EQ(VertexF(d, 223), (F4{0, 0, 0, 0}));

    // Ranges beyond the last register (the pixel float bank ends at 223), wrapping start registers
    // and null data are refused and change nothing.
    const float other[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_EQ(d->SetVertexShaderConstantF(255, other, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(d->SetVertexShaderConstantF(0xFFFFFFFFu, other, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(d->SetPixelShaderConstantF(224, other, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(d->SetPixelShaderConstantF(223, other, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(d->SetVertexShaderConstantI(16, ints, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(d->SetPixelShaderConstantB(14, bools, 3), D3DERR_INVALIDCALL);
    EXPECT_EQ(d->SetVertexShaderConstantF(0, nullptr, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(d->SetPixelShaderConstantI(0, nullptr, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(VertexF(d, 255), (F4{5, 6, 7, 8}));
    EXPECT_EQ(PixelF(d, 222), (F4{0, 0, 0, 0}));
    EXPECT_EQ(PixelF(d, 223), (F4{1, 2, 3, 4}));
    EXPECT_EQ(PixelB(d, 14), FALSE);
    float read[8] = {};
    EXPECT_EQ(d->GetPixelShaderConstantF(223, read, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(d->GetVertexShaderConstantB(0, nullptr, 1), D3DERR_INVALIDCALL);

    // N-patch mode: stored and reported as set.
    EXPECT_EQ(d->GetNPatchMode(), 0.0f);
    ASSERT_EQ(d->SetNPatchMode(2.5f), D3D_OK);
    EXPECT_EQ(d->GetNPatchMode(), 2.5f);

    // The recorder writes the calls in its usual form: data arrays as ptr, floats in %.9g.
    std::vector<std::string> lines = recorder.Lines();
    auto has = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
    EXPECT_TRUE(has("SetVertexShaderConstantF(254, ptr, 2)"));
    EXPECT_TRUE(has("SetVertexShaderConstantF(0, null, 1)"));
    EXPECT_TRUE(has("SetNPatchMode(2.5)"));

    // A pure device does not give state back.
    CapturingWindow pureWindow;
    ComPtr<IDirect3DDevice9> pure =
        MakeDevice(pureWindow.Handle(), D3DFMT_D16, D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_PUREDEVICE);
    ASSERT_EQ(pure->SetVertexShaderConstantF(0, twoF, 1), D3D_OK);
    EXPECT_EQ(pure->GetVertexShaderConstantF(0, read, 1), D3DERR_INVALIDCALL);
    ComPtr<IDirect3DVertexShader9> none;
    EXPECT_EQ(pure->GetVertexShader(none.ReleaseAndGetAddressOf()), D3DERR_INVALIDCALL);
}

TEST(D3d9Shaders, RecordedBlocksHoldExactlyTheShaderStatesSet) {
    CapturingWindow window;
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    IDirect3DDevice9* d = device.Get();
    ComPtr<IDirect3DVertexShader9> vs = Make(d, &IDirect3DDevice9::CreateVertexShader, kVertexProgram20);
    ComPtr<IDirect3DPixelShader9> ps = Make(d, &IDirect3DDevice9::CreatePixelShader, kPixelProgram14);

    const float recordedF[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const BOOL recordedB[1] = {TRUE};
    ASSERT_EQ(d->BeginStateBlock(), D3D_OK);
    d->SetVertexShader(vs.Get());
    d->SetVertexShaderConstantF(10, recordedF, 2);
    d->SetPixelShaderConstantB(3, recordedB, 1);
    d->SetNPatchMode(4.0f);
    EXPECT_EQ(d->SetVertexShaderConstantF(300, recordedF, 1), D3DERR_INVALIDCALL);  // not recorded
    // Recording leaves the device as it was.
    EXPECT_EQ(BoundVertexShader(d), nullptr);
    EXPECT_EQ(VertexF(d, 10), (F4{0, 0, 0, 0}));
    EXPECT_EQ(PixelB(d, 3), FALSE);
    EXPECT_EQ(d->GetNPatchMode(), 0.0f);
    ComPtr<IDirect3DStateBlock9> block;
    ASSERT_EQ(d->EndStateBlock(block.ReleaseAndGetAddressOf()), D3D_OK);

    // Registers next to the recorded ones, the pixel shader and other banks are not the block's.
    const float neighbourF[12] = {-1, -1, -1, -1, -2, -2, -2, -2, -3, -3, -3, -3};
    d->SetVertexShaderConstantF(9, neighbourF, 3);  // 9, 10, 11
    d->SetVertexShaderConstantF(12, neighbourF, 1);
    d->SetPixelShader(ps.Get());
    d->SetPixelShaderConstantF(10, recordedF, 1);
    ASSERT_EQ(block->Apply(), D3D_OK);
    EXPECT_EQ(BoundVertexShader(d), vs.Get());
    EXPECT_EQ(VertexF(d, 9), (F4{-1, -1, -1, -1}));
    EXPECT_EQ(VertexF(d, 10), (F4{1, 2, 3, 4}));
    EXPECT_EQ(VertexF(d, 11), (F4{5, 6, 7, 8}));
    EXPECT_EQ(VertexF(d, 12), (F4{-1, -1, -1, -1}));
    EXPECT_EQ(PixelB(d, 3), TRUE);
    EXPECT_EQ(d->GetNPatchMode(), 4.0f);
    EXPECT_EQ(BoundPixelShader(d), ps.Get());
    EXPECT_EQ(PixelF(d, 10), (F4{1, 2, 3, 4}));

    // Capture takes the current values of exactly those states.
    const float capturedF[8] = {20, 21, 22, 23, 24, 25, 26, 27};
    d->SetVertexShader(nullptr);
    d->SetVertexShaderConstantF(10, capturedF, 2);
    d->SetNPatchMode(1.5f);
    ASSERT_EQ(block->Capture(), D3D_OK);
    d->SetVertexShader(vs.Get());
    d->SetVertexShaderConstantF(10, recordedF, 2);
    d->SetNPatchMode(8.0f);
    d->SetPixelShader(nullptr);
    ASSERT_EQ(block->Apply(), D3D_OK);
    EXPECT_EQ(BoundVertexShader(d), nullptr);
    EXPECT_EQ(VertexF(d, 10), (F4{20, 21, 22, 23}));
    EXPECT_EQ(VertexF(d, 11), (F4{24, 25, 26, 27}));
    EXPECT_EQ(d->GetNPatchMode(), 1.5f);
    EXPECT_EQ(BoundPixelShader(d), nullptr);
}

TEST(D3d9Shaders, PixelAndVertexBlocksSplitTheShaderStates) {
    CapturingWindow window;
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    IDirect3DDevice9* d = device.Get();
    ComPtr<IDirect3DVertexShader9> vs = Make(d, &IDirect3DDevice9::CreateVertexShader, kVertexProgram11);
    ComPtr<IDirect3DPixelShader9> ps = Make(d, &IDirect3DDevice9::CreatePixelShader, kPixelProgram14);

    const float vertexF[4] = {1, 2, 3, 4}, pixelF[4] = {5, 6, 7, 8}, zeroF[4] = {};
    const int vertexI[4] = {1, 1, 1, 1}, zeroI[4] = {};
    const BOOL on = TRUE, off = FALSE;
    d->SetVertexShader(vs.Get());
    d->SetPixelShader(ps.Get());
    d->SetVertexShaderConstantF(255, vertexF, 1);
    d->SetVertexShaderConstantI(2, vertexI, 1);
    d->SetPixelShaderConstantF(223, pixelF, 1);
    d->SetPixelShaderConstantB(15, &on, 1);
    d->SetNPatchMode(3.0f);
    ComPtr<IDirect3DStateBlock9> all, pixel, vertex;
    ASSERT_EQ(d->CreateStateBlock(D3DSBT_ALL, all.ReleaseAndGetAddressOf()), D3D_OK);
    ASSERT_EQ(d->CreateStateBlock(D3DSBT_PIXELSTATE, pixel.ReleaseAndGetAddressOf()), D3D_OK);
    ASSERT_EQ(d->CreateStateBlock(D3DSBT_VERTEXSTATE, vertex.ReleaseAndGetAddressOf()), D3D_OK);

    auto scramble = [&] {
        d->SetVertexShader(nullptr);
        d->SetPixelShader(nullptr);
        d->SetVertexShaderConstantF(255, zeroF, 1);
        d->SetVertexShaderConstantI(2, zeroI, 1);
        d->SetPixelShaderConstantF(223, zeroF, 1);
        d->SetPixelShaderConstantB(15, &off, 1);
        d->SetNPatchMode(0.0f);
    };
    auto vertexStateIs = [&](bool restored) {
        EXPECT_EQ(BoundVertexShader(d), restored ? vs.Get() : nullptr);
        EXPECT_EQ(VertexF(d, 255), restored ? (F4{1, 2, 3, 4}) : (F4{0, 0, 0, 0}));
        EXPECT_EQ(VertexI(d, 2), restored ? (I4{1, 1, 1, 1}) : (I4{0, 0, 0, 0}));
        EXPECT_EQ(d->GetNPatchMode(), restored ? 3.0f : 0.0f);
    };
    auto pixelStateIs = [&](bool restored) {
        EXPECT_EQ(BoundPixelShader(d), restored ? ps.Get() : nullptr);
        EXPECT_EQ(PixelF(d, 223), restored ? (F4{5, 6, 7, 8}) : (F4{0, 0, 0, 0}));
        EXPECT_EQ(PixelB(d, 15), restored ? TRUE : FALSE);
    };

    scramble();
    ASSERT_EQ(pixel->Apply(), D3D_OK);
    pixelStateIs(true);
    vertexStateIs(false);

    scramble();
    ASSERT_EQ(vertex->Apply(), D3D_OK);
    vertexStateIs(true);
    pixelStateIs(false);

    scramble();
    ASSERT_EQ(all->Apply(), D3D_OK);
    vertexStateIs(true);
    pixelStateIs(true);

    // Capturing a pixel block does not take vertex values: after a capture of the scrambled state,
    // applying it leaves the vertex states that were restored since.
    scramble();
    ASSERT_EQ(pixel->Capture(), D3D_OK);
    all->Apply();
    pixel->Apply();
    pixelStateIs(false);
    vertexStateIs(true);
}

}  // namespace
