// spinning_mesh.cpp: draws a lit, textured, depth-tested horn torus (a torus without a hole, whose
// inner surface the depth test hides) spinning in front of the camera
// straight through the software Direct3D 9 device, and writes every frame as a PNG file.
//   spinning_mesh DIR [--frames N] [--verify]     (DIR is made when missing)
// --verify reads the written files back and fails unless each is a whole frame whose centre pixel
// shows the mesh rather than the clear colour.
#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/win/host_window.h"

namespace {

constexpr UINT kWidth = 320;
constexpr UINT kHeight = 240;
constexpr D3DCOLOR kClearColour = 0xFF102030u;
constexpr float kPi = 3.14159265f;

struct Vertex {
    float x, y, z;
    float nx, ny, nz;
    float u, v;
};
constexpr DWORD kFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;

// A torus around the z axis: `rings` segments around the axis, `sides` around the tube.
void MakeTorus(int rings, int sides, float major, float minor, std::vector<Vertex>* vertices,
               std::vector<std::uint16_t>* indices) {
    for (int r = 0; r <= rings; ++r) {
        float a = 2.0f * kPi * static_cast<float>(r) / static_cast<float>(rings);
        for (int s = 0; s <= sides; ++s) {
            float b = 2.0f * kPi * static_cast<float>(s) / static_cast<float>(sides);
            float nx = std::cos(a) * std::cos(b), ny = std::sin(a) * std::cos(b), nz = std::sin(b);
            vertices->push_back({major * std::cos(a) + minor * nx, major * std::sin(a) + minor * ny, minor * nz, nx, ny,
                                 nz, 4.0f * static_cast<float>(r) / static_cast<float>(rings),
                                 static_cast<float>(s) / static_cast<float>(sides)});
        }
    }
    for (int r = 0; r < rings; ++r) {
        for (int s = 0; s < sides; ++s) {
            auto at = [&](int rr, int ss) { return static_cast<std::uint16_t>(rr * (sides + 1) + ss); };
            // Both windings are drawn (culling is off), so the order within a triangle is free.
            const std::uint16_t quad[6] = {at(r, s), at(r + 1, s), at(r, s + 1), at(r, s + 1), at(r + 1, s), at(r + 1, s + 1)};
            indices->insert(indices->end(), quad, quad + 6);
        }
    }
}

D3DMATRIX Identity() {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

// Rotation about x by `pitch`, then about y by `yaw`, then moved `distance` along +z.
D3DMATRIX World(float pitch, float yaw, float distance) {
    float cp = std::cos(pitch), sp = std::sin(pitch), cy = std::cos(yaw), sy = std::sin(yaw);
    D3DMATRIX m = Identity();
    // Row vectors: p' = p Rx Ry.
    m._11 = cy;       m._12 = 0.0f; m._13 = -sy;
    m._21 = sp * sy;  m._22 = cp;   m._23 = sp * cy;
    m._31 = cp * sy;  m._32 = -sp;  m._33 = cp * cy;
    m._43 = distance;
    return m;
}

// Left-handed perspective projection: vertical field of view `fov`, depth near..far to 0..1.
D3DMATRIX Perspective(float fov, float aspect, float nearZ, float farZ) {
    D3DMATRIX m{};
    float yScale = 1.0f / std::tan(fov * 0.5f);
    m._11 = yScale / aspect;
    m._22 = yScale;
    m._33 = farZ / (farZ - nearZ);
    m._34 = 1.0f;
    m._43 = -nearZ * farZ / (farZ - nearZ);
    return m;
}

bool WritePng(const std::string& path, const std::vector<std::uint32_t>& argb) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    std::vector<png_byte> row(kWidth * 3);
    bool ok = info != nullptr;
    if (ok && setjmp(png_jmpbuf(png)) != 0) ok = false;
    if (ok) {
        png_init_io(png, file);
        png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (UINT y = 0; y < kHeight; ++y) {
            for (UINT x = 0; x < kWidth; ++x) {
                std::uint32_t c = argb[y * kWidth + x];
                row[3 * x] = static_cast<png_byte>(c >> 16);
                row[3 * x + 1] = static_cast<png_byte>(c >> 8);
                row[3 * x + 2] = static_cast<png_byte>(c);
            }
            png_write_row(png, row.data());
        }
        png_write_end(png, nullptr);
    }
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0 && ok;
}

// Reads a PNG back: true when it is a kWidth x kHeight picture whose centre is not the clear colour.
bool CentreShowsMesh(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGB;
    std::vector<png_byte> pixels(PNG_IMAGE_SIZE(image));
    bool read = png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) != 0;
    if (!read || image.width != kWidth || image.height != kHeight) return false;
    const png_byte* centre = &pixels[3 * ((kHeight / 2) * kWidth + kWidth / 2)];
    std::uint32_t rgb = static_cast<std::uint32_t>(centre[0]) << 16 | static_cast<std::uint32_t>(centre[1]) << 8 | centre[2];
    return rgb != (kClearColour & 0xFFFFFFu);
}

int Fail(const char* what) {
    std::fprintf(stderr, "spinning_mesh: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: spinning_mesh DIR [--frames N] [--verify]\n");
        return 2;
    }
    std::string folder = argv[1];
    int frames = 36;
    bool verify = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
            frames = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--verify") == 0) {
            verify = true;
        } else {
            return Fail("unknown option");
        }
    }
    if (frames < 1) return Fail("--frames needs a positive count");
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) return Fail("cannot make the output folder");

    // The window's frames are read back from the back buffer, so its presents go nowhere.
    std::int32_t window = CreateHostWindow([](void*, const std::uint32_t*, std::int32_t, std::int32_t, std::int32_t) {},
                                           nullptr);
    ComPtr<IDirect3D9> d3d = ComPtr<IDirect3D9>::Adopt(Direct3DCreate9(D3D_SDK_VERSION));
    if (!d3d) return Fail("no Direct3D object");
    D3DPRESENT_PARAMETERS params{};
    params.BackBufferWidth = kWidth;
    params.BackBufferHeight = kHeight;
    params.BackBufferFormat = D3DFMT_X8R8G8B8;
    params.SwapEffect = D3DSWAPEFFECT_DISCARD;
    params.hDeviceWindow = HwndFromId(window);
    params.Windowed = TRUE;
    params.EnableAutoDepthStencil = TRUE;
    params.AutoDepthStencilFormat = D3DFMT_D16;
    params.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
    ComPtr<IDirect3DDevice9> device;
    if (d3d->CreateDevice(0, D3DDEVTYPE_HAL, params.hDeviceWindow, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params,
                          device.ReleaseAndGetAddressOf()) != D3D_OK) {
        return Fail("device creation failed");
    }

    std::vector<Vertex> vertices;
    std::vector<std::uint16_t> indices;
    MakeTorus(48, 24, 0.8f, 0.8f, &vertices, &indices);
    ComPtr<IDirect3DVertexBuffer9> vertexBuffer;
    ComPtr<IDirect3DIndexBuffer9> indexBuffer;
    auto vertexBytes = static_cast<UINT>(vertices.size() * sizeof(Vertex));
    auto indexBytes = static_cast<UINT>(indices.size() * sizeof(std::uint16_t));
    void* data = nullptr;
    if (device->CreateVertexBuffer(vertexBytes, D3DUSAGE_WRITEONLY, kFvf, D3DPOOL_MANAGED,
                                   vertexBuffer.ReleaseAndGetAddressOf(), nullptr) != D3D_OK ||
        vertexBuffer->Lock(0, vertexBytes, &data, 0) != D3D_OK) {
        return Fail("vertex buffer");
    }
    std::memcpy(data, vertices.data(), vertexBytes);
    vertexBuffer->Unlock();
    if (device->CreateIndexBuffer(indexBytes, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED,
                                  indexBuffer.ReleaseAndGetAddressOf(), nullptr) != D3D_OK ||
        indexBuffer->Lock(0, indexBytes, &data, 0) != D3D_OK) {
        return Fail("index buffer");
    }
    std::memcpy(data, indices.data(), indexBytes);
    indexBuffer->Unlock();

    // A 64 x 64 texture of orange and cream checks.
    ComPtr<IDirect3DTexture9> texture;
    D3DLOCKED_RECT locked{};
    if (device->CreateTexture(64, 64, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, texture.ReleaseAndGetAddressOf(),
                              nullptr) != D3D_OK ||
        texture->LockRect(0, &locked, nullptr, 0) != D3D_OK) {
        return Fail("texture");
    }
    for (int y = 0; y < 64; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(locked.pBits) + y * locked.Pitch);
        for (int x = 0; x < 64; ++x) row[x] = (((x >> 3) ^ (y >> 3)) & 1) ? 0xFFF08020u : 0xFFF8F0D8u;
    }
    texture->UnlockRect(0);

    D3DMATRIX view = Identity(), projection = Perspective(kPi / 3.0f, static_cast<float>(kWidth) / kHeight, 0.5f, 20.0f);
    device->SetTransform(D3DTS_VIEW, &view);
    device->SetTransform(D3DTS_PROJECTION, &projection);
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    light.Specular = {1.0f, 1.0f, 1.0f, 1.0f};
    light.Direction = {-0.5f, -0.6f, 0.62f};
    device->SetLight(0, &light);
    device->LightEnable(0, TRUE);
    D3DMATERIAL9 material{};
    material.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    material.Ambient = {1.0f, 1.0f, 1.0f, 1.0f};
    material.Specular = {0.6f, 0.6f, 0.6f, 1.0f};
    material.Power = 24.0f;
    device->SetMaterial(&material);
    device->SetRenderState(D3DRS_AMBIENT, 0xFF303030u);
    device->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    device->SetTexture(0, texture.Get());
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device->SetFVF(kFvf);
    device->SetStreamSource(0, vertexBuffer.Get(), 0, sizeof(Vertex));
    device->SetIndices(indexBuffer.Get());

    ComPtr<IDirect3DSurface9> backBuffer;
    device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, backBuffer.ReleaseAndGetAddressOf());
    std::vector<std::uint32_t> pixels(kWidth * kHeight);
    for (int frame = 0; frame < frames; ++frame) {
        float turn = 2.0f * kPi * static_cast<float>(frame) / static_cast<float>(frames);
        D3DMATRIX world = World(0.6f + 0.5f * std::sin(turn), turn, 3.2f);
        device->SetTransform(D3DTS_WORLD, &world);
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kClearColour, 1.0f, 0);
        device->BeginScene();
        device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, static_cast<UINT>(vertices.size()), 0,
                                     static_cast<UINT>(indices.size() / 3));
        device->EndScene();
        device->Present(nullptr, nullptr, nullptr, nullptr);

        if (backBuffer->LockRect(&locked, nullptr, D3DLOCK_READONLY) != D3D_OK) return Fail("back buffer lock");
        for (UINT y = 0; y < kHeight; ++y) {
            std::memcpy(&pixels[y * kWidth], static_cast<const std::uint8_t*>(locked.pBits) + y * locked.Pitch, kWidth * 4);
        }
        backBuffer->UnlockRect();
        char name[32];
        std::snprintf(name, sizeof name, "/frame%03d.png", frame);
        std::string path = folder + name;
        if (!WritePng(path, pixels)) return Fail(("cannot write " + path).c_str());
        if (verify && !CentreShowsMesh(path)) return Fail(("the mesh is not at the centre of " + path).c_str());
    }
    DestroyHostWindow(window);
    std::printf("spinning_mesh: %d frame%s written to %s\n", frames, frames == 1 ? "" : "s", folder.c_str());
    return 0;
}
