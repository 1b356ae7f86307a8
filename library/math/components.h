// components.h: library-internal access to the vector types' components by index, so the operations
// shared by 2-, 3- and 4-vectors (splines, normalisation, barycentric sums) are written once.
#pragma once

#include <array>
#include <cstddef>
#include <cmath>

#include "library/math/math_types.h"

namespace qm::detail {

template <typename V>
struct Components;
template <>
struct Components<Vector2> {
    static constexpr std::array<float Vector2::*, 2> kMembers = {&Vector2::x, &Vector2::y};
};
template <>
struct Components<Vector3> {
    static constexpr std::array<float Vector3::*, 3> kMembers = {&Vector3::x, &Vector3::y, &Vector3::z};
};
template <>
struct Components<Vector4> {
    static constexpr std::array<float Vector4::*, 4> kMembers = {&Vector4::x, &Vector4::y, &Vector4::z, &Vector4::w};
};
template <>
struct Components<Quaternion> {
    static constexpr std::array<float Quaternion::*, 4> kMembers = {&Quaternion::x, &Quaternion::y, &Quaternion::z,
                                                                    &Quaternion::w};
};

template <typename V>
inline constexpr int kComponentCount = static_cast<int>(Components<V>::kMembers.size());

template <typename V>
float& At(V& v, int i) {
    return v.*Components<V>::kMembers[i];
}
template <typename V>
float At(const V& v, int i) {
    return v.*Components<V>::kMembers[i];
}

// The normalisation rule of slots 7, 8, 20 and 46: unchanged when the squared length is near 1, zero
// below the smallest normal float, else scaled by 1/sqrt(L).
template <typename V>
V* Normalize(V* out, const V* v) {
    V value = *v;
    float lengthSq = 0.0f;
    for (int i = 0; i < kComponentCount<V>; ++i) lengthSq += At(value, i) * At(value, i);
    if (IsNear(lengthSq, 1.0f)) {
        *out = value;
        return out;
    }
    if (lengthSq < kSmallestNormal) {
        for (int i = 0; i < kComponentCount<V>; ++i) At(value, i) = 0.0f;
        *out = value;
        return out;
    }
    float scale = 1.0f / std::sqrt(lengthSq);
    for (int i = 0; i < kComponentCount<V>; ++i) At(value, i) *= scale;
    *out = value;
    return out;
}

// (2s³ − 3s² + 1)·p1 + (s³ − 2s² + s)·t1 + (−2s³ + 3s²)·p2 + (s³ − s²)·t2.
template <typename V>
V* Hermite(V* out, const V* p1, const V* t1, const V* p2, const V* t2, float s) {
    float s2 = s * s;
    float s3 = s2 * s;
    float h1 = 2.0f * s3 - 3.0f * s2 + 1.0f;
    float h2 = s3 - 2.0f * s2 + s;
    float h3 = -2.0f * s3 + 3.0f * s2;
    float h4 = s3 - s2;
    V result;
    for (int i = 0; i < kComponentCount<V>; ++i)
        At(result, i) = h1 * At(*p1, i) + h2 * At(*t1, i) + h3 * At(*p2, i) + h4 * At(*t2, i);
    *out = result;
    return out;
}

// 0.5·((−s³ + 2s² − s)·p0 + (3s³ − 5s² + 2)·p1 + (−3s³ + 4s² + s)·p2 + (s³ − s²)·p3).
template <typename V>
V* CatmullRom(V* out, const V* p0, const V* p1, const V* p2, const V* p3, float s) {
    float s2 = s * s;
    float s3 = s2 * s;
    float w0 = -s3 + 2.0f * s2 - s;
    float w1 = 3.0f * s3 - 5.0f * s2 + 2.0f;
    float w2 = -3.0f * s3 + 4.0f * s2 + s;
    float w3 = s3 - s2;
    V result;
    for (int i = 0; i < kComponentCount<V>; ++i)
        At(result, i) = 0.5f * (w0 * At(*p0, i) + w1 * At(*p1, i) + w2 * At(*p2, i) + w3 * At(*p3, i));
    *out = result;
    return out;
}

// p1 + f·(p2 − p1) + g·(p3 − p1).
template <typename V>
V* BaryCentric(V* out, const V* p1, const V* p2, const V* p3, float f, float g) {
    V result;
    for (int i = 0; i < kComponentCount<V>; ++i)
        At(result, i) = At(*p1, i) + f * (At(*p2, i) - At(*p1, i)) + g * (At(*p3, i) - At(*p1, i));
    *out = result;
    return out;
}

// Element i of a strided array.
template <typename T>
T* Element(T* base, UINT stride, UINT i) {
    return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(base) + static_cast<std::size_t>(i) * stride);
}
template <typename T>
const T* Element(const T* base, UINT stride, UINT i) {
    return reinterpret_cast<const T*>(reinterpret_cast<const BYTE*>(base) + static_cast<std::size_t>(i) * stride);
}

}  // namespace qm::detail
