// alternative.cpp: the alternative portable forms of slots 0-7 and 34, installed with the portable
// table at the first choice: the same operations with the translation row added first, pairwise
// sums, unrolled products and division in place of a reciprocal; equal to the portable forms within
// rounding.
#include <cmath>

#include "library/math/math_slots.h"

namespace qm::alternative {
namespace {

// One row of p × M for a 4-vector, summed pairwise: (x·m0 + y·m1) + (z·m2 + w·m3).
inline float RowDot(float x, float y, float z, float w, float m0, float m1, float m2, float m3) {
    return (x * m0 + y * m1) + (z * m2 + w * m3);
}

}  // namespace

Vector4* Vec2Transform(Vector4* out, const Vector2* v, const Matrix* m) {
    float x = v->x, y = v->y;
    *out = Vector4{m->_41 + x * m->_11 + y * m->_21, m->_42 + x * m->_12 + y * m->_22, m->_43 + x * m->_13 + y * m->_23,
                   m->_44 + x * m->_14 + y * m->_24};
    return out;
}

Vector4* Vec3Transform(Vector4* out, const Vector3* v, const Matrix* m) {
    float x = v->x, y = v->y, z = v->z;
    *out = Vector4{m->_41 + x * m->_11 + y * m->_21 + z * m->_31, m->_42 + x * m->_12 + y * m->_22 + z * m->_32,
                   m->_43 + x * m->_13 + y * m->_23 + z * m->_33, m->_44 + x * m->_14 + y * m->_24 + z * m->_34};
    return out;
}

Vector4* Vec4Transform(Vector4* out, const Vector4* v, const Matrix* m) {
    float x = v->x, y = v->y, z = v->z, w = v->w;
    *out = Vector4{RowDot(x, y, z, w, m->_11, m->_21, m->_31, m->_41), RowDot(x, y, z, w, m->_12, m->_22, m->_32, m->_42),
                   RowDot(x, y, z, w, m->_13, m->_23, m->_33, m->_43), RowDot(x, y, z, w, m->_14, m->_24, m->_34, m->_44)};
    return out;
}

Matrix* MatrixMultiply(Matrix* out, const Matrix* a, const Matrix* b) {
    // Every entry a pairwise sum over a's row and b's column.
    Matrix result;
    for (int row = 0; row < 4; ++row) {
        float r0 = a->m[row][0], r1 = a->m[row][1], r2 = a->m[row][2], r3 = a->m[row][3];
        result.m[row][0] = RowDot(r0, r1, r2, r3, b->_11, b->_21, b->_31, b->_41);
        result.m[row][1] = RowDot(r0, r1, r2, r3, b->_12, b->_22, b->_32, b->_42);
        result.m[row][2] = RowDot(r0, r1, r2, r3, b->_13, b->_23, b->_33, b->_43);
        result.m[row][3] = RowDot(r0, r1, r2, r3, b->_14, b->_24, b->_34, b->_44);
    }
    *out = result;
    return out;
}

Matrix* MatrixMultiplyTranspose(Matrix* out, const Matrix* a, const Matrix* b) {
    // Output row j is column j of the product: a's rows against b's column j.
    Matrix result;
    for (int column = 0; column < 4; ++column) {
        float c0 = b->m[0][column], c1 = b->m[1][column], c2 = b->m[2][column], c3 = b->m[3][column];
        for (int row = 0; row < 4; ++row)
            result.m[column][row] = RowDot(a->m[row][0], a->m[row][1], a->m[row][2], a->m[row][3], c0, c1, c2, c3);
    }
    *out = result;
    return out;
}

Vector2* Vec2TransformNormal(Vector2* out, const Vector2* v, const Matrix* m) {
    float x = v->x, y = v->y;
    *out = Vector2{y * m->_21 + x * m->_11, y * m->_22 + x * m->_12};
    return out;
}

Vector3* Vec3TransformNormal(Vector3* out, const Vector3* v, const Matrix* m) {
    float x = v->x, y = v->y, z = v->z;
    *out = Vector3(z * m->_31 + (x * m->_11 + y * m->_21), z * m->_32 + (x * m->_12 + y * m->_22),
                   z * m->_33 + (x * m->_13 + y * m->_23));
    return out;
}

Vector3* Vec3Normalize(Vector3* out, const Vector3* v) {
    Vector3 value = *v;
    float lengthSq = value.x * value.x + value.y * value.y + value.z * value.z;
    if (IsNear(lengthSq, 1.0f)) {
        *out = value;
    } else if (lengthSq < kSmallestNormal) {
        *out = Vector3(0.0f, 0.0f, 0.0f);
    } else {
        float length = std::sqrt(lengthSq);
        *out = Vector3(value.x / length, value.y / length, value.z / length);
    }
    return out;
}

Plane* PlaneTransform(Plane* out, const Plane* p, const Matrix* m) {
    float a = p->a, b = p->b, c = p->c, d = p->d;
    *out = Plane{RowDot(a, b, c, d, m->_11, m->_21, m->_31, m->_41), RowDot(a, b, c, d, m->_12, m->_22, m->_32, m->_42),
                 RowDot(a, b, c, d, m->_13, m->_23, m->_33, m->_43), RowDot(a, b, c, d, m->_14, m->_24, m->_34, m->_44)};
    return out;
}

}  // namespace qm::alternative
