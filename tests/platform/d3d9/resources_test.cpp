// resources_test.cpp: vertex and index buffers (creation checks, lock bounds, nesting, discard),
// reference counts of bound resources, private data, vertex formats and draw-call validation.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/resources.h"
#include "platform/d3d9/vertex_format.h"
#include "tests/platform/d3d9/d3d9_test_support.h"

namespace {

using d3d9test::CapturingWindow;
using d3d9test::MakeDevice;

// An object that notes its own destruction, to be held as private data.
class Probe final : public RefCounted<Probe, IUnknown> {
public:
    explicit Probe(bool* destroyed) : destroyed_(destroyed) {}
    ~Probe() { *destroyed_ = true; }

private:
    bool* destroyed_;
};

constexpr GUID kProbeTag = {0x6A0D3A11, 0x27B4, 0x4C1E, {0x9B, 0x52, 0x10, 0x33, 0x71, 0xE4, 0x0C, 0x5D}};

ULONG Count(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

constexpr DWORD kQuadFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

ComPtr<IDirect3DVertexBuffer9> MakeVertexBuffer(IDirect3DDevice9* device, UINT length, DWORD usage = 0,
                                                DWORD fvf = kQuadFvf, D3DPOOL pool = D3DPOOL_DEFAULT) {
    ComPtr<IDirect3DVertexBuffer9> vb;
    EXPECT_EQ(device->CreateVertexBuffer(length, usage, fvf, pool, vb.ReleaseAndGetAddressOf(), nullptr), D3D_OK);
    return vb;
}

TEST(D3d9VertexFormat, SizesAndValidity) {
    using qm::d3d9::FvfVertexSize;
    using qm::d3d9::IsValidFvf;
    EXPECT_EQ(FvfVertexSize(kQuadFvf), 28u);
    EXPECT_EQ(FvfVertexSize(D3DFVF_XYZ | D3DFVF_DIFFUSE), 16u);
    EXPECT_EQ(FvfVertexSize(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1), 32u);
    EXPECT_EQ(FvfVertexSize(D3DFVF_XYZ | D3DFVF_TEX2 | D3DFVF_TEXCOORDSIZE3(0) | D3DFVF_TEXCOORDSIZE1(1)), 28u);
    EXPECT_EQ(FvfVertexSize(D3DFVF_XYZB3 | D3DFVF_LASTBETA_UBYTE4 | D3DFVF_PSIZE | D3DFVF_SPECULAR), 32u);
    EXPECT_TRUE(IsValidFvf(0));
    EXPECT_TRUE(IsValidFvf(D3DFVF_XYZW | D3DFVF_TEX8));
    EXPECT_FALSE(IsValidFvf(D3DFVF_RESERVED0 | D3DFVF_XYZ));
    EXPECT_FALSE(IsValidFvf(D3DFVF_XYZ | 0x2000));
    EXPECT_FALSE(IsValidFvf(D3DFVF_XYZ | 0x900));  // nine coordinate sets
    EXPECT_FALSE(IsValidFvf(D3DFVF_XYZ | D3DFVF_LASTBETA_D3DCOLOR));
    EXPECT_FALSE(IsValidFvf(0x4004));
}

TEST(D3d9Buffers, CreationChecks) {
    CapturingWindow window(8, 8);
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    IDirect3DVertexBuffer9* vb = nullptr;
    HANDLE shared = nullptr;
    EXPECT_EQ(device->CreateVertexBuffer(0, 0, 0, D3DPOOL_DEFAULT, &vb, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateVertexBuffer(112, 0, kQuadFvf, D3DPOOL_DEFAULT, &vb, &shared), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateVertexBuffer(112, 0, kQuadFvf, D3DPOOL_SCRATCH, &vb, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateVertexBuffer(112, D3DUSAGE_DYNAMIC, 0, D3DPOOL_MANAGED, &vb, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateVertexBuffer(112, D3DUSAGE_RENDERTARGET, 0, D3DPOOL_DEFAULT, &vb, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateVertexBuffer(27, 0, kQuadFvf, D3DPOOL_DEFAULT, &vb, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateVertexBuffer(112, 0, 0x2002, D3DPOOL_DEFAULT, &vb, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(vb, nullptr);
    EXPECT_EQ(device->CreateVertexBuffer(112, 0, 0, D3DPOOL_DEFAULT, nullptr, nullptr), D3DERR_INVALIDCALL);

    ComPtr<IDirect3DVertexBuffer9> quad = MakeVertexBuffer(device.Get(), 112, D3DUSAGE_WRITEONLY);
    D3DVERTEXBUFFER_DESC desc{};
    quad->GetDesc(&desc);
    EXPECT_EQ(desc.Format, D3DFMT_VERTEXDATA);
    EXPECT_EQ(desc.Type, D3DRTYPE_VERTEXBUFFER);
    EXPECT_EQ(desc.Usage, D3DUSAGE_WRITEONLY);
    EXPECT_EQ(desc.Pool, D3DPOOL_DEFAULT);
    EXPECT_EQ(desc.Size, 112u);
    EXPECT_EQ(desc.FVF, kQuadFvf);
    EXPECT_EQ(quad->GetType(), D3DRTYPE_VERTEXBUFFER);

    IDirect3DIndexBuffer9* ib = nullptr;
    EXPECT_EQ(device->CreateIndexBuffer(12, 0, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &ib, nullptr), D3DERR_INVALIDCALL);
    ASSERT_EQ(device->CreateIndexBuffer(12, 0, D3DFMT_INDEX32, D3DPOOL_SYSTEMMEM, &ib, nullptr), D3D_OK);
    D3DINDEXBUFFER_DESC ibDesc{};
    ib->GetDesc(&ibDesc);
    EXPECT_EQ(ibDesc.Format, D3DFMT_INDEX32);
    EXPECT_EQ(ibDesc.Pool, D3DPOOL_SYSTEMMEM);
    EXPECT_EQ(ibDesc.Size, 12u);
    ib->Release();
}

TEST(D3d9Buffers, LocksStayInBoundsAndNest) {
    CapturingWindow window(8, 8);
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    ComPtr<IDirect3DVertexBuffer9> vb = MakeVertexBuffer(device.Get(), 112);
    void* whole = nullptr;
    ASSERT_EQ(vb->Lock(0, 0, &whole, 0), D3D_OK);
    for (int i = 0; i < 112; ++i) static_cast<std::uint8_t*>(whole)[i] = static_cast<std::uint8_t>(i);
    // A second lock nests and sees the same bytes at its offset.
    void* part = nullptr;
    ASSERT_EQ(vb->Lock(100, 12, &part, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(static_cast<std::uint8_t*>(part)[0], 100);
    EXPECT_EQ(static_cast<std::uint8_t*>(part)[11], 111);
    EXPECT_EQ(vb->Unlock(), D3D_OK);
    EXPECT_EQ(vb->Unlock(), D3D_OK);
    EXPECT_EQ(vb->Unlock(), D3DERR_INVALIDCALL);

    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(vb->Lock(100, 13, &p, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(vb->Lock(113, 0, &p, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(vb->Lock(0xFFFFFFF0u, 0x20, &p, 0), D3DERR_INVALIDCALL);  // offset + size wraps
    EXPECT_EQ(vb->Lock(0, 0, &p, D3DLOCK_READONLY | D3DLOCK_DISCARD), D3DERR_INVALIDCALL);
    EXPECT_EQ(vb->Lock(0, 0, &p, 0x1), D3DERR_INVALIDCALL);
    EXPECT_EQ(vb->Lock(0, 0, nullptr, 0), D3DERR_INVALIDCALL);
    ASSERT_EQ(vb->Lock(16, 0, &p, 0), D3D_OK);  // size 0 from an offset runs to the end
    EXPECT_EQ(static_cast<std::uint8_t*>(p)[95], 111);
    vb->Unlock();
}

TEST(D3d9Buffers, DiscardGivesFreshStorageWhileADrawStillReadsTheOld) {
    CapturingWindow window(8, 8);
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    for (DWORD usage : {DWORD{0}, D3DUSAGE_DYNAMIC}) {
        ComPtr<IDirect3DVertexBuffer9> vb = MakeVertexBuffer(device.Get(), 112, usage);
        auto* buffer = dynamic_cast<qm::d3d9::VertexBuffer*>(vb.Get());
        ASSERT_NE(buffer, nullptr);
        void* first = nullptr;
        vb->Lock(0, 0, &first, D3DLOCK_DISCARD);
        std::memset(first, 0xAB, 112);
        vb->Unlock();
        // What a draw in flight holds.
        std::shared_ptr<const qm::d3d9::ByteBlock> inFlight = buffer->Buffer().Storage();

        void* second = nullptr;
        ASSERT_EQ(vb->Lock(0, 112, &second, D3DLOCK_DISCARD), D3D_OK);
        EXPECT_NE(second, first);
        std::memset(second, 0x11, 112);
        vb->Unlock();
        EXPECT_EQ(std::to_integer<int>(inFlight->Data()[0]), 0xAB);
        EXPECT_EQ(std::to_integer<int>(inFlight->Data()[111]), 0xAB);
        // Later plain locks see the new storage.
        void* third = nullptr;
        vb->Lock(0, 0, &third, D3DLOCK_READONLY);
        EXPECT_EQ(third, second);
        EXPECT_EQ(static_cast<std::uint8_t*>(third)[50], 0x11);
        vb->Unlock();
    }
    // A managed, static buffer ignores the discard flag and keeps its bytes.
    ComPtr<IDirect3DVertexBuffer9> managed = MakeVertexBuffer(device.Get(), 64, 0, 0, D3DPOOL_MANAGED);
    auto* buffer = dynamic_cast<qm::d3d9::VertexBuffer*>(managed.Get());
    void* first = nullptr;
    managed->Lock(0, 0, &first, 0);
    static_cast<std::uint8_t*>(first)[7] = 42;
    managed->Unlock();
    std::shared_ptr<const qm::d3d9::ByteBlock> held = buffer->Buffer().Storage();
    void* again = nullptr;
    managed->Lock(0, 0, &again, D3DLOCK_DISCARD);
    EXPECT_EQ(again, first);
    EXPECT_EQ(static_cast<std::uint8_t*>(again)[7], 42);
    managed->Unlock();
}

TEST(D3d9Buffers, BoundResourcesAreHeldByTheDevice) {
    CapturingWindow window(8, 8);
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    ComPtr<IDirect3DVertexBuffer9> vb = MakeVertexBuffer(device.Get(), 112);
    EXPECT_EQ(Count(vb.Get()), 1u);
    ASSERT_EQ(device->SetStreamSource(0, vb.Get(), 0, 28), D3D_OK);
    EXPECT_EQ(Count(vb.Get()), 2u);
    EXPECT_EQ(device->SetStreamSource(0, vb.Get(), 0, 28), D3D_OK);  // binding again adds nothing
    EXPECT_EQ(Count(vb.Get()), 2u);
    ComPtr<IDirect3DVertexBuffer9> got;
    UINT offset = 9, stride = 9;
    ASSERT_EQ(device->GetStreamSource(0, got.ReleaseAndGetAddressOf(), &offset, &stride), D3D_OK);
    EXPECT_EQ(got.Get(), vb.Get());
    EXPECT_EQ(offset, 0u);
    EXPECT_EQ(stride, 28u);
    EXPECT_EQ(Count(vb.Get()), 3u);
    got.Reset();
    EXPECT_EQ(device->SetStreamSource(0, nullptr, 0, 0), D3D_OK);
    EXPECT_EQ(Count(vb.Get()), 1u);

    ComPtr<IDirect3DIndexBuffer9> ib;
    device->CreateIndexBuffer(12, 0, D3DFMT_INDEX16, D3DPOOL_DEFAULT, ib.ReleaseAndGetAddressOf(), nullptr);
    device->SetIndices(ib.Get());
    EXPECT_EQ(Count(ib.Get()), 2u);
    ComPtr<IDirect3DIndexBuffer9> gotIndices;
    device->GetIndices(gotIndices.ReleaseAndGetAddressOf());
    EXPECT_EQ(gotIndices.Get(), ib.Get());

    // The texture carries a probe as private data, which goes when the texture goes.
    bool textureGone = false;
    ComPtr<IDirect3DTexture9> texture;
    ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, texture.ReleaseAndGetAddressOf(),
                                    nullptr),
              D3D_OK);
    {
        ComPtr<Probe> probe = MakeRef<Probe>(&textureGone);
        IUnknown* asUnknown = probe.Get();
        ASSERT_EQ(texture->SetPrivateData(kProbeTag, &asUnknown, sizeof asUnknown, D3DSPD_IUNKNOWN), D3D_OK);
    }
    ASSERT_EQ(device->SetTexture(3, texture.Get()), D3D_OK);
    EXPECT_EQ(Count(texture.Get()), 2u);
    ComPtr<IDirect3DBaseTexture9> gotTexture;
    device->GetTexture(3, gotTexture.ReleaseAndGetAddressOf());
    EXPECT_EQ(gotTexture.Get(), texture.Get());
    gotTexture.Reset();
    device->GetTexture(4, gotTexture.ReleaseAndGetAddressOf());
    EXPECT_EQ(gotTexture.Get(), nullptr);
    EXPECT_EQ(device->SetTexture(16, texture.Get()), D3DERR_INVALIDCALL);
    EXPECT_EQ(Count(texture.Get()), 2u);

    // Buffers of another device are refused.
    ComPtr<IDirect3DDevice9> other = MakeDevice(window.Handle());
    ComPtr<IDirect3DVertexBuffer9> foreign = MakeVertexBuffer(other.Get(), 112);
    EXPECT_EQ(device->SetStreamSource(1, foreign.Get(), 0, 28), D3DERR_INVALIDCALL);
    EXPECT_EQ(Count(foreign.Get()), 1u);

    // The caller lets go; the device keeps what is bound alive until it goes away itself.
    device->SetStreamSource(2, vb.Get(), 0, 28);
    std::weak_ptr<qm::d3d9::ByteBlock> vbStorage = dynamic_cast<qm::d3d9::VertexBuffer*>(vb.Get())->Buffer().Storage();
    vb.Reset();
    ib.Reset();
    gotIndices.Reset();
    texture.Reset();
    EXPECT_FALSE(textureGone);
    EXPECT_FALSE(vbStorage.expired());
    device.Reset();
    EXPECT_TRUE(textureGone);
    EXPECT_TRUE(vbStorage.expired());
}

TEST(D3d9Buffers, ResourcesKnowTheirDeviceAndKeepPrivateData) {
    CapturingWindow window(8, 8);
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    ComPtr<IDirect3DVertexBuffer9> vb = MakeVertexBuffer(device.Get(), 64, 0, 0, D3DPOOL_MANAGED);
    ComPtr<IDirect3DDevice9> owner;
    ASSERT_EQ(vb->GetDevice(owner.ReleaseAndGetAddressOf()), D3D_OK);
    EXPECT_EQ(owner.Get(), device.Get());
    owner.Reset();
    ComPtr<IDirect3DResource9> resource;
    ASSERT_EQ(vb->QueryInterface(IDirect3DResource9::iid, reinterpret_cast<void**>(resource.ReleaseAndGetAddressOf())),
              S_OK);
    EXPECT_EQ(resource->GetType(), D3DRTYPE_VERTEXBUFFER);
    EXPECT_EQ(vb->SetPriority(5), 0u);
    EXPECT_EQ(vb->SetPriority(9), 5u);  // managed resources keep their priority
    EXPECT_EQ(vb->GetPriority(), 9u);

    constexpr GUID kTag = {0x12345678, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
    const char text[] = "quad";
    ASSERT_EQ(vb->SetPrivateData(kTag, text, sizeof text, 0), D3D_OK);
    char out[8] = {};
    DWORD size = 2;
    EXPECT_EQ(vb->GetPrivateData(kTag, out, &size), D3DERR_MOREDATA);
    EXPECT_EQ(size, sizeof text);
    ASSERT_EQ(vb->GetPrivateData(kTag, out, &size), D3D_OK);
    EXPECT_STREQ(out, "quad");
    bool gone = false;
    ComPtr<Probe> probe = MakeRef<Probe>(&gone);
    IUnknown* asUnknown = probe.Get();
    ASSERT_EQ(vb->SetPrivateData(kTag, &asUnknown, sizeof asUnknown, D3DSPD_IUNKNOWN), D3D_OK);
    EXPECT_EQ(probe->RefCount(), 2u);
    EXPECT_EQ(vb->FreePrivateData(kTag), D3D_OK);
    EXPECT_EQ(probe->RefCount(), 1u);
    EXPECT_EQ(vb->GetPrivateData(kTag, out, &size), D3DERR_NOTFOUND);

    // Once the device is gone the buffer still works but has no device to give.
    device.Reset();
    EXPECT_EQ(vb->GetDevice(owner.ReleaseAndGetAddressOf()), D3DERR_INVALIDCALL);
    EXPECT_EQ(owner.Get(), nullptr);
    void* p = nullptr;
    EXPECT_EQ(vb->Lock(0, 0, &p, 0), D3D_OK);
    EXPECT_EQ(vb->Unlock(), D3D_OK);
}

TEST(D3d9Draws, AreValidatedThenLeftToThePipeline) {
    CapturingWindow window(8, 8);
    ComPtr<IDirect3DDevice9> device = MakeDevice(window.Handle());
    ComPtr<IDirect3DVertexBuffer9> quad = MakeVertexBuffer(device.Get(), 112);
    // The sprite path: four 28-byte vertices as a two-triangle strip.
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3DERR_INVALIDCALL);  // outside a scene
    device->BeginScene();
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3DERR_INVALIDCALL);  // no stream, no format
    device->SetStreamSource(0, quad.Get(), 0, 28);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3DERR_INVALIDCALL);  // no vertex format
    device->SetFVF(kQuadFvf);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 1, 2), D3DERR_INVALIDCALL);  // a fifth vertex
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2), D3DERR_INVALIDCALL);   // six vertices
    EXPECT_EQ(device->DrawPrimitive(D3DPT_POINTLIST, 3, 1), D3D_OK);     // the last vertex
    EXPECT_EQ(device->DrawPrimitive(D3DPT_POINTLIST, 0, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawPrimitive(static_cast<D3DPRIMITIVETYPE>(7), 0, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_POINTLIST, 0xFFFFFFFFu, 1), D3DERR_INVALIDCALL);
    device->SetStreamSource(0, quad.Get(), 28, 28);  // an offset of one vertex leaves three
    EXPECT_EQ(device->DrawPrimitive(D3DPT_POINTLIST, 0, 4), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_POINTLIST, 0, 3), D3D_OK);
    device->SetStreamSource(0, quad.Get(), 0, 16);  // narrower than the format's 28 bytes
    EXPECT_EQ(device->DrawPrimitive(D3DPT_POINTLIST, 0, 1), D3DERR_INVALIDCALL);
    device->SetStreamSource(0, quad.Get(), 0, 28);
    void* p = nullptr;
    quad->Lock(0, 0, &p, 0);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_POINTLIST, 0, 1), D3DERR_INVALIDCALL);  // still locked
    quad->Unlock();

    // Indexed: six 16-bit indices over the four vertices.
    ComPtr<IDirect3DIndexBuffer9> ib;
    device->CreateIndexBuffer(12, 0, D3DFMT_INDEX16, D3DPOOL_DEFAULT, ib.ReleaseAndGetAddressOf(), nullptr);
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2), D3DERR_INVALIDCALL);  // no indices
    device->SetIndices(ib.Get());
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2), D3D_OK);
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 1, 2), D3DERR_INVALIDCALL);  // 7th index
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 1, 0, 4, 0, 2), D3DERR_INVALIDCALL);  // 5th vertex
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, -1, 1, 4, 0, 2), D3D_OK);
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, -2, 1, 4, 0, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 0, 0, 2), D3DERR_INVALIDCALL);

    // Draws from caller memory leave stream 0 (and for indexed draws the indices) unbound.
    const float vertices[4 * 7] = {};
    const std::uint16_t indices[6] = {0, 1, 2, 2, 1, 3};
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, vertices, 28), D3D_OK);
    ComPtr<IDirect3DVertexBuffer9> stream;
    UINT offset = 0, stride = 0;
    device->GetStreamSource(0, stream.ReleaseAndGetAddressOf(), &offset, &stride);
    EXPECT_EQ(stream.Get(), nullptr);
    EXPECT_EQ(Count(quad.Get()), 1u);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, nullptr, 28), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, vertices, 20), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 4, 2, indices, D3DFMT_INDEX16, vertices, 28),
              D3D_OK);
    ComPtr<IDirect3DIndexBuffer9> boundIndices;
    device->GetIndices(boundIndices.ReleaseAndGetAddressOf());
    EXPECT_EQ(boundIndices.Get(), nullptr);
    EXPECT_EQ(device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 4, 2, indices, D3DFMT_D16, vertices, 28),
              D3DERR_INVALIDCALL);
    device->EndScene();
}

}  // namespace
