// device_bench.cpp: the software Direct3D 9 device against Mesa's OSMesa renderer (OpenGL 1.x fixed
// function) on the same three scenes at 640x480: lit, textured, depth-tested triangles of about 50
// pixels; full-screen alpha-blended textured quads; points. Printed as frames, million pixels and
// million primitives per second, with the device/Mesa ratio, once per thread count (each in its own
// process, since Mesa reads its thread count once), and how closely the two pictures agree.
#include <GL/osmesa.h>
#include <GL/gl.h>
#include <GL/glext.h>
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/d3d9/d3d9.h"
#include "platform/win/host_window.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr float kFovY = 1.0471976f;  // 60 degrees
constexpr float kNear = 1.0f;
constexpr float kFar = 100.0f;
constexpr int kTextureSize = 256;

// ---- Scenes, shared by both renderers ----

struct MeshVertex {
    float x, y, z;
    float nx, ny, nz;
    float u, v;
};
struct ScreenQuadVertex {  // pre-transformed, for the device; Mesa draws the same corners orthographically
    float x, y, z, rhw;
    std::uint32_t diffuse;
    float u, v;
};
struct PointVertex {
    float x, y, z;
    std::uint32_t diffuse;
};

struct Scene {
    std::string name;
    std::vector<MeshVertex> mesh;
    std::vector<std::uint16_t> indices;
    std::vector<ScreenQuadVertex> quads;  // four corners per quad, drawn as strips
    std::vector<PointVertex> points;
    double pixelsPerFrame = 0;      // pixels rasterised per frame, worked out from the geometry
    double primitivesPerFrame = 0;  // triangles, or points
};

// The world position that the perspective camera (at the origin, looking along +z, left-handed)
// shows at screen pixel (px, py) at depth z.
void Unproject(float px, float py, float z, float* x, float* y) {
    float t = std::tan(kFovY * 0.5f);
    float aspect = static_cast<float>(kWidth) / kHeight;
    *x = (px / kWidth * 2.0f - 1.0f) * t * aspect * z;
    *y = (1.0f - py / kHeight * 2.0f) * t * z;
}

// 20,000 triangles: five layers of 50 x 40 squares of 10 x 10 pixels, each square two triangles of
// 50 pixels, at five depths drawn out of order, each layer shifted so that they overlap unevenly;
// normals bend over each layer so that lighting varies.
Scene MakeTriangleScene() {
    Scene s;
    s.name = "a: 20000 lit textured depth-tested triangles";
    const int columns = 50, rows = 40, cell = 10;
    const float depths[5] = {6.0f, 3.0f, 9.0f, 4.5f, 7.5f};
    const int offsetX[5] = {0, 140, 70, 20, 130};
    const int offsetY[5] = {0, 80, 40, 70, 10};
    for (int layer = 0; layer < 5; ++layer) {
        float z = depths[layer];
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < columns; ++c) {
                auto base = static_cast<std::uint16_t>(s.mesh.size());
                for (int corner = 0; corner < 4; ++corner) {
                    int gx = c + (corner & 1), gy = r + (corner >> 1);
                    float px = static_cast<float>(offsetX[layer] + gx * cell);
                    float py = static_cast<float>(offsetY[layer] + gy * cell);
                    MeshVertex v{};
                    Unproject(px, py, z, &v.x, &v.y);
                    v.z = z;
                    float bx = std::sin(gx * 0.21f + layer), by = std::cos(gy * 0.17f - layer);
                    float length = std::sqrt(bx * bx * 0.25f + by * by * 0.25f + 1.0f);
                    v.nx = bx * 0.5f / length;
                    v.ny = by * 0.5f / length;
                    v.nz = -1.0f / length;
                    v.u = px / kTextureSize;
                    v.v = py / kTextureSize;
                    s.mesh.push_back(v);
                }
                // Clockwise on the screen (front faces for the default culling).
                const std::uint16_t quad[6] = {0, 1, 2, 2, 1, 3};
                for (std::uint16_t i : quad) s.indices.push_back(static_cast<std::uint16_t>(base + i));
            }
        }
    }
    s.primitivesPerFrame = static_cast<double>(s.indices.size() / 3);
    s.pixelsPerFrame = s.primitivesPerFrame * cell * cell / 2.0;
    return s;
}

// Ten full-screen quads, textured, each with its own translucent vertex colour.
Scene MakeFillScene() {
    Scene s;
    s.name = "b: 10 full-screen alpha-blended textured quads";
    for (int q = 0; q < 10; ++q) {
        std::uint32_t alpha = 80 + 12 * static_cast<std::uint32_t>(q);
        std::uint32_t colour = alpha << 24 | (0x40u + 16u * q) << 16 | 0xC0u << 8 | (0xFFu - 12u * q);
        float shift = 0.05f * q;
        for (int corner = 0; corner < 4; ++corner) {
            float x = (corner & 1) ? static_cast<float>(kWidth) : 0.0f;
            float y = (corner >> 1) ? static_cast<float>(kHeight) : 0.0f;
            s.quads.push_back({x, y, 0.5f, 1.0f, colour, x / kTextureSize + shift, y / kTextureSize});
        }
    }
    s.primitivesPerFrame = 20;
    s.pixelsPerFrame = 10.0 * kWidth * kHeight;
    return s;
}

// 50,000 two-pixel points scattered through the view, depth tested.
Scene MakePointScene() {
    Scene s;
    s.name = "c: 50000 points";
    std::mt19937 random(7);
    std::uniform_real_distribution<float> screen(0.0f, 1.0f);
    for (int i = 0; i < 50000; ++i) {
        float z = 2.0f + 20.0f * screen(random);
        PointVertex p{};
        // Centres at pixel centres (whole pixels for the device, half-way for Mesa) keep each point
        // exactly 2 x 2 pixels on both sides.
        float px = std::floor(2.0f + screen(random) * (kWidth - 4)), py = std::floor(2.0f + screen(random) * (kHeight - 4));
        Unproject(px, py, z, &p.x, &p.y);
        p.z = z;
        p.diffuse = 0xFF000000u | static_cast<std::uint32_t>(random() & 0xFFFFFF);
        s.points.push_back(p);
    }
    s.primitivesPerFrame = 50000;
    s.pixelsPerFrame = 50000.0 * 4;
    return s;
}

// A 256 x 256 ARGB texture: checks with a gradient, alpha between 0.5 and 1.
std::vector<std::uint32_t> MakeTexture() {
    std::vector<std::uint32_t> texels(kTextureSize * kTextureSize);
    for (int y = 0; y < kTextureSize; ++y) {
        for (int x = 0; x < kTextureSize; ++x) {
            bool check = ((x >> 4) ^ (y >> 4)) & 1;
            std::uint32_t r = check ? 230 : static_cast<std::uint32_t>(x);
            std::uint32_t g = check ? 200 : static_cast<std::uint32_t>(y);
            std::uint32_t b = static_cast<std::uint32_t>((x + y) / 2);
            std::uint32_t a = 128 + static_cast<std::uint32_t>((x ^ y) & 127);
            texels[static_cast<std::size_t>(y) * kTextureSize + x] = a << 24 | r << 16 | g << 8 | b;
        }
    }
    return texels;
}

// The light and material both sides use: white directional light from above left and behind the
// viewer, grey global ambient, white material.
constexpr float kLightDirection[3] = {0.4f, -0.5f, 0.77f};  // the way the light travels
constexpr float kAmbient = 0.25f;

// ---- The software device ----

class DeviceRenderer {
public:
    DeviceRenderer() : window_(CreateHostWindow(&Ignore, nullptr)) {
        d3d_ = ComPtr<IDirect3D9>::Adopt(Direct3DCreate9(D3D_SDK_VERSION));
        D3DPRESENT_PARAMETERS p{};
        p.BackBufferWidth = kWidth;
        p.BackBufferHeight = kHeight;
        p.BackBufferFormat = D3DFMT_X8R8G8B8;
        p.SwapEffect = D3DSWAPEFFECT_DISCARD;
        p.hDeviceWindow = HwndFromId(window_);
        p.Windowed = TRUE;
        p.EnableAutoDepthStencil = TRUE;
        p.AutoDepthStencilFormat = D3DFMT_D16;
        p.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
        if (!d3d_ || d3d_->CreateDevice(0, D3DDEVTYPE_HAL, p.hDeviceWindow, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p,
                                        device_.ReleaseAndGetAddressOf()) != D3D_OK) {
            std::fprintf(stderr, "device creation failed\n");
            std::exit(1);
        }
        std::vector<std::uint32_t> texels = MakeTexture();
        device_->CreateTexture(kTextureSize, kTextureSize, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                               texture_.ReleaseAndGetAddressOf(), nullptr);
        D3DLOCKED_RECT locked{};
        texture_->LockRect(0, &locked, nullptr, 0);
        for (int y = 0; y < kTextureSize; ++y) {
            std::memcpy(static_cast<std::uint8_t*>(locked.pBits) + static_cast<std::ptrdiff_t>(y) * locked.Pitch,
                        &texels[static_cast<std::size_t>(y) * kTextureSize], kTextureSize * 4);
        }
        texture_->UnlockRect(0);
    }
    ~DeviceRenderer() { DestroyHostWindow(window_); }

    void Load(const Scene& scene) {
        scene_ = &scene;
        vertices_ = nullptr;
        indices_ = nullptr;
        if (!scene.mesh.empty()) {
            Upload(scene.mesh.data(), scene.mesh.size() * sizeof(MeshVertex));
            UINT bytes = static_cast<UINT>(scene.indices.size() * 2);
            device_->CreateIndexBuffer(bytes, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_DEFAULT,
                                       indices_.ReleaseAndGetAddressOf(), nullptr);
            void* data = nullptr;
            indices_->Lock(0, bytes, &data, 0);
            std::memcpy(data, scene.indices.data(), bytes);
            indices_->Unlock();
        } else if (!scene.points.empty()) {
            Upload(scene.points.data(), scene.points.size() * sizeof(PointVertex));
        } else {
            // Pixel centres lie on whole coordinates here and half-way in OpenGL: the corners move
            // half a pixel up and left so that both sample the texture at the same places.
            std::vector<ScreenQuadVertex> shifted = scene.quads;
            for (ScreenQuadVertex& v : shifted) v.x -= 0.5f, v.y -= 0.5f;
            Upload(shifted.data(), shifted.size() * sizeof(ScreenQuadVertex));
        }
    }

    void Frame() {
        const Scene& s = *scene_;
        device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF203040u, 1.0f, 0);
        device_->BeginScene();
        SetCommonState();
        if (!s.mesh.empty()) {
            device_->SetRenderState(D3DRS_LIGHTING, TRUE);
            device_->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
            device_->SetTexture(0, texture_.Get());
            device_->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1);
            device_->SetStreamSource(0, vertices_.Get(), 0, sizeof(MeshVertex));
            device_->SetIndices(indices_.Get());
            device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, static_cast<UINT>(s.mesh.size()), 0,
                                          static_cast<UINT>(s.indices.size() / 3));
        } else if (!s.points.empty()) {
            device_->SetRenderState(D3DRS_LIGHTING, FALSE);
            device_->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
            device_->SetTexture(0, nullptr);
            float size = 2.0f;
            DWORD bits;
            std::memcpy(&bits, &size, 4);
            device_->SetRenderState(D3DRS_POINTSIZE, bits);
            device_->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
            device_->SetStreamSource(0, vertices_.Get(), 0, sizeof(PointVertex));
            device_->DrawPrimitive(D3DPT_POINTLIST, 0, static_cast<UINT>(s.points.size()));
        } else {
            device_->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
            device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
            device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
            device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
            device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
            device_->SetTexture(0, texture_.Get());
            device_->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
            device_->SetStreamSource(0, vertices_.Get(), 0, sizeof(ScreenQuadVertex));
            for (UINT q = 0; q < s.quads.size() / 4; ++q) device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 4 * q, 2);
        }
        device_->EndScene();
    }

    std::vector<std::uint32_t> Pixels() {
        std::vector<std::uint32_t> pixels(static_cast<std::size_t>(kWidth) * kHeight);
        ComPtr<IDirect3DSurface9> back;
        device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, back.ReleaseAndGetAddressOf());
        D3DLOCKED_RECT locked{};
        if (back->LockRect(&locked, nullptr, D3DLOCK_READONLY) != D3D_OK) return pixels;
        for (int y = 0; y < kHeight; ++y) {
            std::memcpy(&pixels[static_cast<std::size_t>(y) * kWidth],
                        static_cast<const std::uint8_t*>(locked.pBits) + static_cast<std::ptrdiff_t>(y) * locked.Pitch,
                        kWidth * 4);
        }
        back->UnlockRect();
        return pixels;
    }

private:
    static void Ignore(void*, const std::uint32_t*, std::int32_t, std::int32_t, std::int32_t) {}

    void Upload(const void* data, std::size_t bytes) {
        device_->CreateVertexBuffer(static_cast<UINT>(bytes), D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT,
                                    vertices_.ReleaseAndGetAddressOf(), nullptr);
        void* target = nullptr;
        vertices_->Lock(0, static_cast<UINT>(bytes), &target, 0);
        std::memcpy(target, data, bytes);
        vertices_->Unlock();
    }

    void SetCommonState() {
        D3DMATRIX identity{};
        identity._11 = identity._22 = identity._33 = identity._44 = 1.0f;
        device_->SetTransform(D3DTS_WORLD, &identity);
        device_->SetTransform(D3DTS_VIEW, &identity);
        // Left-handed perspective projection, z from near to far mapped to 0 to 1.
        float yScale = 1.0f / std::tan(kFovY * 0.5f);
        D3DMATRIX projection{};
        projection._11 = yScale * kHeight / kWidth;
        projection._22 = yScale;
        projection._33 = kFar / (kFar - kNear);
        projection._34 = 1.0f;
        projection._43 = -kNear * kFar / (kFar - kNear);
        device_->SetTransform(D3DTS_PROJECTION, &projection);
        D3DLIGHT9 light{};
        light.Type = D3DLIGHT_DIRECTIONAL;
        light.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
        light.Direction = {kLightDirection[0], kLightDirection[1], kLightDirection[2]};
        device_->SetLight(0, &light);
        device_->LightEnable(0, TRUE);
        D3DMATERIAL9 material{};
        material.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
        material.Ambient = {1.0f, 1.0f, 1.0f, 1.0f};
        device_->SetMaterial(&material);
        auto level = static_cast<DWORD>(kAmbient * 255.0f + 0.5f);
        device_->SetRenderState(D3DRS_AMBIENT, 0xFF000000u | level << 16 | level << 8 | level);
        device_->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        device_->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        device_->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        device_->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    }

    std::int32_t window_;
    ComPtr<IDirect3D9> d3d_;
    ComPtr<IDirect3DDevice9> device_;
    ComPtr<IDirect3DTexture9> texture_;
    ComPtr<IDirect3DVertexBuffer9> vertices_;
    ComPtr<IDirect3DIndexBuffer9> indices_;
    const Scene* scene_ = nullptr;
};

// ---- Mesa ----

class MesaRenderer {
public:
    MesaRenderer() : pixels_(static_cast<std::size_t>(kWidth) * kHeight) {
        context_ = OSMesaCreateContextExt(OSMESA_BGRA, 16, 0, 0, nullptr);
        if (context_ == nullptr || !OSMesaMakeCurrent(context_, pixels_.data(), GL_UNSIGNED_BYTE, kWidth, kHeight)) {
            std::fprintf(stderr, "OSMesa context creation failed\n");
            std::exit(1);
        }
        OSMesaPixelStore(OSMESA_Y_UP, 0);  // row 0 at the top, as the device's back buffer
        genBuffers_ = reinterpret_cast<PFNGLGENBUFFERSPROC>(OSMesaGetProcAddress("glGenBuffers"));
        bindBuffer_ = reinterpret_cast<PFNGLBINDBUFFERPROC>(OSMesaGetProcAddress("glBindBuffer"));
        bufferData_ = reinterpret_cast<PFNGLBUFFERDATAPROC>(OSMesaGetProcAddress("glBufferData"));
        deleteBuffers_ = reinterpret_cast<PFNGLDELETEBUFFERSPROC>(OSMesaGetProcAddress("glDeleteBuffers"));
        genBuffers_(2, buffers_);
        std::vector<std::uint32_t> texels = MakeTexture();
        glGenTextures(1, &texture_);
        glBindTexture(GL_TEXTURE_2D, texture_);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kTextureSize, kTextureSize, 0, GL_BGRA, GL_UNSIGNED_BYTE,
                     texels.data());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
        glViewport(0, 0, kWidth, kHeight);
    }
    ~MesaRenderer() {
        deleteBuffers_(2, buffers_);
        glDeleteTextures(1, &texture_);
        OSMesaDestroyContext(context_);
    }

    static std::string Driver() {
        const GLubyte* renderer = glGetString(GL_RENDERER);
        return renderer != nullptr ? reinterpret_cast<const char*>(renderer) : "unknown";
    }

    void Load(const Scene& scene) {
        scene_ = &scene;
        bindBuffer_(GL_ARRAY_BUFFER, buffers_[0]);
        if (!scene.mesh.empty()) {
            bufferData_(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(scene.mesh.size() * sizeof(MeshVertex)),
                        scene.mesh.data(), GL_STATIC_DRAW);
            bindBuffer_(GL_ELEMENT_ARRAY_BUFFER, buffers_[1]);
            bufferData_(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(scene.indices.size() * 2),
                        scene.indices.data(), GL_STATIC_DRAW);
        } else if (!scene.points.empty()) {
            bufferData_(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(scene.points.size() * sizeof(PointVertex)),
                        scene.points.data(), GL_STATIC_DRAW);
        } else {
            bufferData_(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(scene.quads.size() * sizeof(ScreenQuadVertex)),
                        scene.quads.data(), GL_STATIC_DRAW);
        }
    }

    void Frame() {
        const Scene& s = *scene_;
        glClearColor(0x20 / 255.0f, 0x30 / 255.0f, 0x40 / 255.0f, 1.0f);
        glClearDepth(1.0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glDisableClientState(GL_NORMAL_ARRAY);
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        glDisableClientState(GL_COLOR_ARRAY);
        glEnableClientState(GL_VERTEX_ARRAY);
        if (!s.mesh.empty()) {
            SetPerspective();
            glEnable(GL_DEPTH_TEST);
            glDepthFunc(GL_LEQUAL);
            glEnable(GL_CULL_FACE);
            glFrontFace(GL_CW);  // flipped z keeps the device's clockwise fronts clockwise on the screen
            glEnable(GL_LIGHTING);
            glEnable(GL_LIGHT0);
            const float position[4] = {-kLightDirection[0], -kLightDirection[1], -kLightDirection[2], 0.0f};
            const float white[4] = {1.0f, 1.0f, 1.0f, 1.0f}, black[4] = {0.0f, 0.0f, 0.0f, 1.0f};
            const float ambient[4] = {kAmbient, kAmbient, kAmbient, 1.0f};
            glLightfv(GL_LIGHT0, GL_POSITION, position);
            glLightfv(GL_LIGHT0, GL_DIFFUSE, white);
            glLightfv(GL_LIGHT0, GL_SPECULAR, black);
            glLightfv(GL_LIGHT0, GL_AMBIENT, black);
            glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
            glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, white);
            glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, white);
            glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, black);
            glEnable(GL_TEXTURE_2D);
            glDisable(GL_BLEND);
            bindBuffer_(GL_ARRAY_BUFFER, buffers_[0]);
            bindBuffer_(GL_ELEMENT_ARRAY_BUFFER, buffers_[1]);
            glEnableClientState(GL_NORMAL_ARRAY);
            glEnableClientState(GL_TEXTURE_COORD_ARRAY);
            glVertexPointer(3, GL_FLOAT, sizeof(MeshVertex), nullptr);
            glNormalPointer(GL_FLOAT, sizeof(MeshVertex), reinterpret_cast<void*>(offsetof(MeshVertex, nx)));
            glTexCoordPointer(2, GL_FLOAT, sizeof(MeshVertex), reinterpret_cast<void*>(offsetof(MeshVertex, u)));
            glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(s.indices.size()), GL_UNSIGNED_SHORT, nullptr);
        } else if (!s.points.empty()) {
            SetPerspective();
            glEnable(GL_DEPTH_TEST);
            glDepthFunc(GL_LEQUAL);
            glDisable(GL_LIGHTING);
            glDisable(GL_TEXTURE_2D);
            glDisable(GL_BLEND);
            glPointSize(2.0f);
            bindBuffer_(GL_ARRAY_BUFFER, buffers_[0]);
            glEnableClientState(GL_COLOR_ARRAY);
            glVertexPointer(3, GL_FLOAT, sizeof(PointVertex), nullptr);
            glColorPointer(GL_BGRA, GL_UNSIGNED_BYTE, sizeof(PointVertex),
                           reinterpret_cast<void*>(offsetof(PointVertex, diffuse)));
            glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(s.points.size()));
        } else {
            glMatrixMode(GL_PROJECTION);
            glLoadIdentity();
            glOrtho(0, kWidth, kHeight, 0, -1, 1);
            glMatrixMode(GL_MODELVIEW);
            glLoadIdentity();
            glDisable(GL_DEPTH_TEST);
            glDisable(GL_CULL_FACE);
            glDisable(GL_LIGHTING);
            glEnable(GL_TEXTURE_2D);
            glEnable(GL_BLEND);
            glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
            bindBuffer_(GL_ARRAY_BUFFER, buffers_[0]);
            glEnableClientState(GL_COLOR_ARRAY);
            glEnableClientState(GL_TEXTURE_COORD_ARRAY);
            glVertexPointer(2, GL_FLOAT, sizeof(ScreenQuadVertex), nullptr);
            glColorPointer(GL_BGRA, GL_UNSIGNED_BYTE, sizeof(ScreenQuadVertex),
                           reinterpret_cast<void*>(offsetof(ScreenQuadVertex, diffuse)));
            glTexCoordPointer(2, GL_FLOAT, sizeof(ScreenQuadVertex),
                              reinterpret_cast<void*>(offsetof(ScreenQuadVertex, u)));
            for (GLint q = 0; q < static_cast<GLint>(s.quads.size() / 4); ++q) glDrawArrays(GL_TRIANGLE_STRIP, 4 * q, 4);
        }
        glFinish();
    }

    std::vector<std::uint32_t> Pixels() const { return pixels_; }

private:
    // The device's camera: the same perspective, with z flipped so that its left-handed +z view
    // direction becomes OpenGL's -z.
    void SetPerspective() {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        double top = kNear * std::tan(kFovY * 0.5);
        double right = top * kWidth / kHeight;
        glFrustum(-right, right, -top, top, kNear, kFar);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glScalef(1.0f, 1.0f, -1.0f);
    }

    std::vector<std::uint32_t> pixels_;
    OSMesaContext context_ = nullptr;
    PFNGLGENBUFFERSPROC genBuffers_ = nullptr;
    PFNGLBINDBUFFERPROC bindBuffer_ = nullptr;
    PFNGLBUFFERDATAPROC bufferData_ = nullptr;
    PFNGLDELETEBUFFERSPROC deleteBuffers_ = nullptr;
    GLuint buffers_[2] = {};
    GLuint texture_ = 0;
    const Scene* scene_ = nullptr;
};

// ---- Running ----

struct Setup {
    std::vector<Scene> scenes;
    std::unique_ptr<DeviceRenderer> device;
    std::unique_ptr<MesaRenderer> mesa;
};
Setup* g_setup = nullptr;

template <class Renderer>
void RunScene(benchmark::State& state, Renderer* renderer, const Scene* scene) {
    renderer->Load(*scene);
    renderer->Frame();  // warm caches and lazily prepared data
    for (auto _ : state) renderer->Frame();
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["Mpix/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * scene->pixelsPerFrame * 1e-6,
                                                  benchmark::Counter::kIsRate);
    state.counters["Mprim/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * scene->primitivesPerFrame * 1e-6, benchmark::Counter::kIsRate);
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (!run.error_occurred) seconds[run.run_name.function_name] = run.GetAdjustedRealTime() * 1e-3;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> seconds;  // per frame, by benchmark name
};

// The share of pixels whose channels all lie within `tolerance` levels of the other picture's.
double Agreement(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b, int tolerance) {
    std::size_t close = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        bool near = true;
        for (int channel = 0; channel < 3; ++channel) {
            int ca = static_cast<int>((a[i] >> (8 * channel)) & 0xFF), cb = static_cast<int>((b[i] >> (8 * channel)) & 0xFF);
            near = near && std::abs(ca - cb) <= tolerance;
        }
        close += near ? 1 : 0;
    }
    return static_cast<double>(close) / static_cast<double>(a.size());
}

// Runs every scene on both renderers with `threads` threads each and prints the table of ratios.
int RunWithThreads(int threads, int argc, char** argv) {
    std::string count = std::to_string(threads);
    setenv("QUILLMERE_DEVICE_THREADS", count.c_str(), 1);
    // llvmpipe: 0 rasterises on the calling thread, n > 0 on n threads beside it.
    setenv("LP_NUM_THREADS", threads == 1 ? "0" : count.c_str(), 1);
    Setup setup;
    g_setup = &setup;
    setup.scenes.push_back(MakeTriangleScene());
    setup.scenes.push_back(MakeFillScene());
    setup.scenes.push_back(MakePointScene());
    setup.device = std::make_unique<DeviceRenderer>();
    setup.mesa = std::make_unique<MesaRenderer>();
    std::printf("\n=== %d thread%s: device QUILLMERE_DEVICE_THREADS=%d, Mesa driver \"%s\" with LP_NUM_THREADS=%s ===\n",
                threads, threads == 1 ? "" : "s", threads, MesaRenderer::Driver().c_str(), threads == 1 ? "0" : count.c_str());
    std::fflush(stdout);
    for (const Scene& scene : setup.scenes) {
        benchmark::RegisterBenchmark((scene.name + "/device").c_str(), RunScene<DeviceRenderer>, setup.device.get(), &scene)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((scene.name + "/mesa").c_str(), RunScene<MesaRenderer>, setup.mesa.get(), &scene)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\n%-50s %9s %9s %10s %10s %10s %10s %7s %9s\n", "scene",
                "dev fps", "mesa fps", "dev Mpix/s", "mesa Mpix/s", "dev Mprim/s", "mesa Mprim/s", "ratio", "agree");
    for (const Scene& scene : setup.scenes) {
        auto device = reporter.seconds.find(scene.name + "/device");
        auto mesa = reporter.seconds.find(scene.name + "/mesa");
        if (device == reporter.seconds.end() || mesa == reporter.seconds.end()) continue;
        setup.device->Load(scene);
        setup.device->Frame();
        setup.mesa->Load(scene);
        setup.mesa->Frame();
        double agree = Agreement(setup.device->Pixels(), setup.mesa->Pixels(), 8);
        double df = 1.0 / device->second, mf = 1.0 / mesa->second;
        std::printf("%-50s %9.1f %9.1f %10.1f %10.1f %10.3f %10.3f %7.2f %8.1f%%\n", scene.name.c_str(), df, mf,
                    df * scene.pixelsPerFrame * 1e-6, mf * scene.pixelsPerFrame * 1e-6,
                    df * scene.primitivesPerFrame * 1e-6, mf * scene.primitivesPerFrame * 1e-6, df / mf, 100.0 * agree);
    }
    std::printf("ratio = device frames per second / Mesa frames per second (goal: at least 0.5); agree = pixels "
                "within 8 levels of Mesa's\n");
    std::fflush(stdout);
    return 0;
}

}  // namespace

// Thread counts come from QM_BENCH_THREADS (a comma-separated list; default "1,<cores>"). Each count
// runs in a child process, because Mesa fixes its thread count when it first starts.
int main(int argc, char** argv) {
    std::vector<int> counts;
    if (const char* list = std::getenv("QM_BENCH_THREADS"); list != nullptr && *list != '\0') {
        for (const char* p = list; *p != '\0';) {
            char* end = nullptr;
            long n = std::strtol(p, &end, 10);
            if (end == p) break;
            if (n >= 1 && n <= 64) counts.push_back(static_cast<int>(n));
            p = *end == ',' ? end + 1 : end;
        }
    }
    if (counts.empty()) {
        counts.push_back(1);
        int cores = static_cast<int>(std::thread::hardware_concurrency());
        if (cores > 1) counts.push_back(cores);
    }
    int status = 0;
    for (int threads : counts) {
        std::fflush(stdout);
        pid_t child = fork();
        if (child < 0) return 1;
        if (child == 0) {
            int result = RunWithThreads(threads, argc, argv);
            std::fflush(stdout);
            _exit(result);
        }
        int childStatus = 0;
        waitpid(child, &childStatus, 0);
        if (!WIFEXITED(childStatus) || WEXITSTATUS(childStatus) != 0) status = 1;
    }
    return status;
}
