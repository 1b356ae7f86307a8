// raster_test_support.h: a small drawing harness for the pipeline tests: a device on a host window
// of a chosen size, vertex records for the usual formats, drawing from caller memory inside a scene,
// reading the back buffer and depth buffer back through LockRect, and the device thread count of a
// test.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "tests/platform/d3d9/d3d9_test_support.h"

namespace rastertest {

// D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR.
struct ScreenVertex {
    float x, y, z, rhw;
    D3DCOLOR diffuse;
    D3DCOLOR specular;
};
constexpr DWORD kScreenFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR;

// D3DFVF_XYZ | D3DFVF_NORMAL.
struct LitVertex {
    float x, y, z;
    float nx, ny, nz;
};
constexpr DWORD kLitFvf = D3DFVF_XYZ | D3DFVF_NORMAL;

// D3DFVF_XYZ | D3DFVF_DIFFUSE.
struct ColourVertex {
    float x, y, z;
    D3DCOLOR diffuse;
};
constexpr DWORD kColourFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;

inline DWORD FloatBits(float f) { return std::bit_cast<DWORD>(f); }

// Channel of an ARGB word: 0 blue, 1 green, 2 red, 3 alpha.
inline int Channel(std::uint32_t argb, int channel) { return static_cast<int>((argb >> (8 * channel)) & 0xFF); }

// A colour in [0, 1] as the device stores it in 8 bits: rounded to nearest.
inline int ToByte(double v) {
    if (v < 0.0) v = 0.0;
    if (v > 1.0) v = 1.0;
    return static_cast<int>(std::floor(v * 255.0 + 0.5));
}

class Canvas {
public:
    explicit Canvas(int width, int height, D3DFORMAT depth = D3DFMT_D16, D3DFORMAT backBuffer = D3DFMT_UNKNOWN)
        : window_(width, height), width_(width), height_(height) {
        ComPtr<IDirect3D9> d3d = ComPtr<IDirect3D9>::Adopt(Direct3DCreate9(D3D_SDK_VERSION));
        D3DPRESENT_PARAMETERS params = d3d9test::EngineParameters(window_.Handle(), depth);
        params.BackBufferFormat = backBuffer;
        EXPECT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window_.Handle(), D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params,
                                    device_.ReleaseAndGetAddressOf()),
                  D3D_OK);
    }

    IDirect3DDevice9* Device() const { return device_.Get(); }
    int Width() const { return width_; }
    int Height() const { return height_; }

    void Clear(D3DCOLOR colour, float z = 1.0f) {
        DWORD flags = D3DCLEAR_TARGET;
        ComPtr<IDirect3DSurface9> depth;
        if (device_->GetDepthStencilSurface(depth.ReleaseAndGetAddressOf()) == D3D_OK) flags |= D3DCLEAR_ZBUFFER;
        ASSERT_EQ(device_->Clear(0, nullptr, flags, colour, z, 0), D3D_OK);
    }

    template <class Vertex>
    HRESULT Draw(DWORD fvf, D3DPRIMITIVETYPE type, UINT count, const std::vector<Vertex>& vertices) {
        device_->SetFVF(fvf);
        device_->BeginScene();
        HRESULT hr = device_->DrawPrimitiveUP(type, count, vertices.data(), sizeof(Vertex));
        device_->EndScene();
        return hr;
    }

    template <class Vertex, class Index>
    HRESULT DrawIndexed(DWORD fvf, D3DPRIMITIVETYPE type, UINT count, const std::vector<Vertex>& vertices,
                        const std::vector<Index>& indices) {
        device_->SetFVF(fvf);
        device_->BeginScene();
        HRESULT hr = device_->DrawIndexedPrimitiveUP(type, 0, static_cast<UINT>(vertices.size()), count, indices.data(),
                                                     sizeof(Index) == 4 ? D3DFMT_INDEX32 : D3DFMT_INDEX16,
                                                     vertices.data(), sizeof(Vertex));
        device_->EndScene();
        return hr;
    }

    // The back buffer, rows top first.
    std::vector<std::uint32_t> Pixels() const {
        ComPtr<IDirect3DSurface9> surface;
        device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, surface.ReleaseAndGetAddressOf());
        return Read<std::uint32_t>(surface.Get());
    }
    std::uint32_t Pixel(int x, int y) const { return Pixels()[static_cast<std::size_t>(y * width_ + x)]; }

    // The depth buffer as stored words (16-bit formats widened).
    std::vector<std::uint32_t> DepthWords(int bytesPerPixel) const {
        ComPtr<IDirect3DSurface9> surface;
        device_->GetDepthStencilSurface(surface.ReleaseAndGetAddressOf());
        if (bytesPerPixel == 2) {
            std::vector<std::uint16_t> narrow = Read<std::uint16_t>(surface.Get());
            return std::vector<std::uint32_t>(narrow.begin(), narrow.end());
        }
        return Read<std::uint32_t>(surface.Get());
    }

private:
    template <class Pixel>
    std::vector<Pixel> Read(IDirect3DSurface9* surface) const {
        std::vector<Pixel> pixels;
        D3DLOCKED_RECT locked{};
        EXPECT_EQ(surface->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
        if (locked.pBits == nullptr) return pixels;
        for (int y = 0; y < height_; ++y) {
            const auto* row = reinterpret_cast<const Pixel*>(static_cast<const std::uint8_t*>(locked.pBits) +
                                                             static_cast<std::ptrdiff_t>(y) * locked.Pitch);
            pixels.insert(pixels.end(), row, row + width_);
        }
        surface->UnlockRect();
        return pixels;
    }

    d3d9test::CapturingWindow window_;
    int width_;
    int height_;
    ComPtr<IDirect3DDevice9> device_;
};

// A pre-transformed quad [x0, x1) x [y0, y1) as a two-triangle strip, clockwise on the screen.
inline std::vector<ScreenVertex> Quad(float x0, float y0, float x1, float y1, D3DCOLOR colour, float z = 0.5f,
                                      D3DCOLOR specular = 0) {
    return {{x0, y0, z, 1.0f, colour, specular},
            {x1, y0, z, 1.0f, colour, specular},
            {x0, y1, z, 1.0f, colour, specular},
            {x1, y1, z, 1.0f, colour, specular}};
}

// Sets QUILLMERE_DEVICE_THREADS while a device is made, and restores it after.
class ThreadCountScope {
public:
    explicit ThreadCountScope(int count) {
        if (const char* old = std::getenv("QUILLMERE_DEVICE_THREADS")) saved_ = old, hadValue_ = true;
        setenv("QUILLMERE_DEVICE_THREADS", std::to_string(count).c_str(), 1);
    }
    ~ThreadCountScope() {
        if (hadValue_) {
            setenv("QUILLMERE_DEVICE_THREADS", saved_.c_str(), 1);
        } else {
            unsetenv("QUILLMERE_DEVICE_THREADS");
        }
    }

private:
    std::string saved_;
    bool hadValue_ = false;
};

}  // namespace rastertest
