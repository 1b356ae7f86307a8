// mesh.cpp: the Mesh object: creation from an option word, buffers and locks, the attribute buffer
// and table, drawing by attribute group, cloning with vertex conversion, adjacency and the in-place
// optimisation.
#include "library/mesh/mesh.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <numeric>
#include <span>
#include <vector>

#include "library/mesh/mesh_topology.h"

namespace qm {
namespace {

// Internal flag bits.
constexpr DWORD kFlagAttributeBufferKept = 0x4;
constexpr DWORD kFlagTableValid = 0x10;
constexpr DWORD kFlagSharedVertexBuffer = 0x20;

// The 16-bit class holds fewer than this many faces and vertices.
constexpr DWORD kSmallIndexLimit = 65535;

// Usage bits the option word adds to the vertex buffer, the index buffer, or both.
struct UsageBit {
    DWORD option;
    DWORD usage;
    bool vertexBuffer;
    bool indexBuffer;
};
constexpr UsageBit kUsageBits[] = {
    {kMeshDoNotClip, D3DUSAGE_DONOTCLIP, true, true},
    {kMeshPoints, D3DUSAGE_POINTS, true, true},
    {kMeshRtPatches, D3DUSAGE_RTPATCHES, true, true},
    {kMeshVertexWriteOnly, D3DUSAGE_WRITEONLY, true, false},
    {kMeshVertexDynamic, D3DUSAGE_DYNAMIC, true, false},
    {kMeshIndexWriteOnly, D3DUSAGE_WRITEONLY, false, true},
    {kMeshIndexDynamic, D3DUSAGE_DYNAMIC, false, true},
    {kMeshNPatches, D3DUSAGE_NPATCHES, true, true},
    {kMeshVertexSoftwareProcessing, D3DUSAGE_SOFTWAREPROCESSING, true, false},
    {kMeshIndexSoftwareProcessing, D3DUSAGE_SOFTWAREPROCESSING, false, true},
};

D3DPOOL PoolOf(DWORD options, DWORD systemMemBit, DWORD managedBit) {
    if (options & systemMemBit) return D3DPOOL_SYSTEMMEM;
    if (options & managedBit) return D3DPOOL_MANAGED;
    return D3DPOOL_DEFAULT;
}

// Byte count of count items of size bytes, or 0 when it does not fit a buffer length.
UINT BufferLength(DWORD count, UINT size) {
    std::uint64_t length = std::uint64_t{count} * size;
    return length > 0xFFFFFFFFu ? 0 : static_cast<UINT>(length);
}

// Locks a buffer for the length of a scope.
template <class Buffer>
class ScopedLock {
public:
    ScopedLock(Buffer* buffer, DWORD flags) : buffer_(buffer) {
        result_ = buffer_->Lock(0, 0, &data_, flags | D3DLOCK_NOSYSLOCK);
    }
    ~ScopedLock() {
        if (SUCCEEDED(result_)) buffer_->Unlock();
    }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;
    HRESULT Result() const { return result_; }
    BYTE* Bytes() const { return static_cast<BYTE*>(data_); }

private:
    Buffer* buffer_;
    void* data_ = nullptr;
    HRESULT result_;
};

class MeshObject final : public RefCounted<MeshObject, Mesh> {
public:
    // Validated arguments: a valid declaration, a device, non-zero counts within the class limits.
    static HRESULT Make(DWORD faceCount, DWORD vertexCount, DWORD options, const D3DVERTEXELEMENT9* declaration,
                        IDirect3DDevice9* device, bool makeVertexBuffer, ComPtr<MeshObject>* out);

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object != nullptr && riid == BaseMesh::iid) {
            AddRef();
            *object = static_cast<BaseMesh*>(this);
            return S_OK;
        }
        return RefCounted::QueryInterface(riid, object);
    }

    HRESULT DrawAttributeGroup(DWORD attributeId) override;
    DWORD GetFaceCount() override { return faceCount_; }
    DWORD GetVertexCount() override { return vertexCount_; }
    DWORD GetFVF() override { return fvf_; }
    HRESULT GetDeclaration(D3DVERTEXELEMENT9* declaration) override {
        if (declaration == nullptr) return D3DERR_INVALIDCALL;
        std::memcpy(declaration, declaration_, (DeclarationLength(declaration_) + 1) * sizeof(D3DVERTEXELEMENT9));
        return D3D_OK;
    }
    DWORD GetVertexSize() override { return vertexSize_; }
    DWORD GetOptions() override { return options_; }
    HRESULT GetDevice(IDirect3DDevice9** device) override {
        if (device == nullptr) return D3DERR_INVALIDCALL;
        *device = device_.CopyOut();
        return D3D_OK;
    }
    HRESULT CloneWithFVF(DWORD options, DWORD fvf, IDirect3DDevice9* device, Mesh** clone) override {
        D3DVERTEXELEMENT9 declaration[kMaxDeclarationElements];
        if (HRESULT hr = DeclarationFromFVF(fvf, declaration); FAILED(hr)) {
            if (clone != nullptr) *clone = nullptr;
            return hr;
        }
        return CloneWithDeclaration(options, declaration, device, clone);
    }
    HRESULT CloneWithDeclaration(DWORD options, const D3DVERTEXELEMENT9* declaration, IDirect3DDevice9* device,
                                 Mesh** clone) override;
    HRESULT GetVertexBuffer(IDirect3DVertexBuffer9** buffer) override {
        if (buffer == nullptr) return D3DERR_INVALIDCALL;
        *buffer = vertexBuffer_.CopyOut();
        return D3D_OK;
    }
    HRESULT GetIndexBuffer(IDirect3DIndexBuffer9** buffer) override {
        if (buffer == nullptr) return D3DERR_INVALIDCALL;
        *buffer = indexBuffer_.CopyOut();
        return D3D_OK;
    }
    HRESULT LockVertexBuffer(DWORD flags, void** data) override {
        if (data == nullptr || !vertexBuffer_) return D3DERR_INVALIDCALL;
        return vertexBuffer_->Lock(0, 0, data, flags | D3DLOCK_NOSYSLOCK);
    }
    HRESULT UnlockVertexBuffer() override { return vertexBuffer_ ? vertexBuffer_->Unlock() : D3DERR_INVALIDCALL; }
    HRESULT LockIndexBuffer(DWORD flags, void** data) override {
        if (data == nullptr || !indexBuffer_) return D3DERR_INVALIDCALL;
        return indexBuffer_->Lock(0, 0, data, flags | D3DLOCK_NOSYSLOCK);
    }
    HRESULT UnlockIndexBuffer() override { return indexBuffer_ ? indexBuffer_->Unlock() : D3DERR_INVALIDCALL; }
    HRESULT GetAttributeTable(AttributeRange* entries, DWORD* count) override {
        if (entries != nullptr) std::copy(table_.begin(), table_.end(), entries);
        if (count != nullptr) *count = static_cast<DWORD>(table_.size());
        return D3D_OK;
    }
    HRESULT AdjacencyFromPointReps(const DWORD* pointReps, DWORD* adjacency) override;
    HRESULT PointRepsFromAdjacency(const DWORD* adjacency, DWORD* pointReps) override;
    HRESULT GenerateAdjacency(float tolerance, DWORD* adjacency) override;
    HRESULT ReplaceDeclaration(const D3DVERTEXELEMENT9* declaration) override;
    HRESULT LockAttributeBuffer(DWORD flags, DWORD** data) override {
        if (data == nullptr) return D3DERR_INVALIDCALL;
        if ((flags & D3DLOCK_READONLY) == 0) {
            table_.clear();
            flags_ &= ~kFlagTableValid;
        }
        *data = attributes_.data();
        return D3D_OK;
    }
    HRESULT UnlockAttributeBuffer() override { return D3D_OK; }
    HRESULT Optimize(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                     DataBuffer** vertexRemap, Mesh** optimized) override;
    HRESULT OptimizeInPlace(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                            DataBuffer** vertexRemap) override;
    HRESULT SetAttributeRanges(const AttributeRange* entries, DWORD count) override;

private:
    void SetDeclarationFields(const D3DVERTEXELEMENT9* declaration) {
        std::memcpy(declaration_, declaration, (DeclarationLength(declaration) + 1) * sizeof(D3DVERTEXELEMENT9));
        DWORD fvf = 0;
        fvf_ = SUCCEEDED(FVFFromDeclaration(declaration, &fvf)) ? fvf : 0;
        vertexSize_ = DeclarationVertexSize(declaration, 0);
    }
    HRESULT MakeVertexBuffer(DWORD vertexCount, ComPtr<IDirect3DVertexBuffer9>* out) const {
        UINT length = BufferLength(vertexCount, vertexSize_);
        if (length == 0 && vertexCount != 0 && vertexSize_ != 0) return E_OUTOFMEMORY;
        return device_->CreateVertexBuffer(length, vertexUsage_, fvf_, vertexPool_, out->ReleaseAndGetAddressOf(),
                                           nullptr);
    }
    HRESULT ReadIndices(std::vector<DWORD>* out) const;
    // Calls use(indices, count) with the index list as 32-bit values.
    template <class Use>
    HRESULT WithIndices(Use use) const;
    HRESULT WriteIndices(std::span<const DWORD> indices) const;
    // Positions (x, y, z per vertex) of the position element; invalid-call without one.
    HRESULT ReadPositions(std::vector<float>* out) const;

    DWORD fvf_ = 0;
    ComPtr<IDirect3DVertexDeclaration9> declarationObject_;
    D3DVERTEXELEMENT9 declaration_[kMaxDeclarationElements] = {};
    DWORD options_ = 0;
    DWORD flags_ = kFlagAttributeBufferKept;
    D3DPOOL indexPool_ = D3DPOOL_DEFAULT;
    D3DPOOL vertexPool_ = D3DPOOL_DEFAULT;
    DWORD indexUsage_ = 0;
    DWORD vertexUsage_ = 0;
    ComPtr<IDirect3D9> direct3d_;
    ComPtr<IDirect3DDevice9> device_;
    ComPtr<IDirect3DVertexBuffer9> vertexBuffer_;
    DWORD vertexSize_ = 0;
    DWORD vertexCount_ = 0;
    ComPtr<IDirect3DIndexBuffer9> indexBuffer_;
    bool wideIndices_ = false;
    MeshArray<DWORD> attributes_;
    std::vector<AttributeRange> table_;
    DWORD faceCount_ = 0;
};

HRESULT MeshObject::Make(DWORD faceCount, DWORD vertexCount, DWORD options, const D3DVERTEXELEMENT9* declaration,
                         IDirect3DDevice9* device, bool makeVertexBuffer, ComPtr<MeshObject>* out) {
    const bool wide = (options & kMesh32BitIndices) != 0;
    if (!wide && (faceCount >= kSmallIndexLimit || vertexCount >= kSmallIndexLimit)) return D3DERR_INVALIDCALL;
    ComPtr<MeshObject> mesh = MakeRef<MeshObject>();
    if (!mesh) return E_OUTOFMEMORY;
    mesh->SetDeclarationFields(declaration);
    mesh->options_ = options;
    mesh->wideIndices_ = wide;
    mesh->vertexPool_ = PoolOf(options, kMeshVertexSystemMem, kMeshVertexManaged);
    mesh->indexPool_ = PoolOf(options, kMeshIndexSystemMem, kMeshIndexManaged);
    for (const UsageBit& bit : kUsageBits) {
        if ((options & bit.option) == 0) continue;
        if (bit.vertexBuffer) mesh->vertexUsage_ |= bit.usage;
        if (bit.indexBuffer) mesh->indexUsage_ |= bit.usage;
    }
    mesh->device_ = ComPtr<IDirect3DDevice9>(device);
    if (HRESULT hr = device->GetDirect3D(mesh->direct3d_.ReleaseAndGetAddressOf()); FAILED(hr)) return hr;

    if (HRESULT hr =
            device->CreateVertexDeclaration(mesh->declaration_, mesh->declarationObject_.ReleaseAndGetAddressOf());
        FAILED(hr))
        return hr;
    const UINT indexLength = BufferLength(faceCount, 3 * (wide ? 4u : 2u));
    if (indexLength == 0) return E_OUTOFMEMORY;
    if (HRESULT hr = device->CreateIndexBuffer(indexLength, mesh->indexUsage_, wide ? D3DFMT_INDEX32 : D3DFMT_INDEX16,
                                               mesh->indexPool_, mesh->indexBuffer_.ReleaseAndGetAddressOf(), nullptr);
        FAILED(hr))
        return hr;
    if (makeVertexBuffer) {
        if (HRESULT hr = mesh->MakeVertexBuffer(vertexCount, &mesh->vertexBuffer_); FAILED(hr)) return hr;
    }
    try {
        mesh->attributes_.assign(faceCount, 0);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    mesh->faceCount_ = faceCount;
    mesh->vertexCount_ = vertexCount;
    *out = std::move(mesh);
    return D3D_OK;
}

HRESULT MeshObject::ReadIndices(std::vector<DWORD>* out) const {
    ScopedLock lock(indexBuffer_.Get(), D3DLOCK_READONLY);
    if (FAILED(lock.Result())) return lock.Result();
    const std::size_t count = 3 * static_cast<std::size_t>(faceCount_);
    try {
        out->resize(count);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (wideIndices_) {
        std::memcpy(out->data(), lock.Bytes(), count * sizeof(DWORD));
    } else {
        for (std::size_t i = 0; i < count; ++i) {
            WORD index;
            std::memcpy(&index, lock.Bytes() + 2 * i, sizeof index);
            (*out)[i] = index;
        }
    }
    return D3D_OK;
}

template <class Use>
HRESULT MeshObject::WithIndices(Use use) const {
    // 32-bit indices are used where they lie; 16-bit ones are widened into a copy.
    if (wideIndices_) {
        ScopedLock lock(indexBuffer_.Get(), D3DLOCK_READONLY);
        if (FAILED(lock.Result())) return lock.Result();
        return use(reinterpret_cast<const DWORD*>(lock.Bytes()), 3 * static_cast<std::size_t>(faceCount_));
    }
    std::vector<DWORD> indices;
    if (HRESULT hr = ReadIndices(&indices); FAILED(hr)) return hr;
    return use(indices.data(), indices.size());
}

HRESULT MeshObject::WriteIndices(std::span<const DWORD> indices) const {
    ScopedLock lock(indexBuffer_.Get(), 0);
    if (FAILED(lock.Result())) return lock.Result();
    if (wideIndices_) {
        std::memcpy(lock.Bytes(), indices.data(), indices.size() * sizeof(DWORD));
    } else {
        for (std::size_t i = 0; i < indices.size(); ++i) {
            auto index = static_cast<WORD>(std::min<DWORD>(indices[i], 0xFFFF));
            std::memcpy(lock.Bytes() + 2 * i, &index, sizeof index);
        }
    }
    return D3D_OK;
}

HRESULT MeshObject::ReadPositions(std::vector<float>* out) const {
    int element = FindDeclarationElement(declaration_, D3DDECLUSAGE_POSITION, 0);
    if (element < 0) element = FindDeclarationElement(declaration_, D3DDECLUSAGE_POSITIONT, 0);
    if (element < 0 || !vertexBuffer_) return D3DERR_INVALIDCALL;
    const D3DVERTEXELEMENT9& position = declaration_[element];
    ScopedLock lock(vertexBuffer_.Get(), D3DLOCK_READONLY);
    if (FAILED(lock.Result())) return lock.Result();
    try {
        out->resize(3 * static_cast<std::size_t>(vertexCount_));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    for (DWORD v = 0; v < vertexCount_; ++v) {
        float value[4];
        ReadDeclarationElement(position.Type,
                               lock.Bytes() + static_cast<std::size_t>(v) * vertexSize_ + position.Offset, value);
        std::copy(value, value + 3, out->begin() + 3 * static_cast<std::ptrdiff_t>(v));
    }
    return D3D_OK;
}

HRESULT MeshObject::DrawAttributeGroup(DWORD attributeId) {
    if (!vertexBuffer_) return D3D_OK;
    device_->SetVertexDeclaration(declarationObject_.Get());
    device_->SetStreamSource(0, vertexBuffer_.Get(), 0, vertexSize_);
    device_->SetIndices(indexBuffer_.Get());
    if (flags_ & kFlagTableValid) {
        const AttributeRange* entry = nullptr;
        if (attributeId < table_.size() && table_[attributeId].attribId == attributeId) {
            entry = &table_[attributeId];
        } else {
            auto found = std::find_if(table_.begin(), table_.end(),
                                      [&](const AttributeRange& r) { return r.attribId == attributeId; });
            if (found != table_.end()) entry = &*found;
        }
        if (entry == nullptr || entry->faceCount == 0) return D3D_OK;
        return device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, entry->vertexStart, entry->vertexCount,
                                             3 * entry->faceStart, entry->faceCount);
    }
    HRESULT result = D3D_OK;
    for (DWORD face = 0; face < faceCount_;) {
        if (attributes_[face] != attributeId) {
            ++face;
            continue;
        }
        DWORD end = face;
        while (end < faceCount_ && attributes_[end] == attributeId) ++end;
        result = device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, vertexCount_, 3 * face, end - face);
        face = end;
    }
    return result;
}

HRESULT MeshObject::CloneWithDeclaration(DWORD options, const D3DVERTEXELEMENT9* declaration, IDirect3DDevice9* device,
                                         Mesh** clone) {
    if (clone == nullptr) return D3DERR_INVALIDCALL;
    *clone = nullptr;
    if (declaration == nullptr) declaration = declaration_;
    if (!IsValidDeclaration(declaration) || (options & ~kMeshCloneOptions) != 0 || device == nullptr)
        return D3DERR_INVALIDCALL;
    const bool share = (options & kMeshShareVertexBuffer) != 0;
    if (share && (!DeclarationsEqual(declaration, declaration_) || device != device_.Get())) return D3DERR_INVALIDCALL;
    if (options_ & (kMeshIndexWriteOnly | kMeshVertexWriteOnly)) return D3DERR_INVALIDCALL;

    ComPtr<MeshObject> copy;
    if (HRESULT hr =
            Make(faceCount_, vertexCount_, options & ~kMeshShareVertexBuffer, declaration, device, !share, &copy);
        FAILED(hr))
        return hr;
    copy->options_ = options;
    copy->flags_ = flags_ & ~kFlagSharedVertexBuffer;
    copy->attributes_ = attributes_;
    try {
        copy->table_ = table_;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    std::vector<DWORD> indices;
    if (HRESULT hr = ReadIndices(&indices); FAILED(hr)) return hr;
    if (HRESULT hr = copy->WriteIndices(indices); FAILED(hr)) return hr;

    if (share) {
        copy->vertexBuffer_ = vertexBuffer_;
        copy->flags_ |= kFlagSharedVertexBuffer;
        flags_ |= kFlagSharedVertexBuffer;
    } else if (vertexBuffer_) {
        ScopedLock from(vertexBuffer_.Get(), D3DLOCK_READONLY);
        if (FAILED(from.Result())) return from.Result();
        ScopedLock to(copy->vertexBuffer_.Get(), 0);
        if (FAILED(to.Result())) return to.Result();
        if (DeclarationsEqual(declaration, declaration_)) {
            std::memcpy(to.Bytes(), from.Bytes(), static_cast<std::size_t>(vertexCount_) * vertexSize_);
        } else {
            VertexConverter(declaration_, declaration).Convert(from.Bytes(), to.Bytes(), vertexCount_);
        }
    }
    *clone = copy.Detach();
    return D3D_OK;
}

HRESULT MeshObject::AdjacencyFromPointReps(const DWORD* pointReps, DWORD* adjacency) {
    if (adjacency == nullptr) return D3DERR_INVALIDCALL;
    return WithIndices([&](const DWORD* indices, std::size_t count) {
        qm::AdjacencyFromPointReps(indices, count, vertexCount_, pointReps, adjacency);
        return D3D_OK;
    });
}

HRESULT MeshObject::PointRepsFromAdjacency(const DWORD* adjacency, DWORD* pointReps) {
    if (adjacency == nullptr || pointReps == nullptr || (options_ & kMeshIndexWriteOnly) != 0)
        return D3DERR_INVALIDCALL;
    std::vector<DWORD> indices;
    if (HRESULT hr = ReadIndices(&indices); FAILED(hr)) return hr;
    qm::PointRepsFromAdjacency(indices, vertexCount_, adjacency, pointReps);
    return D3D_OK;
}

HRESULT MeshObject::GenerateAdjacency(float tolerance, DWORD* adjacency) {
    if (adjacency == nullptr || !(tolerance >= 0.0f)) return D3DERR_INVALIDCALL;
    // Every entry is written; the table is in large-block storage, reused from load to load.
    FilledMeshArray<DWORD> reps;
    try {
        reps.resize(vertexCount_);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    // Positions stored as floats are read where they lie; other types are converted first.
    int element = FindDeclarationElement(declaration_, D3DDECLUSAGE_POSITION, 0);
    if (element < 0) element = FindDeclarationElement(declaration_, D3DDECLUSAGE_POSITIONT, 0);
    const bool floats = element >= 0 && (declaration_[element].Type == D3DDECLTYPE_FLOAT3 ||
                                         declaration_[element].Type == D3DDECLTYPE_FLOAT4);
    if (floats && vertexBuffer_) {
        ScopedLock lock(vertexBuffer_.Get(), D3DLOCK_READONLY);
        if (FAILED(lock.Result())) return lock.Result();
        PointRepsFromPositions(lock.Bytes() + declaration_[element].Offset, vertexSize_, vertexCount_, tolerance,
                               reps.data());
    } else {
        std::vector<float> positions;
        if (HRESULT hr = ReadPositions(&positions); FAILED(hr)) return hr;
        PointRepsFromPositions(reinterpret_cast<const BYTE*>(positions.data()), 3 * sizeof(float), vertexCount_,
                               tolerance, reps.data());
    }
    // Positions that are all distinct leave every vertex its own representative, which the
    // adjacency then takes without looking each corner up.
    bool distinct = true;
    for (DWORD v = 0; v < vertexCount_ && distinct; ++v) distinct = reps[v] == v;
    return WithIndices([&](const DWORD* indices, std::size_t count) {
        qm::AdjacencyFromPointReps(indices, count, vertexCount_, distinct ? nullptr : reps.data(), adjacency);
        return D3D_OK;
    });
}

HRESULT MeshObject::ReplaceDeclaration(const D3DVERTEXELEMENT9* declaration) {
    if (!IsValidDeclaration(declaration) || DeclarationVertexSize(declaration, 0) != vertexSize_)
        return D3DERR_INVALIDCALL;
    ComPtr<IDirect3DVertexDeclaration9> object;
    if (FAILED(device_->CreateVertexDeclaration(declaration, object.ReleaseAndGetAddressOf()))) object.Reset();
    SetDeclarationFields(declaration);
    declarationObject_ = std::move(object);
    return D3D_OK;
}

HRESULT MeshObject::SetAttributeRanges(const AttributeRange* entries, DWORD count) {
    if (count == 0) {
        if (entries != nullptr) return D3DERR_INVALIDCALL;
        table_.clear();
        return D3D_OK;
    }
    if (entries == nullptr) return D3DERR_INVALIDCALL;
    try {
        table_.assign(entries, entries + count);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return D3D_OK;
}

HRESULT MeshObject::OptimizeInPlace(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                                    DataBuffer** vertexRemap) {
    if (vertexRemap != nullptr) *vertexRemap = nullptr;
    if ((flags & ~kOptimizeFlags) != 0 || (options_ & (kMeshIndexWriteOnly | kMeshVertexWriteOnly)) != 0)
        return D3DERR_INVALIDCALL;
    if (adjacencyOut != nullptr && adjacencyIn == nullptr) return D3DERR_INVALIDCALL;
    const bool movesVertices =
        (flags & kOptimizeIgnoreVerts) == 0 &&
        (flags & (kOptimizeAttrSort | kOptimizeVertexCache | kOptimizeStripReorder | kOptimizeCompact)) != 0;
    // Vertices of a buffer shared with another mesh stay where they are.
    if (movesVertices && (flags_ & kFlagSharedVertexBuffer) != 0) return D3DERR_INVALIDCALL;

    OptimizationPlan plan;
    bool planned = false;
    HRESULT planResult = WithIndices([&](const DWORD* indices, std::size_t count) {
        try {
            planned = PlanOptimization(flags, {indices, count}, attributes_, vertexCount_, &plan);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return D3D_OK;
    });
    if (FAILED(planResult)) return planResult;
    if (!planned) return D3DERR_INVALIDCALL;
    ComPtr<DataBuffer> remapBuffer;
    if (vertexRemap != nullptr) {
        // A plan that moves no vertex leaves its remap empty: each vertex maps to itself.
        const bool identity = plan.vertexRemap.empty();
        const std::size_t count = identity ? vertexCount_ : plan.vertexRemap.size();
        if (HRESULT hr = CreateDataBuffer(static_cast<DWORD>(count * sizeof(DWORD)), remapBuffer.ReleaseAndGetAddressOf());
            FAILED(hr))
            return hr;
        DWORD* remap = static_cast<DWORD*>(remapBuffer->GetBufferPointer());
        if (identity)
            std::iota(remap, remap + count, 0u);
        else if (count > 0)
            std::memcpy(remap, plan.vertexRemap.data(), count * sizeof(DWORD));
    }

    // Vertices first: the only step that can fail after the plan (new buffer, locks).
    if (movesVertices && vertexBuffer_) {
        const DWORD newCount = static_cast<DWORD>(plan.vertexRemap.size());
        ComPtr<IDirect3DVertexBuffer9> target = vertexBuffer_;
        if (newCount != vertexCount_) {
            if (newCount == 0) return ERR_MESH_HAS_NO_DATA;
            if (HRESULT hr = MakeVertexBuffer(newCount, &target); FAILED(hr)) return hr;
        }
        std::vector<BYTE> old;
        {
            ScopedLock from(vertexBuffer_.Get(), D3DLOCK_READONLY);
            if (FAILED(from.Result())) return from.Result();
            try {
                old.assign(from.Bytes(), from.Bytes() + static_cast<std::size_t>(vertexCount_) * vertexSize_);
            } catch (const std::bad_alloc&) {
                return E_OUTOFMEMORY;
            }
        }
        ScopedLock to(target.Get(), 0);
        if (FAILED(to.Result())) return to.Result();
        for (DWORD v = 0; v < newCount; ++v)
            std::memcpy(to.Bytes() + static_cast<std::size_t>(v) * vertexSize_,
                        old.data() + static_cast<std::size_t>(plan.vertexRemap[v]) * vertexSize_, vertexSize_);
        vertexBuffer_ = target;
        vertexCount_ = newCount;
    }
    if (HRESULT hr = WriteIndices(plan.indices); FAILED(hr)) return hr;
    attributes_ = std::move(plan.attributes);
    if (plan.sorted) {
        table_ = std::move(plan.table);
        flags_ |= kFlagTableValid;
    }

    if (adjacencyOut != nullptr) {
        // Each old face's entries go to its new place, its neighbours renumbered; a table that is
        // also the output is read from a copy.
        const std::size_t words = 3 * static_cast<std::size_t>(faceCount_);
        const DWORD* from = adjacencyIn;
        FilledMeshArray<DWORD> previous;
        if (std::less<const DWORD*>()(adjacencyIn, adjacencyOut + words) &&
            std::less<const DWORD*>()(adjacencyOut, adjacencyIn + words)) {
            previous.assign(adjacencyIn, adjacencyIn + words);
            from = previous.data();
        }
        const DWORD* newFace = plan.newFace.data();
        for (DWORD f = 0; f < faceCount_; ++f) {
            DWORD* to = adjacencyOut + 3 * static_cast<std::size_t>(newFace[f]);
            for (int k = 0; k < 3; ++k) {
                const DWORD neighbour = from[3 * static_cast<std::size_t>(f) + k];
                to[k] = neighbour < faceCount_ ? newFace[neighbour] : kNoNeighbour;
            }
        }
    }
    if (faceRemap != nullptr) std::copy(plan.faceRemap.begin(), plan.faceRemap.end(), faceRemap);
    if (vertexRemap != nullptr) *vertexRemap = remapBuffer.Detach();
    return D3D_OK;
}

HRESULT MeshObject::Optimize(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                             DataBuffer** vertexRemap, Mesh** optimized) {
    if (vertexRemap != nullptr) *vertexRemap = nullptr;
    if (optimized == nullptr) return D3DERR_INVALIDCALL;
    *optimized = nullptr;
    constexpr DWORD kOptimizationBits = kOptimizeFlags & ~kMeshShareVertexBuffer;
    if ((flags & ~(kMeshCreateOptions | kOptimizationBits)) != 0) return D3DERR_INVALIDCALL;
    Mesh* made = nullptr;
    if (HRESULT hr = CloneWithDeclaration(flags & kMeshCreateOptions, nullptr, device_.Get(), &made); FAILED(hr))
        return hr;
    ComPtr<Mesh> copy = ComPtr<Mesh>::Adopt(made);
    if (HRESULT hr =
            copy->OptimizeInPlace(flags & kOptimizationBits, adjacencyIn, adjacencyOut, faceRemap, vertexRemap);
        FAILED(hr))
        return hr;
    *optimized = copy.Detach();
    return D3D_OK;
}

}  // namespace

HRESULT CreateMeshObject(DWORD faceCount, DWORD vertexCount, DWORD options, const D3DVERTEXELEMENT9* declaration,
                         IDirect3DDevice9* device, Mesh** mesh) {
    if (mesh == nullptr) return D3DERR_INVALIDCALL;
    *mesh = nullptr;
    if ((options & ~kMeshCreateOptions) != 0 || device == nullptr || !IsValidDeclaration(declaration) ||
        faceCount == 0 || vertexCount == 0)
        return D3DERR_INVALIDCALL;
    ComPtr<MeshObject> made;
    if (HRESULT hr = MeshObject::Make(faceCount, vertexCount, options, declaration, device, true, &made); FAILED(hr))
        return hr;
    *mesh = made.Detach();
    return D3D_OK;
}

HRESULT CreateMeshObjectFVF(DWORD faceCount, DWORD vertexCount, DWORD options, DWORD fvf, IDirect3DDevice9* device,
                            Mesh** mesh) {
    if (mesh != nullptr) *mesh = nullptr;
    D3DVERTEXELEMENT9 declaration[kMaxDeclarationElements];
    if (HRESULT hr = DeclarationFromFVF(fvf, declaration); FAILED(hr)) return hr;
    return CreateMeshObject(faceCount, vertexCount, options, declaration, device, mesh);
}

}  // namespace qm
