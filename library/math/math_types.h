// math_types.h: the math library's vector, quaternion, plane and matrix types and small inline helpers.
#pragma once

#include <cmath>
#include <type_traits>

#include "platform/d3d9/d3d9types.h"

namespace qm {

// Single-precision epsilon: two floats are "near" when their difference lies within it (inclusive).
inline constexpr float kNearEpsilon = 1.1920929e-7f;
// Smallest normal float: squared lengths below it normalise to the zero vector.
inline constexpr float kSmallestNormal = 1.1754944e-38f;

// True when a - b lies in [-kNearEpsilon, kNearEpsilon].
inline bool IsNear(float a, float b) {
    float difference = a - b;
    return difference >= -kNearEpsilon && difference <= kNearEpsilon;
}

struct Vector2 {
    float x;
    float y;
};

// Same layout as D3DVECTOR, so a Vector3 can be passed where the platform expects one.
struct Vector3 : D3DVECTOR {
    Vector3() = default;
    constexpr Vector3(float xValue, float yValue, float zValue) : D3DVECTOR{xValue, yValue, zValue} {}
};

struct Vector4 {
    float x;
    float y;
    float z;
    float w;
};

// (x, y, z) the vector part, w the scalar part.
struct Quaternion {
    float x;
    float y;
    float z;
    float w;
};

// a·x + b·y + c·z + d = 0.
struct Plane {
    float a;
    float b;
    float c;
    float d;
};

// Row-major, used with row vectors (p × M), translation in _41, _42, _43. Same layout as D3DMATRIX.
struct Matrix : D3DMATRIX {
    Matrix() = default;
    Matrix(float m11, float m12, float m13, float m14, float m21, float m22, float m23, float m24, float m31,
           float m32, float m33, float m34, float m41, float m42, float m43, float m44) {
        _11 = m11, _12 = m12, _13 = m13, _14 = m14;
        _21 = m21, _22 = m22, _23 = m23, _24 = m24;
        _31 = m31, _32 = m32, _33 = m33, _34 = m34;
        _41 = m41, _42 = m42, _43 = m43, _44 = m44;
    }
};

static_assert(sizeof(Vector2) == 8 && sizeof(Vector3) == 12 && sizeof(Vector4) == 16);
static_assert(sizeof(Quaternion) == 16 && sizeof(Plane) == 16 && sizeof(Matrix) == 64);
static_assert(std::is_trivially_copyable_v<Vector3> && std::is_trivially_default_constructible_v<Vector3> &&
              std::is_standard_layout_v<Vector3>);
static_assert(std::is_trivially_copyable_v<Matrix> && std::is_trivially_default_constructible_v<Matrix> &&
              std::is_standard_layout_v<Matrix>);

// Small helpers that need no processor-specific forms.

inline float Vec2Dot(const Vector2* a, const Vector2* b) { return a->x * b->x + a->y * b->y; }
inline float Vec2LengthSq(const Vector2* v) { return Vec2Dot(v, v); }
inline float Vec2Length(const Vector2* v) { return std::sqrt(Vec2LengthSq(v)); }

inline float Vec3Dot(const Vector3* a, const Vector3* b) { return a->x * b->x + a->y * b->y + a->z * b->z; }
inline float Vec3LengthSq(const Vector3* v) { return Vec3Dot(v, v); }
inline float Vec3Length(const Vector3* v) { return std::sqrt(Vec3LengthSq(v)); }

// Output may alias either input.
inline Vector3* Vec3Cross(Vector3* out, const Vector3* a, const Vector3* b) {
    Vector3 result(a->y * b->z - a->z * b->y, a->z * b->x - a->x * b->z, a->x * b->y - a->y * b->x);
    *out = result;
    return out;
}
inline Vector3* Vec3Add(Vector3* out, const Vector3* a, const Vector3* b) {
    *out = Vector3(a->x + b->x, a->y + b->y, a->z + b->z);
    return out;
}
inline Vector3* Vec3Subtract(Vector3* out, const Vector3* a, const Vector3* b) {
    *out = Vector3(a->x - b->x, a->y - b->y, a->z - b->z);
    return out;
}
inline Vector3* Vec3Scale(Vector3* out, const Vector3* v, float s) {
    *out = Vector3(v->x * s, v->y * s, v->z * s);
    return out;
}
// a + s·(b − a).
inline Vector3* Vec3Lerp(Vector3* out, const Vector3* a, const Vector3* b, float s) {
    *out = Vector3(a->x + s * (b->x - a->x), a->y + s * (b->y - a->y), a->z + s * (b->z - a->z));
    return out;
}

inline float Vec4Dot(const Vector4* a, const Vector4* b) {
    return a->x * b->x + a->y * b->y + a->z * b->z + a->w * b->w;
}
inline float Vec4LengthSq(const Vector4* v) { return Vec4Dot(v, v); }
inline float Vec4Length(const Vector4* v) { return std::sqrt(Vec4LengthSq(v)); }

inline float QuaternionDot(const Quaternion* a, const Quaternion* b) {
    return a->x * b->x + a->y * b->y + a->z * b->z + a->w * b->w;
}
inline float QuaternionLengthSq(const Quaternion* q) { return QuaternionDot(q, q); }
inline float QuaternionLength(const Quaternion* q) { return std::sqrt(QuaternionLengthSq(q)); }
inline Quaternion* QuaternionIdentity(Quaternion* out) {
    *out = Quaternion{0.0f, 0.0f, 0.0f, 1.0f};
    return out;
}
inline Quaternion* QuaternionConjugate(Quaternion* out, const Quaternion* q) {
    *out = Quaternion{-q->x, -q->y, -q->z, q->w};
    return out;
}

// a·x + b·y + c·z + d·w.
inline float PlaneDot(const Plane* p, const Vector4* v) { return p->a * v->x + p->b * v->y + p->c * v->z + p->d * v->w; }
// The plane equation at a point: a·x + b·y + c·z + d.
inline float PlaneDotCoord(const Plane* p, const Vector3* v) { return p->a * v->x + p->b * v->y + p->c * v->z + p->d; }
// The normal's dot product with a direction: a·x + b·y + c·z.
inline float PlaneDotNormal(const Plane* p, const Vector3* v) { return p->a * v->x + p->b * v->y + p->c * v->z; }

inline Matrix* MatrixIdentity(Matrix* out) {
    *out = Matrix(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    return out;
}
inline bool MatrixIsIdentity(const Matrix* m) {
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column)
            if (m->m[row][column] != (row == column ? 1.0f : 0.0f)) return false;
    return true;
}

}  // namespace qm
