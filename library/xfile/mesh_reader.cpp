// mesh_reader.cpp: the Mesh template reader: body checks, fan triangulation, the child templates
// (texture coordinates, colours, normals, duplication indices, adjacency, materials and effect
// instances, skin weights, vertex-format and declaration data, progressive-mesh data), vertex
// splitting along normals, and the mesh, adjacency and attribute sort it builds.
#include "library/xfile/mesh_reader.h"

#include <clocale>
#include <locale.h>

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>
#include <optional>
#include <unordered_map>

#include "library/math/math.h"
#include "library/xfile/xfile_objects.h"
#include "library/xfile/xfile_templates.h"
#include "platform/win/large_blocks.h"

namespace qm {
namespace {

// The 32-bit word at a byte offset of a data object's bytes (the caller has checked the bounds).
DWORD WordAt(const BYTE* bytes, std::uint64_t offset) {
    DWORD value;
    std::memcpy(&value, bytes + offset, 4);
    return value;
}

// Fans one face's n >= 3 indices, starting at a byte offset, into triangles (first, previous, next)
// given to emit; false as soon as an index is not below limit.
template <class Emit>
bool FanFace(const BYTE* bytes, std::uint64_t first, DWORD n, DWORD limit, Emit emit) {
    const DWORD i0 = WordAt(bytes, first);
    DWORD previous = WordAt(bytes, first + 4);
    if (i0 >= limit || previous >= limit) return false;
    for (DWORD k = 2; k < n; ++k) {
        const DWORD next = WordAt(bytes, first + 4ull * k);
        if (next >= limit) return false;
        emit(i0, previous, next);
        previous = next;
    }
    return true;
}

constexpr DWORD kRemovedTriangle = 0xFFFFFFFF;

// Per-vertex and per-face records of a model, in huge-page-backed storage once they are large.
template <class T>
using Records = std::vector<T, LargeBlockAllocator<T>>;
// Records written in full as they are made, so not cleared first.
template <class T>
using WrittenRecords = std::vector<T, UninitializedLargeBlockAllocator<T>>;
constexpr DWORD kAttributeSortFlags = kOptimizeAttrSort | kOptimizeIgnoreVerts | kOptimizeDoNotSplit;
constexpr DWORD kIndex16Limit = 65535;

// Switches this thread's numeric locale to "C" while it lives, unless it already is "C".
class NumericLocaleC {
public:
    NumericLocaleC() {
        locale_t current = uselocale(locale_t(0));
        if (current == LC_GLOBAL_LOCALE) {
            const char* name = std::setlocale(LC_NUMERIC, nullptr);
            if (name != nullptr && (std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0)) return;
        }
        locale_t base = duplocale(current);
        if (base == locale_t(0)) return;
        locale_t numericC = newlocale(LC_NUMERIC_MASK, "C", base);
        if (numericC == locale_t(0)) {
            freelocale(base);
            return;
        }
        switched_ = numericC;
        previous_ = uselocale(numericC);
    }
    ~NumericLocaleC() {
        if (switched_ == locale_t(0)) return;
        uselocale(previous_);
        freelocale(switched_);
    }
    NumericLocaleC(const NumericLocaleC&) = delete;
    NumericLocaleC& operator=(const NumericLocaleC&) = delete;

private:
    locale_t switched_ = locale_t(0);
    locale_t previous_ = locale_t(0);
};

// A colour channel as 8 bits: 255 from 1.0 up, 0 from 0.0 down (and for NaN), else c × 255 + 0.5
// truncated.
BYTE QuantizeChannel(float c) {
    if (c >= 1.0f) return 255;
    if (!(c > 0.0f)) return 0;
    return BYTE(int(c * 255.0f + 0.5f));
}

struct LoadVertex {
    Vector3 position;
    D3DCOLOR color;  // quantised as read; white with alpha 0 when the file gives none
    float uv[2];
    Vector3 normal;
    DWORD normalCount;
    DWORD original;       // the vertex this one duplicates (itself when none)
    DWORD nextDuplicate;  // ring of the vertices with the same original
    DWORD source;         // the file vertex whose extra data and bone influences it carries
};

struct LoadTriangle {
    DWORD v[3];  // v[0] == kRemovedTriangle: removed
    DWORD material;  // attribute id
};

bool SameNormal(const Vector3& a, const Vector3& b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

// Key of a (duplicate ring, normal) pair; -0 and +0 share a key, as they compare equal.
struct NormalKey {
    DWORD ring;
    std::uint32_t bits[3];
    bool operator==(const NormalKey&) const = default;
};

struct NormalKeyHash {
    std::size_t operator()(const NormalKey& k) const {
        std::uint64_t h = k.ring * 0x9E3779B97F4A7C15ull;
        for (std::uint32_t b : k.bits) h = (h ^ b) * 0x100000001B3ull;
        return std::size_t(h ^ (h >> 29));
    }
};

std::optional<NormalKey> KeyOf(DWORD ring, const Vector3& n) {
    if (n.x != n.x || n.y != n.y || n.z != n.z) return std::nullopt;  // NaN equals nothing
    NormalKey key{ring, {}};
    const float components[3] = {n.x + 0.0f, n.y + 0.0f, n.z + 0.0f};
    std::memcpy(key.bits, components, sizeof(key.bits));
    return key;
}

D3DCOLORVALUE ColorAt(const DataView& d, std::uint64_t offset, bool withAlpha) {
    return {d.F32(offset), d.F32(offset + 4), d.F32(offset + 8), withAlpha ? d.F32(offset + 12) : 1.0f};
}

std::vector<BYTE> CopyBytes(const DataView& d, std::uint64_t offset, std::uint64_t count) {
    return std::vector<BYTE>(d.Bytes() + offset, d.Bytes() + offset + count);
}

// An element of the declaration with this usage and index, or null.
const D3DVERTEXELEMENT9* FindElement(const D3DVERTEXELEMENT9* declaration, BYTE usage, BYTE usageIndex) {
    int at = FindDeclarationElement(declaration, usage, usageIndex);
    return at < 0 ? nullptr : &declaration[at];
}

class MeshReader {
public:
    MeshReader(IDirectXFileData* object, DWORD options, IDirect3DDevice9* device, const MeshReadOutputs& outputs,
               const MeshBoneOutputs& bones)
        : object_(object), options_(options), device_(device), outputs_(outputs), bones_(bones) {}

    HRESULT Read(Mesh** mesh);

private:
    HRESULT ReadBody();
    HRESULT ReadChildren();
    HRESULT ReadChild(IDirectXFileData* child);
    HRESULT ReadTextureCoords(const DataView& d);
    HRESULT ReadVertexColors(const DataView& d);
    HRESULT ReadNormals(const DataView& d);
    HRESULT ReadDuplicationIndices(const DataView& d);
    HRESULT ReadFaceAdjacency(const DataView& d);
    HRESULT ReadMaterialList(IDirectXFileData* list, const DataView& d);
    HRESULT ReadMaterial(IDirectXFileData* object, MaterialData* material, std::optional<EffectInstanceData>* effect);
    HRESULT ReadEffectInstance(IDirectXFileData* object, EffectInstanceData* effect);
    HRESULT ReadEffectDefault(IDirectXFileData* child, EffectInstanceData* effect);
    HRESULT ReadProgressiveInfo(const DataView& d);
    HRESULT ReadSkinHeader(const DataView& d);
    HRESULT ReadSkinWeights(IDirectXFileData* object, const DataView& d);
    HRESULT ReadVertexFormatData(const DataView& d);
    HRESULT ReadDeclarationData(const DataView& d);
    void StoreNormalsPerVertex();

    HRESULT BuildDeclaration();
    void GenerateNormals();
    void ApplyCornerNormals();
    bool ApplyNormalsOfOwnIndex();
    void ExpandInfluencesToCopies();
    HRESULT CreateAndFill(ComPtr<Mesh>* mesh);
    void PlanVertexLayout();
    void WriteVertex(const LoadVertex& v, BYTE* out) const;
    bool WritesWholeVertex(DWORD stride) const;
    void ReleaseLoadRecords();
    HRESULT BuildAdjacency(Mesh* mesh, DWORD* out);
    HRESULT Publish();

    IDirectXFileData* object_;
    DWORD options_;
    IDirect3DDevice9* device_;
    const MeshReadOutputs& outputs_;
    const MeshBoneOutputs& bones_;

    // Body.
    DWORD fileVertexCount_ = 0;
    DWORD faceCount_ = 0;
    // The Mesh's face records as they lie in its data (counts and indices), for MeshNormals to be
    // compared with.
    const BYTE* faceRecords_ = nullptr;
    std::uint64_t faceRecordBytes_ = 0;
    Records<std::uint8_t> usedVertices_;  // per file vertex: 1 when a face uses it
    Records<DWORD> faceFirstTriangle_;  // faceCount_ + 1 entries
    WrittenRecords<LoadVertex> vertices_;
    WrittenRecords<LoadTriangle> triangles_;

    // Normals.
    bool haveNormals_ = false;
    WrittenRecords<Vector3> fileNormals_;    // the MeshNormals normals, kept for a later PMInfo
    WrittenRecords<DWORD> cornerNormals_;    // 3 per triangle when the normals are per corner: indices into fileNormals_
    bool normalsPerCorner_ = false;
    // The normals' face records equal the Mesh's: every corner's normal has its vertex's index, and
    // cornerNormals_ is left empty.
    bool normalsOfOwnIndex_ = false;

    bool haveColors_ = false;
    bool haveTextureCoords_ = false;
    bool haveDuplicates_ = false;
    bool progressiveSeen_ = false;
    std::vector<BYTE> progressiveData_;
    bool haveProgressiveData_ = false;
    std::vector<DWORD> fileAdjacency_;
    bool haveFileAdjacency_ = false;

    // Materials.
    DWORD materialCount_ = 0;
    std::vector<MaterialData> materials_;
    std::vector<EffectInstanceData> effects_;

    // Bones.
    bool skinHeaderRead_ = false;
    DWORD boneCount_ = 0;
    DWORD bonesRead_ = 0;
    std::vector<std::string> boneNames_;
    std::vector<Matrix> boneOffsets_;
    std::vector<BoneRecord> influences_;

    // Extra per-vertex data.
    bool haveFVFData_ = false;
    DWORD fvfDataCode_ = 0;
    std::vector<BYTE> fvfData_;
    DWORD fvfDataStride_ = 0;
    bool haveDeclData_ = false;
    D3DVERTEXELEMENT9 declData_[kMaxDeclarationElements];
    std::vector<BYTE> declDataBytes_;
    DWORD declDataStride_ = 0;

    std::vector<ComPtr<IDirectXFileData>> unrecognised_;

    // Result.
    D3DVERTEXELEMENT9 declaration_[kMaxDeclarationElements];
    DWORD fvfBaseSize_ = 0;  // bytes of the declaration made from the vertex-format code
    struct ByteCopy {
        UINT from, to, size;
    };
    std::vector<ByteCopy> fvfCopies_, declCopies_;
    int normalOffset_ = -1, colorOffset_ = -1, uvOffset_ = -1;
    // The triangles kept (file triangle of each mesh face) and each file triangle's mesh face; both
    // empty while no triangle was removed (every triangle is its own face).
    Records<DWORD> keptTriangles_;
    Records<DWORD> newTriangleIndex_;
    DWORD keptCount_ = 0;
    DWORD triangleTotal_ = 0;
    std::vector<DWORD> representatives_;  // each vertex's original, kept for the adjacency
    ComPtr<Mesh> mesh_;
    ComPtr<DataBuffer> adjacency_;
};

HRESULT MeshReader::ReadBody() {
    DataView d;
    if (HRESULT hr = DataView::Of(object_, &d); FAILED(hr)) return hr;
    if (!d.Has(0, 4)) return E_FAIL;
    fileVertexCount_ = d.U32(0);
    const std::uint64_t facesAt = 4 + 12ull * fileVertexCount_;
    if (!d.Has(0, facesAt + 4)) return E_FAIL;
    faceCount_ = d.U32(facesAt);
    if (fileVertexCount_ == 0 || faceCount_ == 0) return ERR_MESH_HAS_NO_DATA;
    if (!d.Has(0, facesAt + 4 + 4ull * faceCount_)) return E_FAIL;

    // Every record must lie inside the data, and exactly faceCount_ records must fill it; a first
    // pass over the counts alone checks that and sizes the triangles exactly.
    const BYTE* bytes = d.Bytes();
    const std::uint64_t end = d.Size();
    faceFirstTriangle_.resize(std::size_t(faceCount_) + 1);
    std::uint64_t at = facesAt + 4;
    std::uint64_t triangleCount = 0;
    for (DWORD f = 0; f < faceCount_; ++f) {
        if (end - at < 4) return E_FAIL;
        const DWORD n = WordAt(bytes, at);
        if (n < 3 || (end - at - 4) / 4 < n) return E_FAIL;
        faceFirstTriangle_[f] = DWORD(triangleCount);
        triangleCount += n - 2;
        at += 4 + 4ull * n;
    }
    if (at != end) return E_FAIL;
    faceFirstTriangle_[faceCount_] = DWORD(triangleCount);
    faceRecords_ = bytes + facesAt + 4;
    faceRecordBytes_ = end - (facesAt + 4);

    // Then every face is fanned into triangles written in place, each index checked once.
    triangles_.resize(std::size_t(triangleCount));
    LoadTriangle* out = triangles_.data();
    const DWORD vertexCount = fileVertexCount_;
    usedVertices_.assign(vertexCount, 0);
    std::uint8_t* used = usedVertices_.data();
    at = facesAt + 4;
    for (DWORD f = 0; f < faceCount_; ++f) {
        const DWORD n = WordAt(bytes, at);
        const std::uint64_t first = at + 4;
        if (!FanFace(bytes, first, n, vertexCount, [&](DWORD a, DWORD b, DWORD c) {
                *out++ = LoadTriangle{{a, b, c}, 0};
                used[a] = used[b] = used[c] = 1;
            }))
            return E_FAIL;
        at = first + 4ull * n;
    }

    vertices_.resize(fileVertexCount_);
    LoadVertex* vertex = vertices_.data();
    for (DWORD i = 0; i < fileVertexCount_; ++i) {
        const std::uint64_t p = 4 + 12ull * i;
        vertex[i] = {Vector3(d.F32(p), d.F32(p + 4), d.F32(p + 8)), D3DCOLOR_ARGB(0, 255, 255, 255), {0, 0},
                     Vector3(0, 0, 0), 0, i, i, i};
    }
    return S_OK;
}

HRESULT MeshReader::ReadChildren() {
    ChildWalker walker(object_);
    ComPtr<IDirectXFileData> child;
    HRESULT error = S_OK;
    while (walker.Next(true, &child, &error)) {
        if (HRESULT hr = ReadChild(child.Get()); FAILED(hr)) return hr;
    }
    return error;
}

HRESULT MeshReader::ReadChild(IDirectXFileData* child) {
    const GUID* type = nullptr;
    if (HRESULT hr = child->GetType(&type); FAILED(hr)) return hr;
    DataView d;
    if (HRESULT hr = DataView::Of(child, &d); FAILED(hr)) return hr;
    if (*type == kTemplateMeshTextureCoords) return ReadTextureCoords(d);
    if (*type == kTemplateMeshVertexColors) return ReadVertexColors(d);
    if (*type == kTemplateMeshNormals) return ReadNormals(d);
    if (*type == kTemplateVertexDuplicationIndices) return ReadDuplicationIndices(d);
    if (*type == kTemplateFaceAdjacency) return ReadFaceAdjacency(d);
    if (*type == kTemplateMeshMaterialList) return ReadMaterialList(child, d);
    if (*type == kTemplatePMInfo) return ReadProgressiveInfo(d);
    if (*type == kTemplateXSkinMeshHeader && bones_.influences != nullptr) return ReadSkinHeader(d);
    if (*type == kTemplateSkinWeights && skinHeaderRead_) return ReadSkinWeights(child, d);
    if (*type == kTemplateFVFData) return ReadVertexFormatData(d);
    if (*type == kTemplateDeclData) return ReadDeclarationData(d);
    if (outputs_.unrecognised != nullptr) unrecognised_.emplace_back(child);
    return S_OK;
}

HRESULT MeshReader::ReadTextureCoords(const DataView& d) {
    if (!d.Has(0, 4)) return E_FAIL;
    const DWORD n = d.U32(0);
    if (n != fileVertexCount_ || !d.Has(4, 8ull * n)) return E_FAIL;
    for (DWORD i = 0; i < n; ++i) {
        vertices_[i].uv[0] = d.F32(4 + 8ull * i);
        vertices_[i].uv[1] = d.F32(8 + 8ull * i);
    }
    haveTextureCoords_ = true;
    return S_OK;
}

HRESULT MeshReader::ReadVertexColors(const DataView& d) {
    if (!d.Has(0, 4)) return E_FAIL;
    const DWORD n = d.U32(0);
    if (!d.Has(4, 20ull * n)) return E_FAIL;
    for (DWORD i = 0; i < n; ++i) {
        const std::uint64_t at = 4 + 20ull * i;
        const DWORD index = d.U32(at);
        if (index >= fileVertexCount_) return E_FAIL;
        vertices_[index].color = D3DCOLOR_ARGB(QuantizeChannel(d.F32(at + 16)), QuantizeChannel(d.F32(at + 4)),
                                               QuantizeChannel(d.F32(at + 8)), QuantizeChannel(d.F32(at + 12)));
    }
    haveColors_ = true;
    return S_OK;
}

HRESULT MeshReader::ReadNormals(const DataView& d) {
    if (!d.Has(0, 4)) return E_FAIL;
    const DWORD normalCount = d.U32(0);
    const std::uint64_t facesAt = 4 + 12ull * normalCount;
    if (!d.Has(0, facesAt + 4)) return E_FAIL;
    if (d.U32(facesAt) != faceCount_) return E_FAIL;
    if (progressiveSeen_ && normalCount != fileVertexCount_) return E_FAIL;

    const BYTE* bytes = d.Bytes();
    const std::uint64_t end = d.Size();
    WrittenRecords<Vector3> normals(normalCount);
    if (normalCount > 0) std::memcpy(normals.data(), bytes + 4, 12ull * normalCount);
    // Face records identical to the Mesh's (which were checked against the vertex count, no more
    // than the normal count here) give every corner the normal of its vertex's index.
    if (normalCount >= fileVertexCount_ && end - (facesAt + 4) == faceRecordBytes_ &&
        std::memcmp(bytes + facesAt + 4, faceRecords_, faceRecordBytes_) == 0) {
        haveNormals_ = true;
        fileNormals_ = std::move(normals);
        cornerNormals_.clear();
        normalsOfOwnIndex_ = true;
        if (progressiveSeen_) {
            StoreNormalsPerVertex();
            return S_OK;
        }
        normalsPerCorner_ = true;
        return S_OK;
    }

    // Otherwise each triangle corner keeps the index of its normal, fanned as the face was.
    WrittenRecords<DWORD> corners(3 * triangles_.size());
    DWORD* corner = corners.data();
    std::uint64_t at = facesAt + 4;
    for (DWORD f = 0; f < faceCount_; ++f) {
        const DWORD sides = faceFirstTriangle_[f + 1] - faceFirstTriangle_[f] + 2;
        if (end - at < 4 || WordAt(bytes, at) != sides || (end - at - 4) / 4 < sides) return E_FAIL;
        const std::uint64_t first = at + 4;
        if (!FanFace(bytes, first, sides, normalCount, [&](DWORD a, DWORD b, DWORD c) {
                corner[0] = a;
                corner[1] = b;
                corner[2] = c;
                corner += 3;
            }))
            return E_FAIL;
        at = first + 4ull * sides;
    }
    haveNormals_ = true;
    normalsOfOwnIndex_ = false;
    fileNormals_ = std::move(normals);
    if (progressiveSeen_) {
        StoreNormalsPerVertex();
        return S_OK;
    }
    cornerNormals_ = std::move(corners);
    normalsPerCorner_ = true;
    return S_OK;
}

// Progressive meshes keep one normal per vertex: normal i belongs to vertex i.
void MeshReader::StoreNormalsPerVertex() {
    for (DWORD i = 0; i < fileVertexCount_; ++i) {
        vertices_[i].normal = fileNormals_[i];
        vertices_[i].normalCount = 1;
    }
    cornerNormals_.clear();
    normalsPerCorner_ = false;
}

HRESULT MeshReader::ReadDuplicationIndices(const DataView& d) {
    if (!d.Has(0, 8)) return E_FAIL;
    const DWORD count = d.U32(0);
    const DWORD originals = d.U32(4);
    if (count != fileVertexCount_ || originals > count) return D3DERR_INVALIDCALL;
    if (!d.Has(8, 4ull * count)) return E_FAIL;
    for (DWORD i = 0; i < count; ++i)
        if (d.U32(8 + 4ull * i) >= fileVertexCount_) return E_FAIL;
    for (DWORD i = 0; i < count; ++i) {
        const DWORD original = d.U32(8 + 4ull * i);
        if (d.U32(8 + 4ull * original) != original) return D3DERR_INVALIDCALL;
    }
    for (DWORD i = 0; i < count; ++i) {
        vertices_[i].original = d.U32(8 + 4ull * i);
        vertices_[i].nextDuplicate = i;
    }
    for (DWORD i = 0; i < count; ++i) {
        const DWORD head = vertices_[i].original;
        if (head == i) continue;
        vertices_[i].nextDuplicate = vertices_[head].nextDuplicate;
        vertices_[head].nextDuplicate = i;
    }
    haveDuplicates_ = true;
    return S_OK;
}

HRESULT MeshReader::ReadFaceAdjacency(const DataView& d) {
    if (!d.Has(0, 4)) return E_FAIL;
    const DWORD count = d.U32(0);
    if (count != 3ull * triangles_.size()) return D3DERR_INVALIDCALL;
    if (!d.Has(4, 4ull * count)) return E_FAIL;
    fileAdjacency_.resize(count);
    std::memcpy(fileAdjacency_.data(), d.Bytes() + 4, 4ull * count);
    haveFileAdjacency_ = true;
    return S_OK;
}

HRESULT MeshReader::ReadMaterialList(IDirectXFileData* list, const DataView& d) {
    if (outputs_.materials == nullptr && outputs_.effectInstances == nullptr) return S_OK;
    if (!d.Has(0, 8)) return E_FAIL;
    const DWORD materialCount = d.U32(0);
    const DWORD faceIndexCount = d.U32(4);
    if (materialCount == 0) return S_OK;
    if (!d.Has(8, 4ull * faceIndexCount)) return E_FAIL;
    // Every id is checked (a failure leaves the triangles to be discarded); faces the list leaves
    // out take id 0.
    const BYTE* ids = d.Bytes() + 8;
    const DWORD listed = std::min(faceIndexCount, faceCount_);
    DWORD highest = 0;
    for (DWORD f = 0; f < listed; ++f) {
        const DWORD material = WordAt(ids, 4ull * f);
        highest = std::max(highest, material);
        for (DWORD t = faceFirstTriangle_[f]; t < faceFirstTriangle_[f + 1]; ++t) triangles_[t].material = material;
    }
    for (DWORD f = listed; f < faceIndexCount; ++f) highest = std::max(highest, WordAt(ids, 4ull * f));
    if (highest >= materialCount) return E_FAIL;
    for (std::size_t t = faceFirstTriangle_[listed]; t < triangles_.size(); ++t) triangles_[t].material = 0;

    // The Material children, as many as nMaterials; the list grows only as children are read, so
    // a count the file cannot back allocates nothing.
    materials_.clear();
    effects_.clear();
    ChildWalker walker(list);
    ComPtr<IDirectXFileData> child;
    HRESULT error = S_OK;
    while (walker.Next(true, &child, &error)) {
        if (!HasTemplate(child.Get(), kTemplateMaterial)) continue;
        if (materials_.size() == materialCount) return D3DERR_INVALIDCALL;
        MaterialData material;
        std::optional<EffectInstanceData> effect;
        if (HRESULT hr = ReadMaterial(child.Get(), &material, &effect); FAILED(hr)) return hr;
        if (outputs_.effectInstances != nullptr) effects_.push_back(effect ? std::move(*effect) : DeriveEffectInstance(material));
        materials_.push_back(std::move(material));
    }
    if (FAILED(error)) return error;
    if (materials_.size() < materialCount) return E_FAIL;
    materialCount_ = materialCount;
    return S_OK;
}

HRESULT MeshReader::ReadMaterial(IDirectXFileData* object, MaterialData* material,
                                 std::optional<EffectInstanceData>* effect) {
    DataView d;
    if (HRESULT hr = DataView::Of(object, &d); FAILED(hr)) return hr;
    if (!d.Has(0, 44)) return E_FAIL;
    D3DMATERIAL9& m = material->material;
    m.Diffuse = ColorAt(d, 0, true);
    m.Ambient = {0, 0, 0, 1};
    m.Power = d.F32(16);
    m.Specular = ColorAt(d, 20, false);
    m.Emissive = ColorAt(d, 32, false);

    ChildWalker walker(object);
    ComPtr<IDirectXFileData> child;
    HRESULT error = S_OK;
    while (walker.Next(true, &child, &error)) {
        if (HasTemplate(child.Get(), kTemplateTextureFilename)) {
            DataView name;
            if (HRESULT hr = DataView::Of(child.Get(), &name); FAILED(hr)) return hr;
            std::string text;
            if (!ReadStringMember(child.Get(), name, 0, &text)) return E_FAIL;
            material->textureFilename = std::move(text);
        } else if (HasTemplate(child.Get(), kTemplateEffectInstance) && outputs_.effectInstances != nullptr) {
            EffectInstanceData instance;
            if (HRESULT hr = ReadEffectInstance(child.Get(), &instance); FAILED(hr)) return hr;
            *effect = std::move(instance);
        }
    }
    return error;
}

HRESULT MeshReader::ReadEffectInstance(IDirectXFileData* object, EffectInstanceData* effect) {
    DataView d;
    if (HRESULT hr = DataView::Of(object, &d); FAILED(hr)) return hr;
    std::string file;
    if (!ReadStringMember(object, d, 0, &file)) return E_FAIL;
    effect->effectFilename = std::move(file);
    ChildWalker walker(object);
    ComPtr<IDirectXFileData> child;
    HRESULT error = S_OK;
    while (walker.Next(true, &child, &error)) {
        if (HRESULT hr = ReadEffectDefault(child.Get(), effect); FAILED(hr)) return hr;
    }
    return error;
}

HRESULT MeshReader::ReadEffectDefault(IDirectXFileData* child, EffectInstanceData* effect) {
    const GUID* type = nullptr;
    if (HRESULT hr = child->GetType(&type); FAILED(hr)) return hr;
    const bool named = *type == kTemplateEffectParamFloats || *type == kTemplateEffectParamString ||
                       *type == kTemplateEffectParamDWord;
    const bool older = *type == kTemplateEffectFloats || *type == kTemplateEffectString || *type == kTemplateEffectDWord;
    if (!named && !older) return S_OK;
    EffectDefaultData value;
    if (older) {
        if (HRESULT hr = ReadObjectName(child, &value.paramName); FAILED(hr)) return hr;
        if (value.paramName.empty()) return S_OK;
    }
    DataView d;
    if (HRESULT hr = DataView::Of(child, &d); FAILED(hr)) return hr;
    // The older forms lack the leading name member.
    const std::uint64_t at = named ? 4 : 0;
    if (named && !ReadStringMember(child, d, 0, &value.paramName)) return E_FAIL;
    if (*type == kTemplateEffectParamFloats || *type == kTemplateEffectFloats) {
        if (!d.Has(at, 4)) return E_FAIL;
        const std::uint64_t floats = d.U32(at);
        if (d.Size() != 4 * floats + at + 4) return E_FAIL;
        value.kind = kEffectDefaultFloats;
        value.value = CopyBytes(d, at + 4, 4 * floats);
    } else if (*type == kTemplateEffectParamString || *type == kTemplateEffectString) {
        if (d.Size() != at + 4) return E_FAIL;
        std::string text;
        ReadStringMember(child, d, at, &text);
        value.kind = kEffectDefaultString;
        value.value.assign(text.begin(), text.end());
        value.value.push_back(0);
    } else {
        if (d.Size() != at + 4) return E_FAIL;
        value.kind = kEffectDefaultDWord;
        value.value = CopyBytes(d, at, 4);
    }
    effect->defaults.push_back(std::move(value));
    return S_OK;
}

HRESULT MeshReader::ReadProgressiveInfo(const DataView& d) {
    if (outputs_.progressiveData != nullptr) {
        progressiveData_ = CopyBytes(d, 0, d.Size());
        haveProgressiveData_ = true;
    }
    progressiveSeen_ = true;
    if (normalsPerCorner_) {
        if (fileNormals_.size() != fileVertexCount_) return E_FAIL;
        StoreNormalsPerVertex();
    }
    return S_OK;
}

HRESULT MeshReader::ReadSkinHeader(const DataView& d) {
    if (!d.Has(0, 6)) return E_FAIL;
    if (skinHeaderRead_) return S_OK;  // the first header counts
    skinHeaderRead_ = true;
    boneCount_ = d.U16(4);
    boneNames_.assign(boneCount_, std::string());
    boneOffsets_.assign(boneCount_, Matrix{});
    influences_.assign(boneCount_, BoneRecord{});
    return S_OK;
}

HRESULT MeshReader::ReadSkinWeights(IDirectXFileData* object, const DataView& d) {
    if (!d.Has(0, 8)) return E_FAIL;
    const std::uint64_t count = d.U32(4);
    if (d.Size() != 8 * count + 72) return E_FAIL;
    for (std::uint64_t i = 0; i < count; ++i)
        if (d.U32(8 + 4 * i) >= fileVertexCount_) return E_FAIL;
    // The header's bone count bounds the bones; SkinWeights beyond it are left out.
    if (bonesRead_ >= boneCount_) return S_OK;
    const DWORD bone = bonesRead_++;
    ReadStringMember(object, d, 0, &boneNames_[bone]);
    BoneRecord& record = influences_[bone];
    record.vertices.resize(count);
    record.weights.resize(count);
    if (count > 0) {
        std::memcpy(record.vertices.data(), d.Bytes() + 8, 4 * count);
        std::memcpy(record.weights.data(), d.Bytes() + 8 + 4 * count, 4 * count);
    }
    std::memcpy(&boneOffsets_[bone], d.Bytes() + 8 + 8 * count, sizeof(Matrix));
    return S_OK;
}

HRESULT MeshReader::ReadVertexFormatData(const DataView& d) {
    if (!d.Has(0, 8)) return E_FAIL;
    const std::uint64_t dwords = d.U32(4);
    if (!d.Has(8, 4 * dwords)) return E_FAIL;
    fvfDataCode_ = d.U32(0);
    fvfData_ = CopyBytes(d, 8, 4 * dwords);
    fvfDataStride_ = DWORD(4 * dwords / fileVertexCount_);
    haveFVFData_ = true;
    return S_OK;
}

HRESULT MeshReader::ReadDeclarationData(const DataView& d) {
    if (!d.Has(0, 4)) return E_FAIL;
    const DWORD elementCount = d.U32(0);
    if (elementCount < 1 || elementCount > MAXD3DDECLLENGTH) return D3DERR_INVALIDCALL;
    const std::uint64_t dwordsAt = 4 + 16ull * elementCount;
    if (!d.Has(0, dwordsAt + 4)) return E_FAIL;
    const std::uint64_t dwords = d.U32(dwordsAt);
    if (!d.Has(dwordsAt + 4, 4 * dwords)) return E_FAIL;

    D3DVERTEXELEMENT9 elements[kMaxDeclarationElements];
    UINT count = 0;
    UINT offset = 0;
    bool offsetsFit = true;
    for (DWORD i = 0; i < elementCount; ++i) {
        const std::uint64_t at = 4 + 16ull * i;
        const BYTE type = BYTE(d.U32(at));
        if (type >= D3DDECLTYPE_UNUSED) break;  // past the last declaration type
        if (offset > 255) offsetsFit = false;
        elements[count++] = {0, WORD(offset), type, BYTE(d.U32(at + 4)), BYTE(d.U32(at + 8)), BYTE(d.U32(at + 12))};
        offset += DeclarationTypeSize(type);
    }
    elements[count] = D3DDECL_END();
    // A declaration that cannot be expressed is dropped without failing the mesh.
    if (!offsetsFit || !IsValidDeclaration(elements)) return S_OK;
    const std::uint64_t stride = 4 * dwords / fileVertexCount_;
    if (stride < DeclarationVertexSize(elements, 0)) return D3DERR_INVALIDCALL;
    std::copy(elements, elements + count + 1, declData_);
    declDataBytes_ = CopyBytes(d, dwordsAt + 4, 4 * dwords);
    declDataStride_ = DWORD(stride);
    haveDeclData_ = true;
    return S_OK;
}

// The vertex-format code of the standard data and FVFData, as a declaration, with the DeclData
// elements appended behind it (an element whose usage and index the code already gives is left out).
HRESULT MeshReader::BuildDeclaration() {
    DWORD fvf = haveFVFData_ ? fvfDataCode_ : D3DFVF_XYZ;
    if ((fvf & D3DFVF_POSITION_MASK) == 0) fvf |= D3DFVF_XYZ;
    if (haveNormals_) fvf |= D3DFVF_NORMAL;
    if (haveColors_) fvf |= D3DFVF_DIFFUSE;
    if (haveTextureCoords_) {
        const DWORD sets = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
        if (sets >= 8) return D3DERR_INVALIDCALL;
        const DWORD sizes = ((fvf >> 16) << 2) & 0xFFFF;  // the file's sets move up by one
        fvf = (fvf & 0xFFFF & ~D3DFVF_TEXCOUNT_MASK) | ((sets + 1) << D3DFVF_TEXCOUNT_SHIFT) | (sizes << 16);
    }
    if (HRESULT hr = DeclarationFromFVF(fvf, declaration_); FAILED(hr)) return hr;
    fvfBaseSize_ = DeclarationVertexSize(declaration_, 0);
    if (!haveDeclData_) return S_OK;

    D3DVERTEXELEMENT9 merged[kMaxDeclarationElements];
    UINT count = DeclarationLength(declaration_);
    std::copy(declaration_, declaration_ + count, merged);
    for (const D3DVERTEXELEMENT9* e = declData_; !IsDeclarationEnd(*e) && count < MAXD3DDECLLENGTH; ++e) {
        if (FindDeclarationElement(declaration_, e->Usage, e->UsageIndex) >= 0) continue;
        merged[count] = *e;
        merged[count].Offset = WORD(fvfBaseSize_ + e->Offset);
        ++count;
    }
    merged[count] = D3DDECL_END();
    if (IsValidDeclaration(merged)) std::copy(merged, merged + count + 1, declaration_);
    return S_OK;
}

// Unit face normals summed into the vertices (one smoothing group); a vertex that received more than
// one is renormalised.
void MeshReader::GenerateNormals() {
    for (const LoadTriangle& t : triangles_) {
        const Vector3& p0 = vertices_[t.v[0]].position;
        Vector3 a, b, n;
        Vec3Subtract(&a, &p0, &vertices_[t.v[1]].position);
        Vec3Subtract(&b, &p0, &vertices_[t.v[2]].position);
        Vec3Cross(&n, &a, &b);
        const float length = Vec3Length(&n);
        if (length > 0.0f) Vec3Scale(&n, &n, 1.0f / length);
        for (DWORD v : t.v) {
            LoadVertex& vertex = vertices_[v];
            Vec3Add(&vertex.normal, &vertex.normal, &n);
            ++vertex.normalCount;
        }
    }
    for (LoadVertex& vertex : vertices_) {
        if (vertex.normalCount <= 1) continue;
        const float length = Vec3Length(&vertex.normal);
        if (length > 0.0f) Vec3Scale(&vertex.normal, &vertex.normal, 1.0f / length);
    }
}

// The layout most exporters write: every corner's normal has its vertex's index. When, besides,
// no used vertex holds a normal yet, the corner walk below would give each used vertex its own
// normal and split none; that is done here in two straight passes instead (the walk's test of each
// corner, first visit or not, is a branch that cannot be predicted). False, changing nothing, when
// the normals are laid out otherwise.
bool MeshReader::ApplyNormalsOfOwnIndex() {
    // Nothing has split a vertex yet, so the used marks cover every vertex.
    const std::size_t vertexCount = vertices_.size();
    assert(usedVertices_.size() == vertexCount);
    const std::uint8_t* used = usedVertices_.data();
    if (!normalsOfOwnIndex_) {
        const LoadTriangle* triangle = triangles_.data();
        const DWORD* corner = cornerNormals_.data();
        DWORD differ = 0;
        for (std::size_t t = 0; t < triangles_.size(); ++t)
            for (int k = 0; k < 3; ++k) differ |= triangle[t].v[k] ^ corner[3 * t + k];
        if (differ != 0) return false;
    }
    for (std::size_t v = 0; v < vertexCount; ++v)
        if (used[v] != 0 && vertices_[v].normalCount != 0) return false;
    for (std::size_t v = 0; v < vertexCount; ++v) {
        if (used[v] == 0) continue;
        vertices_[v].normal = fileNormals_[v];
        vertices_[v].normalCount = 1;
    }
    return true;
}

// Gives every triangle corner its normal: a vertex without a normal takes it, one with the same
// normal is kept, else a vertex of its duplicate ring that holds it, else a new copy in the ring.
// Rings are searched through a table made the first time a ring needs a search.
void MeshReader::ApplyCornerNormals() {
    if (ApplyNormalsOfOwnIndex()) return;
    if (normalsOfOwnIndex_) {
        // The walk reads each corner's normal index, which is its vertex's.
        cornerNormals_.resize(3 * triangles_.size());
        for (std::size_t t = 0; t < triangles_.size(); ++t)
            for (int k = 0; k < 3; ++k) cornerNormals_[3 * t + k] = triangles_[t].v[k];
    }
    std::unordered_map<NormalKey, DWORD, NormalKeyHash> holders;
    std::vector<bool> ringIndexed(vertices_.size(), false);
    auto remember = [&](DWORD v) {
        if (auto key = KeyOf(vertices_[v].original, vertices_[v].normal)) holders.emplace(*key, v);
    };
    for (std::size_t t = 0; t < triangles_.size(); ++t) {
        for (int k = 0; k < 3; ++k) {
            const Vector3& n = fileNormals_[cornerNormals_[3 * t + k]];
            const DWORD v = triangles_[t].v[k];
            LoadVertex& vertex = vertices_[v];
            if (vertex.normalCount == 0) {
                vertex.normal = n;
                vertex.normalCount = 1;
                if (ringIndexed[vertex.original]) remember(v);
                continue;
            }
            if (SameNormal(vertex.normal, n)) continue;
            const DWORD ring = vertex.original;
            if (!ringIndexed[ring]) {
                ringIndexed[ring] = true;
                DWORD member = v;
                do {
                    if (vertices_[member].normalCount > 0) remember(member);
                    member = vertices_[member].nextDuplicate;
                } while (member != v);
            }
            const std::optional<NormalKey> key = KeyOf(ring, n);
            if (key) {
                auto found = holders.find(*key);
                if (found != holders.end()) {
                    triangles_[t].v[k] = found->second;
                    continue;
                }
            }
            const DWORD copy = DWORD(vertices_.size());
            LoadVertex duplicate = vertices_[v];
            duplicate.normal = n;
            duplicate.normalCount = 1;
            duplicate.nextDuplicate = vertices_[v].nextDuplicate;
            vertices_[v].nextDuplicate = copy;
            vertices_.push_back(duplicate);
            if (key) holders.emplace(*key, copy);
            triangles_[t].v[k] = copy;
        }
    }
}

// Vertices appended by splitting are moved by the same bones as the file vertex they copy.
void MeshReader::ExpandInfluencesToCopies() {
    if (vertices_.size() == fileVertexCount_ || influences_.empty()) return;
    std::vector<DWORD> start(std::size_t(fileVertexCount_) + 1, 0);
    for (std::size_t c = fileVertexCount_; c < vertices_.size(); ++c) ++start[vertices_[c].source + 1];
    for (DWORD i = 0; i < fileVertexCount_; ++i) start[i + 1] += start[i];
    std::vector<DWORD> copies(vertices_.size() - fileVertexCount_);
    std::vector<DWORD> fill(start.begin(), start.end() - 1);
    for (std::size_t c = fileVertexCount_; c < vertices_.size(); ++c) copies[fill[vertices_[c].source]++] = DWORD(c);
    for (BoneRecord& bone : influences_) {
        const std::size_t original = bone.vertices.size();
        for (std::size_t j = 0; j < original; ++j) {
            const DWORD v = bone.vertices[j];
            for (DWORD c = start[v]; c < start[v + 1]; ++c) {
                bone.vertices.push_back(copies[c]);
                bone.weights.push_back(bone.weights[j]);
            }
        }
    }
}

// Where each part of a vertex goes, worked out once: the standard data's element offsets and the
// byte copies of the FVFData and DeclData blocks.
void MeshReader::PlanVertexLayout() {
    const D3DVERTEXELEMENT9* normal = FindElement(declaration_, D3DDECLUSAGE_NORMAL, 0);
    normalOffset_ = normal != nullptr && normal->Type == D3DDECLTYPE_FLOAT3 ? int(normal->Offset) : -1;
    const D3DVERTEXELEMENT9* color = haveColors_ ? FindElement(declaration_, D3DDECLUSAGE_COLOR, 0) : nullptr;
    colorOffset_ = color != nullptr ? int(color->Offset) : -1;
    const D3DVERTEXELEMENT9* uv = haveTextureCoords_ ? FindElement(declaration_, D3DDECLUSAGE_TEXCOORD, 0) : nullptr;
    uvOffset_ = uv != nullptr ? int(uv->Offset) : -1;

    // The FVFData block holds its code's elements after the position (which the Mesh gives). Its
    // normal is replaced by MeshNormals or generated normals, its diffuse colour by
    // MeshVertexColors when present; its texture sets sit behind MeshTextureCoords' set 0.
    fvfCopies_.clear();
    D3DVERTEXELEMENT9 own[kMaxDeclarationElements];
    DWORD code = fvfDataCode_;
    if ((code & D3DFVF_POSITION_MASK) == 0) code |= D3DFVF_XYZ;
    if (haveFVFData_ && fvfDataStride_ > 0 && SUCCEEDED(DeclarationFromFVF(code, own))) {
        const UINT skipped = DeclarationTypeSize(own[0].Type);
        for (const D3DVERTEXELEMENT9* e = own + 1; !IsDeclarationEnd(*e); ++e) {
            if (e->Usage == D3DDECLUSAGE_NORMAL) continue;
            if (e->Usage == D3DDECLUSAGE_COLOR && e->UsageIndex == 0 && haveColors_) continue;
            const bool shifted = e->Usage == D3DDECLUSAGE_TEXCOORD && haveTextureCoords_;
            const D3DVERTEXELEMENT9* target = FindElement(declaration_, e->Usage, BYTE(e->UsageIndex + (shifted ? 1 : 0)));
            const UINT size = DeclarationTypeSize(e->Type);
            if (target == nullptr || e->Offset - skipped + size > fvfDataStride_) continue;
            fvfCopies_.push_back({UINT(e->Offset - skipped), target->Offset, size});
        }
    }
    declCopies_.clear();
    if (haveDeclData_) {
        for (const D3DVERTEXELEMENT9* e = declData_; !IsDeclarationEnd(*e); ++e) {
            const D3DVERTEXELEMENT9* target = FindElement(declaration_, e->Usage, e->UsageIndex);
            if (target == nullptr || target->Offset != fvfBaseSize_ + e->Offset) continue;
            declCopies_.push_back({e->Offset, target->Offset, DeclarationTypeSize(e->Type)});
        }
    }
}

// Extra data first: where it names an element the standard templates also give, they win.
void MeshReader::WriteVertex(const LoadVertex& v, BYTE* out) const {
    if (!fvfCopies_.empty()) {
        const BYTE* block = fvfData_.data() + std::size_t(v.source) * fvfDataStride_;
        for (const ByteCopy& c : fvfCopies_) std::memcpy(out + c.to, block + c.from, c.size);
    }
    if (!declCopies_.empty()) {
        const BYTE* block = declDataBytes_.data() + std::size_t(v.source) * declDataStride_;
        for (const ByteCopy& c : declCopies_) std::memcpy(out + c.to, block + c.from, c.size);
    }
    const D3DVERTEXELEMENT9& position = declaration_[0];
    std::memcpy(out + position.Offset, &v.position, sizeof(Vector3));
    if (position.Type == D3DDECLTYPE_FLOAT4) {
        const float one = 1.0f;
        std::memcpy(out + position.Offset + 12, &one, 4);
    }
    if (normalOffset_ >= 0) std::memcpy(out + normalOffset_, &v.normal, sizeof(Vector3));
    if (colorOffset_ >= 0) {
        std::memcpy(out + colorOffset_, &v.color, 4);
    }
    if (uvOffset_ >= 0) std::memcpy(out + uvOffset_, v.uv, 8);
}

// Whether WriteVertex sets every byte of a vertex of this stride.
bool MeshReader::WritesWholeVertex(DWORD stride) const {
    std::vector<bool> set(stride, false);
    auto mark = [&](UINT offset, UINT size) {
        for (UINT i = offset; i < offset + size && i < stride; ++i) set[i] = true;
    };
    for (const ByteCopy& c : fvfCopies_) mark(c.to, c.size);
    for (const ByteCopy& c : declCopies_) mark(c.to, c.size);
    const D3DVERTEXELEMENT9& position = declaration_[0];
    mark(position.Offset, position.Type == D3DDECLTYPE_FLOAT4 ? 16 : 12);
    if (normalOffset_ >= 0) mark(UINT(normalOffset_), 12);
    if (colorOffset_ >= 0) mark(UINT(colorOffset_), 4);
    if (uvOffset_ >= 0) mark(UINT(uvOffset_), 8);
    return std::find(set.begin(), set.end(), false) == set.end();
}

HRESULT MeshReader::CreateAndFill(ComPtr<Mesh>* mesh) {
    const DWORD triangleCount = keptCount_;
    const DWORD vertexCount = DWORD(vertices_.size());
    const bool wide = triangleCount >= kIndex16Limit || vertexCount >= kIndex16Limit;
    const DWORD options = options_ | (wide ? kMesh32BitIndices : 0);
    if (HRESULT hr = CreateMeshObject(triangleCount, vertexCount, options, declaration_, device_,
                                      mesh->ReleaseAndGetAddressOf());
        FAILED(hr))
        return hr;
    Mesh* m = mesh->Get();

    PlanVertexLayout();
    void* data = nullptr;
    if (HRESULT hr = m->LockVertexBuffer(0, &data); FAILED(hr)) return hr;
    const DWORD stride = m->GetVertexSize();
    BYTE* out = static_cast<BYTE*>(data);
    // Bytes no element sets are zero.
    if (!WritesWholeVertex(stride)) std::memset(out, 0, std::size_t(stride) * vertexCount);
    for (const LoadVertex& v : vertices_) {
        WriteVertex(v, out);
        out += stride;
    }
    m->UnlockVertexBuffer();

    const bool allKept = keptTriangles_.empty();
    auto triangle = [&](DWORD t) -> const LoadTriangle& { return triangles_[allKept ? t : keptTriangles_[t]]; };
    if (HRESULT hr = m->LockIndexBuffer(0, &data); FAILED(hr)) return hr;
    if (wide) {
        DWORD* indices = static_cast<DWORD*>(data);
        for (DWORD t = 0; t < triangleCount; ++t) {
            const LoadTriangle& kept = triangle(t);
            indices[3 * std::size_t(t)] = kept.v[0];
            indices[3 * std::size_t(t) + 1] = kept.v[1];
            indices[3 * std::size_t(t) + 2] = kept.v[2];
        }
    } else {
        WORD* indices = static_cast<WORD*>(data);
        for (DWORD t = 0; t < triangleCount; ++t)
            for (int k = 0; k < 3; ++k) indices[3 * std::size_t(t) + k] = WORD(triangle(t).v[k]);
    }
    m->UnlockIndexBuffer();

    DWORD* attributes = nullptr;
    if (HRESULT hr = m->LockAttributeBuffer(0, &attributes); FAILED(hr)) return hr;
    for (DWORD t = 0; t < triangleCount; ++t) attributes[t] = triangle(t).material;
    m->UnlockAttributeBuffer();
    return S_OK;
}

// Once the mesh holds the vertices and triangles, their load records are let go, so that the
// adjacency and the attribute sort reuse that memory; only what the adjacency needs is kept.
void MeshReader::ReleaseLoadRecords() {
    if (haveDuplicates_ && !haveFileAdjacency_) {
        representatives_.resize(vertices_.size());
        for (std::size_t v = 0; v < vertices_.size(); ++v) representatives_[v] = vertices_[v].original;
    }
    WrittenRecords<LoadVertex>().swap(vertices_);
    WrittenRecords<LoadTriangle>().swap(triangles_);
    WrittenRecords<DWORD>().swap(cornerNormals_);
    Records<std::uint8_t>().swap(usedVertices_);
    WrittenRecords<Vector3>().swap(fileNormals_);
    Records<DWORD>().swap(faceFirstTriangle_);
    std::vector<BYTE>().swap(fvfData_);
    std::vector<BYTE>().swap(declDataBytes_);
    if (!haveFileAdjacency_) {
        Records<DWORD>().swap(keptTriangles_);
        Records<DWORD>().swap(newTriangleIndex_);
    }
}

// The adjacency the mesh is sorted with, three entries per triangle: the file's (renumbered past
// removed triangles), else from the duplicate rings as point representatives, else from equal
// positions.
HRESULT MeshReader::BuildAdjacency(Mesh* mesh, DWORD* out) {
    const DWORD triangleCount = mesh->GetFaceCount();
    if (haveFileAdjacency_) {
        const bool allKept = keptTriangles_.empty();
        for (DWORD t = 0; t < triangleCount; ++t) {
            const std::size_t file = allKept ? t : keptTriangles_[t];
            for (int k = 0; k < 3; ++k) {
                const DWORD neighbour = fileAdjacency_[3 * file + k];
                out[3 * t + k] = neighbour >= triangleTotal_ ? kNoNeighbour
                                 : allKept                   ? neighbour
                                                             : newTriangleIndex_[neighbour];
            }
        }
        return S_OK;
    }
    if (haveDuplicates_) return mesh->AdjacencyFromPointReps(representatives_.data(), out);
    return mesh->GenerateAdjacency(0.0f, out);
}

HRESULT MeshReader::Read(Mesh** mesh) {
    if (HRESULT hr = ReadBody(); FAILED(hr)) return hr;
    if (HRESULT hr = ReadChildren(); FAILED(hr)) return hr;
    if (HRESULT hr = BuildDeclaration(); FAILED(hr)) return hr;

    if (!haveNormals_ && FindDeclarationElement(declaration_, D3DDECLUSAGE_NORMAL, 0) >= 0) GenerateNormals();
    if (normalsPerCorner_) ApplyCornerNormals();

    // Triangles with a repeated vertex are removed; the numbering tables are made only when one was.
    triangleTotal_ = DWORD(triangles_.size());
    std::size_t removed = 0;
    for (LoadTriangle& triangle : triangles_) {
        if (triangle.v[0] == triangle.v[1] || triangle.v[1] == triangle.v[2] || triangle.v[0] == triangle.v[2]) {
            triangle.v[0] = kRemovedTriangle;
            ++removed;
        }
    }
    keptCount_ = DWORD(triangles_.size() - removed);
    if (keptCount_ == 0) return ERR_MESH_HAS_NO_DATA;
    if (removed > 0) {
        newTriangleIndex_.assign(triangles_.size(), kNoNeighbour);
        keptTriangles_.reserve(keptCount_);
        for (std::size_t t = 0; t < triangles_.size(); ++t) {
            if (triangles_[t].v[0] == kRemovedTriangle) continue;
            newTriangleIndex_[t] = DWORD(keptTriangles_.size());
            keptTriangles_.push_back(DWORD(t));
        }
    }
    ExpandInfluencesToCopies();

    if (HRESULT hr = CreateAndFill(&mesh_); FAILED(hr)) return hr;
    ReleaseLoadRecords();
    // The adjacency is built in scratch storage and written to its buffer in the sorted order.
    ComPtr<DataBuffer> adjacency;
    WrittenRecords<DWORD> built;
    DWORD* adjacencyWords = nullptr;
    if (outputs_.adjacency != nullptr) {
        const DWORD triangleCount = mesh_->GetFaceCount();
        built.resize(3 * std::size_t(triangleCount));
        if (HRESULT hr = BuildAdjacency(mesh_.Get(), built.data()); FAILED(hr)) return hr;
        // Written whole by the sort below.
        if (HRESULT hr = CreateUnclearedDataBuffer(12 * triangleCount, adjacency.ReleaseAndGetAddressOf()); FAILED(hr))
            return hr;
        adjacencyWords = static_cast<DWORD*>(adjacency->GetBufferPointer());
    }
    if (HRESULT hr = mesh_->OptimizeInPlace(kAttributeSortFlags, adjacencyWords != nullptr ? built.data() : nullptr,
                                            adjacencyWords, nullptr, nullptr);
        FAILED(hr))
        return hr;
    adjacency_ = std::move(adjacency);
    if (HRESULT hr = Publish(); FAILED(hr)) return hr;
    *mesh = mesh_.Detach();
    return S_OK;
}

// Hands every asked-for output to the caller; nothing is handed out unless all of them could be
// made.
HRESULT MeshReader::Publish() {
    ComPtr<DataBuffer> materials, effects, progressive, offsets;
    if (outputs_.materials != nullptr && materialCount_ > 0)
        if (HRESULT hr = PackMaterials(materials_, materials.ReleaseAndGetAddressOf()); FAILED(hr)) return hr;
    if (outputs_.effectInstances != nullptr && materialCount_ > 0)
        if (HRESULT hr = PackEffectInstances(effects_, effects.ReleaseAndGetAddressOf()); FAILED(hr)) return hr;
    if (outputs_.progressiveData != nullptr && haveProgressiveData_) {
        if (HRESULT hr = CreateDataBuffer(DWORD(progressiveData_.size()), progressive.ReleaseAndGetAddressOf()); FAILED(hr))
            return hr;
        if (!progressiveData_.empty())
            std::memcpy(progressive->GetBufferPointer(), progressiveData_.data(), progressiveData_.size());
    }
    if (bones_.offsets != nullptr) {
        if (HRESULT hr = CreateDataBuffer(DWORD(sizeof(Matrix) * boneCount_), offsets.ReleaseAndGetAddressOf()); FAILED(hr))
            return hr;
        if (boneCount_ > 0) std::memcpy(offsets->GetBufferPointer(), boneOffsets_.data(), sizeof(Matrix) * boneCount_);
    }
    if (outputs_.adjacency != nullptr) *outputs_.adjacency = adjacency_.Detach();
    if (outputs_.materials != nullptr) *outputs_.materials = materials.Detach();
    if (outputs_.effectInstances != nullptr) *outputs_.effectInstances = effects.Detach();
    if (outputs_.materialCount != nullptr) *outputs_.materialCount = materialCount_;
    if (outputs_.progressiveData != nullptr) *outputs_.progressiveData = progressive.Detach();
    if (outputs_.unrecognised != nullptr) *outputs_.unrecognised = std::move(unrecognised_);
    if (bones_.names != nullptr) *bones_.names = std::move(boneNames_);
    if (bones_.offsets != nullptr) *bones_.offsets = offsets.Detach();
    if (bones_.influences != nullptr) *bones_.influences = std::move(influences_);
    if (bones_.boneCount != nullptr) *bones_.boneCount = boneCount_;
    return S_OK;
}

void ClearOutputs(const MeshReadOutputs& outputs, const MeshBoneOutputs& bones) {
    if (outputs.adjacency != nullptr) *outputs.adjacency = nullptr;
    if (outputs.materials != nullptr) *outputs.materials = nullptr;
    if (outputs.effectInstances != nullptr) *outputs.effectInstances = nullptr;
    if (outputs.materialCount != nullptr) *outputs.materialCount = 0;
    if (outputs.progressiveData != nullptr) *outputs.progressiveData = nullptr;
    if (outputs.unrecognised != nullptr) outputs.unrecognised->clear();
    if (bones.names != nullptr) bones.names->clear();
    if (bones.offsets != nullptr) *bones.offsets = nullptr;
    if (bones.influences != nullptr) bones.influences->clear();
    if (bones.boneCount != nullptr) *bones.boneCount = 0;
}

}  // namespace

HRESULT ReadMeshObject(IDirectXFileData* object, DWORD options, IDirect3DDevice9* device,
                       const MeshReadOutputs& outputs, const MeshBoneOutputs& bones, Mesh** mesh) {
    if (mesh == nullptr) return D3DERR_INVALIDCALL;
    *mesh = nullptr;
    ClearOutputs(outputs, bones);
    if (object == nullptr || device == nullptr) return D3DERR_INVALIDCALL;
    NumericLocaleC numericLocale;
    try {
        MeshReader reader(object, options, device, outputs, bones);
        return reader.Read(mesh);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::length_error&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT ReadSkinnedMesh(IDirectXFileData* object, DWORD options, IDirect3DDevice9* device,
                        const MeshReadOutputs& outputs, SkinInfo** skinInfo, Mesh** mesh) {
    assert(skinInfo != nullptr && "the caller always receives the skin information");
    if (mesh == nullptr || skinInfo == nullptr) return D3DERR_INVALIDCALL;
    *mesh = nullptr;
    *skinInfo = nullptr;

    // Outputs are read into local holders so that a failure after the read releases them.
    ComPtr<DataBuffer> adjacency, materials, effects, progressive, offsets;
    DWORD materialCount = 0;
    std::vector<ComPtr<IDirectXFileData>> unrecognised;
    MeshReadOutputs inner;
    inner.adjacency = outputs.adjacency ? adjacency.ReleaseAndGetAddressOf() : nullptr;
    inner.materials = outputs.materials ? materials.ReleaseAndGetAddressOf() : nullptr;
    inner.effectInstances = outputs.effectInstances ? effects.ReleaseAndGetAddressOf() : nullptr;
    inner.materialCount = outputs.materialCount ? &materialCount : nullptr;
    inner.progressiveData = outputs.progressiveData ? progressive.ReleaseAndGetAddressOf() : nullptr;
    inner.unrecognised = outputs.unrecognised ? &unrecognised : nullptr;
    std::vector<std::string> names;
    std::vector<BoneRecord> influences;
    DWORD boneCount = 0;
    MeshBoneOutputs bones{&names, offsets.ReleaseAndGetAddressOf(), &influences, &boneCount};

    ComPtr<Mesh> read;
    if (HRESULT hr = ReadMeshObject(object, kReaderMeshOptions, device, inner, bones, read.ReleaseAndGetAddressOf());
        FAILED(hr)) {
        ClearOutputs(outputs, {});
        return hr;
    }
    D3DVERTEXELEMENT9 declaration[kMaxDeclarationElements];
    ComPtr<SkinInfo> skin;
    HRESULT hr = read->GetDeclaration(declaration);
    if (SUCCEEDED(hr))
        hr = CreateSkinInfoFromBones(read->GetVertexCount(), declaration, boneCount, std::move(influences),
                                     skin.ReleaseAndGetAddressOf());
    if (FAILED(hr)) {
        ClearOutputs(outputs, {});
        return hr;
    }
    const Matrix* offsetMatrices = static_cast<const Matrix*>(offsets->GetBufferPointer());
    for (DWORD bone = 0; bone < boneCount; ++bone) {
        skin->SetBoneName(bone, names[bone].empty() ? nullptr : names[bone].c_str());
        skin->SetBoneOffsetMatrix(bone, &offsetMatrices[bone]);
    }

    if (outputs.adjacency != nullptr) *outputs.adjacency = adjacency.Detach();
    if (outputs.materials != nullptr) *outputs.materials = materials.Detach();
    if (outputs.effectInstances != nullptr) *outputs.effectInstances = effects.Detach();
    if (outputs.materialCount != nullptr) *outputs.materialCount = materialCount;
    if (outputs.progressiveData != nullptr) *outputs.progressiveData = progressive.Detach();
    if (outputs.unrecognised != nullptr) *outputs.unrecognised = std::move(unrecognised);
    *skinInfo = skin.Detach();
    *mesh = read.Detach();
    return S_OK;
}

}  // namespace qm
