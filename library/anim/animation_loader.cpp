// animation_loader.cpp: reads AnimationSet, Animation and AnimationKey objects through the X-file
// parser; matrix keys are split into scale, rotation and translation keys, with neighbouring
// rotations kept in one hemisphere so that interpolation takes the short way.
#include "library/anim/animation_loader.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "library/math/math.h"
#include "platform/xof/object_name.h"

namespace qm {
namespace {

using xof::ReadObjectName;

// The type of a child that is a data object, or nothing for references and binary objects.
std::optional<GUID> DataType(IDirectXFileData* data) {
    const GUID* type = nullptr;
    if (FAILED(data->GetType(&type)) || type == nullptr) return std::nullopt;
    return *type;
}

// Calls visit(child) for every child of the object in file order, stopping at the first failure
// visit returns. The end of the children (any failure of the next-child call) ends the walk.
template <class Visit>
HRESULT ForEachChild(IDirectXFileData* object, Visit visit) {
    for (;;) {
        IDirectXFileObject* raw = nullptr;
        if (FAILED(object->GetNextObject(&raw)) || raw == nullptr) return S_OK;
        ComPtr<IDirectXFileObject> child = ComPtr<IDirectXFileObject>::Adopt(raw);
        HRESULT hr = visit(child.Get());
        if (FAILED(hr)) return hr;
    }
}

template <class T>
ComPtr<T> Query(IUnknown* object) {
    void* found = nullptr;
    if (FAILED(object->QueryInterface(T::iid, &found))) return nullptr;
    return ComPtr<T>::Adopt(static_cast<T*>(found));
}

std::uint32_t ReadWord(const BYTE* at) {
    std::uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

float ReadFloat(const BYTE* at) {
    float value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// Key types of AnimationKey.
constexpr DWORD kKeyRotation = 0;
constexpr DWORD kKeyScale = 1;
constexpr DWORD kKeyPosition = 2;
constexpr DWORD kKeyMatrix = 4;

// Per key type: the value count of each key, and the record stride in 32-bit words (time,
// value count, values).
struct KeyLayout {
    DWORD type;
    DWORD values;
};
constexpr KeyLayout kKeyLayouts[] = {{kKeyRotation, 4}, {kKeyScale, 3}, {kKeyPosition, 3}, {kKeyMatrix, 16}};

const KeyLayout* FindLayout(DWORD type) {
    for (const KeyLayout& layout : kKeyLayouts) {
        if (layout.type == type) return &layout;
    }
    return nullptr;
}

// The keys read from one Animation.
struct AnimationKeys {
    std::optional<KeyArray<VectorKey>> scale;
    std::optional<KeyArray<RotationKey>> rotation;
    std::optional<KeyArray<VectorKey>> translation;

    bool Any() const { return scale || rotation || translation; }
};

// Splits a 4×4 key into translation (row 4), a uniform scale (the length of row 1) and the
// conjugated rotation of the normalised upper 3×3 rows.
void DecomposeMatrixKey(float time, const float* m, AnimationKeys& keys) {
    Vector3 rows[3];
    for (int row = 0; row < 3; ++row) rows[row] = Vector3(m[row * 4 + 0], m[row * 4 + 1], m[row * 4 + 2]);
    const float scale = Vec3Length(&rows[0]);
    for (Vector3& row : rows) Vec3Normalize(&row, &row);
    const Matrix rotation(rows[0].x, rows[0].y, rows[0].z, 0.0f, rows[1].x, rows[1].y, rows[1].z, 0.0f, rows[2].x,
                          rows[2].y, rows[2].z, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f);
    Quaternion q;
    QuaternionRotationMatrix(&q, &rotation);
    QuaternionConjugate(&q, &q);
    keys.scale->push_back(VectorKey{time, Vector3(scale, scale, scale)});
    keys.rotation->push_back(RotationKey{time, q});
    keys.translation->push_back(VectorKey{time, Vector3(m[12], m[13], m[14])});
}

// Negates every rotation that lies in the other hemisphere from its predecessor.
void AlignHemispheres(KeyArray<RotationKey>& keys) {
    for (std::size_t i = 1; i < keys.size(); ++i) {
        const Quaternion& a = keys[i].value;
        const Quaternion& b = keys[i - 1].value;
        const float sx = a.x + b.x, sy = a.y + b.y, sz = a.z + b.z, sw = a.w + b.w;
        const float dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z, dw = a.w - b.w;
        if (sx * sx + sy * sy + sz * sz + sw * sw < dx * dx + dy * dy + dz * dz + dw * dw) {
            keys[i].value = Quaternion{-a.x, -a.y, -a.z, -a.w};
        }
    }
}

// Reads one AnimationKey: DWORD keyType, DWORD nKeys, then nKeys records of DWORD time, DWORD
// nValues and the values, at the fixed stride of the key type. Records whose value count is not
// the type's are refused, as is a key count the data cannot hold.
HRESULT ReadAnimationKey(IDirectXFileData* object, AnimationKeys& keys) {
    DWORD size = 0;
    void* raw = nullptr;
    HRESULT hr = object->GetData(nullptr, &size, &raw);
    if (FAILED(hr)) return hr;
    if (raw == nullptr || size < 8) return E_INVALIDARG;
    const BYTE* data = static_cast<const BYTE*>(raw);
    const DWORD type = ReadWord(data);
    const DWORD count = ReadWord(data + 4);

    const KeyLayout* layout = FindLayout(type);
    if (layout == nullptr) return E_INVALIDARG;
    const bool repeated = type == kKeyMatrix ? keys.Any()
                          : type == kKeyRotation ? keys.rotation.has_value()
                          : type == kKeyScale    ? keys.scale.has_value()
                                                 : keys.translation.has_value();
    if (repeated) return E_INVALIDARG;

    const std::uint64_t stride = 4ull * (2 + layout->values);
    if (static_cast<std::uint64_t>(count) * stride > size - 8) return E_INVALIDARG;
    for (DWORD k = 0; k < count; ++k) {
        if (ReadWord(data + 8 + k * stride + 4) != layout->values) return E_INVALIDARG;
    }

    try {
        AnimationKeys read;
        switch (type) {
            case kKeyRotation: read.rotation.emplace(); read.rotation->reserve(count); break;
            case kKeyScale: read.scale.emplace(); read.scale->reserve(count); break;
            case kKeyPosition: read.translation.emplace(); read.translation->reserve(count); break;
            default:
                read.scale.emplace(); read.scale->reserve(count);
                read.rotation.emplace(); read.rotation->reserve(count);
                read.translation.emplace(); read.translation->reserve(count);
                break;
        }
        float values[16];
        for (DWORD k = 0; k < count; ++k) {
            const BYTE* record = data + 8 + k * stride;
            const float time = static_cast<float>(ReadWord(record));
            for (DWORD v = 0; v < layout->values; ++v) values[v] = ReadFloat(record + 8 + 4 * v);
            switch (type) {
                case kKeyRotation:  // the file's w, x, y, z kept as they stand, reordered to x, y, z, w
                    read.rotation->push_back(RotationKey{time, Quaternion{values[1], values[2], values[3], values[0]}});
                    break;
                case kKeyScale: read.scale->push_back(VectorKey{time, Vector3(values[0], values[1], values[2])}); break;
                case kKeyPosition:
                    read.translation->push_back(VectorKey{time, Vector3(values[0], values[1], values[2])});
                    break;
                default: DecomposeMatrixKey(time, values, read); break;
            }
        }
        if (type == kKeyMatrix) AlignHemispheres(*read.rotation);
        if (read.scale) keys.scale = std::move(read.scale);
        if (read.rotation) keys.rotation = std::move(read.rotation);
        if (read.translation) keys.translation = std::move(read.translation);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

// The keys read, taken out of the optional; none for an array not read.
template <class Key>
KeyArray<Key> TakeKeys(std::optional<KeyArray<Key>>& keys) {
    return keys ? std::move(*keys) : KeyArray<Key>();
}

}  // namespace

HRESULT ReadAnimTicksPerSecond(IDirectXFileData* object, double* ticksPerSecond) {
    if (object == nullptr || ticksPerSecond == nullptr) return D3DERR_INVALIDCALL;
    DWORD size = 0;
    void* data = nullptr;
    HRESULT hr = object->GetData(nullptr, &size, &data);
    if (FAILED(hr)) return hr;
    if (size == 4 && data != nullptr) *ticksPerSecond = static_cast<double>(ReadWord(static_cast<const BYTE*>(data)));
    return S_OK;
}

HRESULT LoadAnimation(double ticksPerSecond, IDirectXFileData* object, KeyframeInterpolator** interpolator) {
    if (object == nullptr || interpolator == nullptr) return D3DERR_INVALIDCALL;
    *interpolator = nullptr;
    std::optional<std::string> frameName;
    AnimationKeys keys;

    HRESULT hr = ForEachChild(object, [&](IDirectXFileObject* child) -> HRESULT {
        if (ComPtr<IDirectXFileData> data = Query<IDirectXFileData>(child)) {
            const std::optional<GUID> type = DataType(data.Get());
            if (!type) return S_OK;
            if (*type == kTemplateFrame) return E_INVALIDARG;
            if (*type == kTemplateAnimationKey) return ReadAnimationKey(data.Get(), keys);
            return S_OK;  // AnimationOptions and anything else
        }
        ComPtr<IDirectXFileDataReference> reference = Query<IDirectXFileDataReference>(child);
        if (!reference) return S_OK;  // binary objects
        IDirectXFileData* rawTarget = nullptr;
        HRESULT resolved = reference->Resolve(&rawTarget);
        if (FAILED(resolved)) return resolved;
        ComPtr<IDirectXFileData> target = ComPtr<IDirectXFileData>::Adopt(rawTarget);
        if (!target) return E_INVALIDARG;
        const std::optional<GUID> type = DataType(target.Get());
        if (!type || *type != kTemplateFrame) return S_OK;
        if (frameName) return E_INVALIDARG;
        std::optional<std::string> name;
        HRESULT read = ReadObjectName(target.Get(), &name);
        if (FAILED(read)) return read;
        if (!name || name->empty()) return E_INVALIDARG;
        frameName = std::move(name);
        return S_OK;
    });
    if (FAILED(hr)) return hr;
    if (!keys.Any()) return E_FAIL;

    return CreateKeyframeInterpolator(frameName ? frameName->c_str() : nullptr, TakeKeys(keys.scale),
                                      TakeKeys(keys.rotation), TakeKeys(keys.translation), ticksPerSecond,
                                      interpolator);
}

HRESULT LoadAnimationSet(double ticksPerSecond, IDirectXFileData* object, AnimationSet** set) {
    if (object == nullptr || set == nullptr) return D3DERR_INVALIDCALL;
    *set = nullptr;
    std::optional<std::string> name;
    HRESULT hr = ReadObjectName(object, &name);
    if (FAILED(hr)) return hr;

    std::vector<ComPtr<KeyframeInterpolator>> loaded;
    try {
        hr = ForEachChild(object, [&](IDirectXFileObject* child) -> HRESULT {
            ComPtr<IDirectXFileData> data = Query<IDirectXFileData>(child);
            if (!data) return S_OK;
            const std::optional<GUID> type = DataType(data.Get());
            if (!type || *type != kTemplateAnimation) return S_OK;
            KeyframeInterpolator* interpolator = nullptr;
            // An Animation that cannot be read is left out; the set is made from the others.
            if (SUCCEEDED(LoadAnimation(ticksPerSecond, data.Get(), &interpolator)) && interpolator != nullptr) {
                loaded.push_back(ComPtr<KeyframeInterpolator>::Adopt(interpolator));
            }
            return S_OK;
        });
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (FAILED(hr)) return hr;
    if (loaded.empty()) return S_OK;

    // Last read first.
    std::vector<KeyframeInterpolator*> reversed;
    try {
        reversed.reserve(loaded.size());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    for (auto it = loaded.rbegin(); it != loaded.rend(); ++it) reversed.push_back(it->Get());
    return CreateAnimationSet(name ? name->c_str() : nullptr, reversed.data(), static_cast<UINT>(reversed.size()),
                              set);
}

}  // namespace qm
