// skin_info.cpp: the SkinInfo object: bone influences, names and offset matrices, the lazily built
// per-vertex tables and influence stream, and software skinning through math library slot 69.
#include "library/xfile/skin_info.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "library/math/math_slots.h"

namespace qm {
namespace {

constexpr DWORD kCacheMaxPerVertex = 0x1;
constexpr DWORD kCacheTables = 0x2;
constexpr DWORD kCacheStream = 0x4;

// Usages whose x, y, z turn with the normal matrices.
constexpr BYTE kDirectionUsages[] = {D3DDECLUSAGE_NORMAL, D3DDECLUSAGE_TANGENT, D3DDECLUSAGE_BINORMAL};

bool IsAligned16(const void* p) { return (reinterpret_cast<std::uintptr_t>(p) & 15u) == 0; }

bool InfluencesFit(const BoneRecord& bone, DWORD vertexCount) {
    return bone.vertices.size() == bone.weights.size() &&
           std::all_of(bone.vertices.begin(), bone.vertices.end(), [&](DWORD v) { return v < vertexCount; });
}

class SkinInfoObject final : public RefCounted<SkinInfoObject, SkinInfo> {
public:
    SkinInfoObject(DWORD vertexCount, std::vector<BoneRecord> bones)
        : bones_(std::move(bones)), vertexCount_(vertexCount) {}

    // Sets the declaration; false when it is not valid.
    bool Declare(const D3DVERTEXELEMENT9* declaration) {
        if (!IsValidDeclaration(declaration)) return false;
        std::memcpy(declaration_, declaration, (DeclarationLength(declaration) + 1) * sizeof(D3DVERTEXELEMENT9));
        DWORD fvf = 0;
        fvf_ = SUCCEEDED(FVFFromDeclaration(declaration, &fvf)) ? fvf : 0;
        caches_ &= ~kCacheStream;
        return true;
    }

    HRESULT SetBoneInfluence(DWORD bone, DWORD count, const DWORD* vertices, const float* weights) override {
        if (bone >= bones_.size() || (count > 0 && (vertices == nullptr || weights == nullptr)))
            return D3DERR_INVALIDCALL;
        if (std::any_of(vertices, vertices + count, [&](DWORD v) { return v >= vertexCount_; }))
            return D3DERR_INVALIDCALL;
        try {
            decltype(BoneRecord::vertices) newVertices(vertices, vertices + count);
            decltype(BoneRecord::weights) newWeights(weights, weights + count);
            bones_[bone].vertices = std::move(newVertices);
            bones_[bone].weights = std::move(newWeights);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        DropCaches();
        return D3D_OK;
    }
    DWORD GetBoneInfluenceCount(DWORD bone) override {
        return bone < bones_.size() ? static_cast<DWORD>(bones_[bone].vertices.size()) : 0;
    }
    HRESULT GetBoneInfluence(DWORD bone, DWORD* vertices, float* weights) override {
        if (bone >= bones_.size()) return D3DERR_INVALIDCALL;
        const BoneRecord& record = bones_[bone];
        if (!record.vertices.empty() && (vertices == nullptr || weights == nullptr)) return D3DERR_INVALIDCALL;
        std::copy(record.vertices.begin(), record.vertices.end(), vertices);
        std::copy(record.weights.begin(), record.weights.end(), weights);
        return D3D_OK;
    }
    HRESULT GetMaxVertexInfluences(DWORD* maxInfluences) override {
        if (maxInfluences == nullptr) return D3DERR_INVALIDCALL;
        if (HRESULT hr = BuildMaxPerVertex(); FAILED(hr)) return hr;
        *maxInfluences = maxPerVertex_;
        return D3D_OK;
    }
    DWORD GetBoneCount() override { return static_cast<DWORD>(bones_.size()); }
    HRESULT GetMaxFaceInfluences(IDirect3DIndexBuffer9* indices, DWORD faceCount, DWORD* maxInfluences) override;
    HRESULT SetMinBoneInfluence(float minInfluence) override {
        minInfluence_ = minInfluence;
        caches_ &= ~kCacheStream;
        return D3D_OK;
    }
    float GetMinBoneInfluence() override { return minInfluence_; }
    HRESULT SetBoneName(DWORD bone, const char* name) override {
        if (bone >= bones_.size()) return D3DERR_INVALIDCALL;
        try {
            bones_[bone].name = name != nullptr ? std::optional<std::string>(name) : std::nullopt;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return D3D_OK;
    }
    const char* GetBoneName(DWORD bone) override {
        return bone < bones_.size() && bones_[bone].name ? bones_[bone].name->c_str() : nullptr;
    }
    HRESULT SetBoneOffsetMatrix(DWORD bone, const Matrix* offset) override {
        if (bone >= bones_.size() || offset == nullptr) return D3DERR_INVALIDCALL;
        bones_[bone].offset = *offset;
        return D3D_OK;
    }
    Matrix* GetBoneOffsetMatrix(DWORD bone) override { return bone < bones_.size() ? &bones_[bone].offset : nullptr; }
    HRESULT CloneSkinInfo(SkinInfo** clone) override;
    HRESULT RemapVertices(DWORD newVertexCount, const DWORD* remap) override;
    HRESULT SetFVF(DWORD fvf) override {
        D3DVERTEXELEMENT9 declaration[kMaxDeclarationElements];
        if (HRESULT hr = DeclarationFromFVF(fvf, declaration); FAILED(hr)) return hr;
        Declare(declaration);
        return D3D_OK;
    }
    HRESULT SetDeclaration(const D3DVERTEXELEMENT9* declaration) override {
        return Declare(declaration) ? D3D_OK : D3DERR_INVALIDCALL;
    }
    DWORD GetFVF() override { return fvf_; }
    HRESULT GetDeclaration(D3DVERTEXELEMENT9* declaration) override {
        if (declaration == nullptr) return D3DERR_INVALIDCALL;
        std::memcpy(declaration, declaration_, (DeclarationLength(declaration_) + 1) * sizeof(D3DVERTEXELEMENT9));
        return D3D_OK;
    }
    HRESULT UpdateSkinnedMesh(const Matrix* boneTransforms, const Matrix* normalTransforms, const void* source,
                              void* destination) override;
    HRESULT ConvertToBlendedMesh(Mesh*, DWORD, const DWORD*, DWORD*, DWORD*, DataBuffer** vertexRemap, DWORD*, DWORD*,
                                 DataBuffer** boneCombinations, Mesh** blended) override {
        ClearOutputs(vertexRemap, boneCombinations, blended);
        return E_NOTIMPL;
    }
    HRESULT ConvertToIndexedBlendedMesh(Mesh*, DWORD, DWORD, const DWORD*, DWORD*, DWORD*, DataBuffer** vertexRemap,
                                        DWORD*, DWORD*, DataBuffer** boneCombinations, Mesh** blended) override {
        ClearOutputs(vertexRemap, boneCombinations, blended);
        return E_NOTIMPL;
    }
    DWORD GetVertexCount() override { return vertexCount_; }
    HRESULT GetMaxFaceInfluences16(const WORD* indices, DWORD faceCount, DWORD* maxInfluences) override {
        return MaxFaceInfluences(indices, faceCount, maxInfluences);
    }
    HRESULT GetMaxFaceInfluences32(const DWORD* indices, DWORD faceCount, DWORD* maxInfluences) override {
        return MaxFaceInfluences(indices, faceCount, maxInfluences);
    }

    const std::vector<BoneRecord>& Bones() const { return bones_; }
    float MinInfluence() const { return minInfluence_; }
    const D3DVERTEXELEMENT9* Declaration() const { return declaration_; }

private:
    static void ClearOutputs(DataBuffer** vertexRemap, DataBuffer** boneCombinations, Mesh** blended) {
        if (vertexRemap != nullptr) *vertexRemap = nullptr;
        if (boneCombinations != nullptr) *boneCombinations = nullptr;
        if (blended != nullptr) *blended = nullptr;
    }

    void DropCaches() {
        caches_ = 0;
        rowCounts_ = {};
        rowBones_ = {};
        rowWeights_ = {};
    }

    HRESULT BuildMaxPerVertex();
    HRESULT BuildTables();
    HRESULT BuildStreamAndLayout();

    template <class Index>
    HRESULT MaxFaceInfluences(const Index* indices, DWORD faceCount, DWORD* maxInfluences);

    std::vector<BoneRecord> bones_;
    DWORD vertexCount_;
    D3DVERTEXELEMENT9 declaration_[kMaxDeclarationElements] = {D3DDECL_END()};
    DWORD fvf_ = 0;
    float minInfluence_ = 0.0f;
    DWORD caches_ = 0;
    // Cache bit 0.
    DWORD maxPerVertex_ = 0;
    // Cache bit 1: rows of maxPerVertex_ entries per vertex.
    std::vector<DWORD> rowCounts_;
    std::vector<DWORD> rowBones_;
    std::vector<float> rowWeights_;
    // Cache bit 2: the influence stream, the vertex stride and the byte offsets of the directions.
    std::vector<float> stream_;
    UINT stride_ = 0;
    std::vector<UINT> directionOffsets_;
};

HRESULT SkinInfoObject::BuildMaxPerVertex() {
    if (caches_ & kCacheMaxPerVertex) return D3D_OK;
    try {
        std::vector<DWORD> counts(vertexCount_, 0);
        for (const BoneRecord& bone : bones_)
            for (DWORD v : bone.vertices) ++counts[v];
        maxPerVertex_ = counts.empty() ? 0 : *std::max_element(counts.begin(), counts.end());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    caches_ |= kCacheMaxPerVertex;
    return D3D_OK;
}

HRESULT SkinInfoObject::BuildTables() {
    if (caches_ & kCacheTables) return D3D_OK;
    if (HRESULT hr = BuildMaxPerVertex(); FAILED(hr)) return hr;
    const std::size_t width = maxPerVertex_;
    try {
        std::vector<DWORD> counts(vertexCount_, 0);
        std::vector<DWORD> rowBones(vertexCount_ * width, 0);
        std::vector<float> rowWeights(vertexCount_ * width, 0.0f);
        for (std::size_t b = 0; b < bones_.size(); ++b) {
            const BoneRecord& bone = bones_[b];
            for (std::size_t i = 0; i < bone.vertices.size(); ++i) {
                const DWORD v = bone.vertices[i];
                const std::size_t slot = v * width + counts[v]++;
                rowBones[slot] = static_cast<DWORD>(b);
                rowWeights[slot] = bone.weights[i];
            }
        }
        // The first min(count, 4) positions by descending weight, by selection (earliest of equals first).
        for (std::size_t v = 0; v < vertexCount_; ++v) {
            const std::size_t row = v * width;
            const DWORD count = counts[v];
            for (DWORD j = 0; j < std::min<DWORD>(count, 4); ++j) {
                DWORD best = j;
                for (DWORD k = j + 1; k < count; ++k)
                    if (rowWeights[row + k] > rowWeights[row + best]) best = k;
                std::swap(rowWeights[row + j], rowWeights[row + best]);
                std::swap(rowBones[row + j], rowBones[row + best]);
            }
        }
        rowCounts_ = std::move(counts);
        rowBones_ = std::move(rowBones);
        rowWeights_ = std::move(rowWeights);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    caches_ |= kCacheTables;
    return D3D_OK;
}

HRESULT SkinInfoObject::BuildStreamAndLayout() {
    if (caches_ & kCacheStream) return D3D_OK;
    // The layout: a three-float position at offset 0 of stream 0; directions of three or four floats.
    const int position = FindDeclarationElement(declaration_, D3DDECLUSAGE_POSITION, 0);
    if (position < 0 || declaration_[position].Stream != 0 || declaration_[position].Offset != 0 ||
        declaration_[position].Type != D3DDECLTYPE_FLOAT3)
        return D3DERR_INVALIDCALL;
    std::vector<UINT> directions;
    const UINT length = DeclarationLength(declaration_);
    try {
        for (UINT i = 0; i < length; ++i) {
            const D3DVERTEXELEMENT9& e = declaration_[i];
            if (std::find(std::begin(kDirectionUsages), std::end(kDirectionUsages), e.Usage) ==
                std::end(kDirectionUsages))
                continue;
            if (e.Type != D3DDECLTYPE_FLOAT3 && e.Type != D3DDECLTYPE_FLOAT4) return D3DERR_INVALIDCALL;
            directions.push_back(e.Offset);
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (HRESULT hr = BuildTables(); FAILED(hr)) return hr;

    std::size_t total = 0;
    for (const BoneRecord& bone : bones_) total += bone.vertices.size();
    try {
        if (stream_.size() < vertexCount_ + total) stream_.resize(vertexCount_ + total);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    const std::size_t width = maxPerVertex_;
    float* out = stream_.data();
    for (std::size_t v = 0; v < vertexCount_; ++v) {
        for (DWORD k = 0; k < rowCounts_[v]; ++k) {
            const float weight = rowWeights_[v * width + k];
            if (!(weight > minInfluence_)) continue;
            *out++ = 2.0f * static_cast<float>(rowBones_[v * width + k]) + weight;
        }
        *out++ = -1.0f;
    }
    stride_ = DeclarationVertexSize(declaration_, 0);
    directionOffsets_ = std::move(directions);
    caches_ |= kCacheStream;
    return D3D_OK;
}

HRESULT SkinInfoObject::UpdateSkinnedMesh(const Matrix* boneTransforms, const Matrix* normalTransforms,
                                          const void* source, void* destination) {
    if (source == nullptr || destination == nullptr || (boneTransforms == nullptr && !bones_.empty()))
        return D3DERR_INVALIDCALL;
    if (HRESULT hr = BuildStreamAndLayout(); FAILED(hr)) return hr;
    if (normalTransforms == nullptr) normalTransforms = boneTransforms;
    // Every byte the skinning does not write is the source's.
    if (source != destination) std::memmove(destination, source, static_cast<std::size_t>(vertexCount_) * stride_);
    const auto directionCount = static_cast<UINT>(directionOffsets_.size());
    if (IsAligned16(boneTransforms) && IsAligned16(normalTransforms)) {
        SkinVertices(destination, stride_, destination, stride_, 0, vertexCount_, stream_.data(), boneTransforms,
                     normalTransforms, GetBoneCount(), directionOffsets_.data(), directionCount);
    } else {
        portable::SkinVertices(destination, stride_, destination, stride_, 0, vertexCount_, stream_.data(),
                               boneTransforms, normalTransforms, GetBoneCount(), directionOffsets_.data(),
                               directionCount);
    }
    return D3D_OK;
}

template <class Index>
HRESULT SkinInfoObject::MaxFaceInfluences(const Index* indices, DWORD faceCount, DWORD* maxInfluences) {
    if (maxInfluences == nullptr || (indices == nullptr && faceCount > 0)) return D3DERR_INVALIDCALL;
    if (HRESULT hr = BuildTables(); FAILED(hr)) return hr;
    const std::size_t width = maxPerVertex_;
    DWORD largest = 0;
    std::vector<DWORD> bones;
    for (std::size_t f = 0; f < faceCount; ++f) {
        bones.clear();
        for (int c = 0; c < 3; ++c) {
            const DWORD v = indices[3 * f + c];
            if (v >= vertexCount_) continue;
            for (DWORD k = 0; k < rowCounts_[v]; ++k) {
                const DWORD bone = rowBones_[v * width + k];
                if (std::find(bones.begin(), bones.end(), bone) == bones.end()) bones.push_back(bone);
            }
        }
        largest = std::max(largest, static_cast<DWORD>(bones.size()));
    }
    *maxInfluences = largest;
    return D3D_OK;
}

HRESULT SkinInfoObject::GetMaxFaceInfluences(IDirect3DIndexBuffer9* indices, DWORD faceCount, DWORD* maxInfluences) {
    if (indices == nullptr || maxInfluences == nullptr) return D3DERR_INVALIDCALL;
    D3DINDEXBUFFER_DESC desc{};
    if (HRESULT hr = indices->GetDesc(&desc); FAILED(hr)) return hr;
    const bool wide = desc.Format != D3DFMT_INDEX16;
    if (std::uint64_t{faceCount} * 3 * (wide ? 4 : 2) > desc.Size) return D3DERR_INVALIDCALL;
    void* data = nullptr;
    if (HRESULT hr = indices->Lock(0, 0, &data, D3DLOCK_READONLY); FAILED(hr)) return hr;
    HRESULT result = wide ? MaxFaceInfluences(static_cast<const DWORD*>(data), faceCount, maxInfluences)
                          : MaxFaceInfluences(static_cast<const WORD*>(data), faceCount, maxInfluences);
    indices->Unlock();
    return result;
}

HRESULT SkinInfoObject::CloneSkinInfo(SkinInfo** clone) {
    if (clone == nullptr) return D3DERR_INVALIDCALL;
    *clone = nullptr;
    ComPtr<SkinInfoObject> copy;
    try {
        copy = MakeRef<SkinInfoObject>(vertexCount_, bones_);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (!copy) return E_OUTOFMEMORY;
    copy->Declare(declaration_);
    copy->minInfluence_ = minInfluence_;
    *clone = copy.Detach();
    return D3D_OK;
}

HRESULT SkinInfoObject::RemapVertices(DWORD newVertexCount, const DWORD* remap) {
    if (remap == nullptr && newVertexCount > 0) return D3DERR_INVALIDCALL;
    try {
        // For every old vertex the new vertices that take its influences.
        std::vector<std::vector<DWORD>> targets(vertexCount_);
        for (DWORD v = 0; v < newVertexCount; ++v)
            if (remap[v] < vertexCount_) targets[remap[v]].push_back(v);
        std::vector<BoneRecord> rebuilt(bones_.size());
        for (std::size_t b = 0; b < bones_.size(); ++b) {
            const BoneRecord& bone = bones_[b];
            rebuilt[b].name = bone.name;
            rebuilt[b].offset = bone.offset;
            for (std::size_t i = 0; i < bone.vertices.size(); ++i) {
                for (DWORD target : targets[bone.vertices[i]]) {
                    rebuilt[b].vertices.push_back(target);
                    rebuilt[b].weights.push_back(bone.weights[i]);
                }
            }
        }
        bones_ = std::move(rebuilt);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    vertexCount_ = newVertexCount;
    DropCaches();
    return D3D_OK;
}

}  // namespace

HRESULT CreateSkinInfoFromBones(DWORD vertexCount, const D3DVERTEXELEMENT9* declaration, DWORD boneCount,
                                std::vector<BoneRecord>&& bones, SkinInfo** out) {
    if (out == nullptr) return D3DERR_INVALIDCALL;
    *out = nullptr;
    if (!IsValidDeclaration(declaration) || bones.size() != boneCount) return D3DERR_INVALIDCALL;
    for (const BoneRecord& bone : bones)
        if (!InfluencesFit(bone, vertexCount)) return D3DERR_INVALIDCALL;
    ComPtr<SkinInfoObject> skin = MakeRef<SkinInfoObject>(vertexCount, std::move(bones));
    if (!skin) return E_OUTOFMEMORY;
    skin->Declare(declaration);
    *out = skin.Detach();
    return D3D_OK;
}

HRESULT CreateSkinInfo(DWORD vertexCount, const D3DVERTEXELEMENT9* declaration, DWORD boneCount, SkinInfo** out) {
    if (out == nullptr) return D3DERR_INVALIDCALL;
    *out = nullptr;
    std::vector<BoneRecord> bones;
    try {
        bones.resize(boneCount);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::length_error&) {
        return E_OUTOFMEMORY;
    }
    return CreateSkinInfoFromBones(vertexCount, declaration, boneCount, std::move(bones), out);
}

HRESULT CreateSkinInfoFVF(DWORD vertexCount, DWORD fvf, DWORD boneCount, SkinInfo** out) {
    if (out != nullptr) *out = nullptr;
    D3DVERTEXELEMENT9 declaration[kMaxDeclarationElements];
    if (HRESULT hr = DeclarationFromFVF(fvf, declaration); FAILED(hr)) return hr;
    return CreateSkinInfo(vertexCount, declaration, boneCount, out);
}

}  // namespace qm
