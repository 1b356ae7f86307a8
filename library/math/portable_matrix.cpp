// portable_matrix.cpp: the portable matrix operations: products, determinant and inverse (cofactors
// from 2×2 minors, the Laplace expansion theorem), rotations, scaling, shadow and reflection,
// composed transformations.
#include <cmath>

#include "library/math/math_slots.h"

namespace qm::portable {
namespace {

Matrix Translation(float x, float y, float z) {
    return Matrix(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1);
}

// The twelve 2×2 minors of the Laplace expansion along the first two rows (s) and the last two (c).
struct Minors {
    float s0, s1, s2, s3, s4, s5;
    float c0, c1, c2, c3, c4, c5;
    float determinant;
};

Minors ComputeMinors(const Matrix& m) {
    const auto& a = m.m;
    Minors r;
    r.s0 = a[0][0] * a[1][1] - a[1][0] * a[0][1];
    r.s1 = a[0][0] * a[1][2] - a[1][0] * a[0][2];
    r.s2 = a[0][0] * a[1][3] - a[1][0] * a[0][3];
    r.s3 = a[0][1] * a[1][2] - a[1][1] * a[0][2];
    r.s4 = a[0][1] * a[1][3] - a[1][1] * a[0][3];
    r.s5 = a[0][2] * a[1][3] - a[1][2] * a[0][3];
    r.c5 = a[2][2] * a[3][3] - a[3][2] * a[2][3];
    r.c4 = a[2][1] * a[3][3] - a[3][1] * a[2][3];
    r.c3 = a[2][1] * a[3][2] - a[3][1] * a[2][2];
    r.c2 = a[2][0] * a[3][3] - a[3][0] * a[2][3];
    r.c1 = a[2][0] * a[3][2] - a[3][0] * a[2][2];
    r.c0 = a[2][0] * a[3][1] - a[3][0] * a[2][1];
    r.determinant = r.s0 * r.c5 - r.s1 * r.c4 + r.s2 * r.c3 + r.s3 * r.c2 - r.s4 * r.c1 + r.s5 * r.c0;
    return r;
}

}  // namespace

Matrix* MatrixMultiply(Matrix* out, const Matrix* a, const Matrix* b) {
    Matrix result;
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column)
            result.m[row][column] = a->m[row][0] * b->m[0][column] + a->m[row][1] * b->m[1][column] +
                                    a->m[row][2] * b->m[2][column] + a->m[row][3] * b->m[3][column];
    *out = result;
    return out;
}

Matrix* MatrixMultiplyTranspose(Matrix* out, const Matrix* a, const Matrix* b) {
    Matrix result;
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column)
            result.m[column][row] = a->m[row][0] * b->m[0][column] + a->m[row][1] * b->m[1][column] +
                                    a->m[row][2] * b->m[2][column] + a->m[row][3] * b->m[3][column];
    *out = result;
    return out;
}

float MatrixDeterminant(const Matrix* m) { return ComputeMinors(*m).determinant; }

Matrix* MatrixInverse(Matrix* out, float* determinant, const Matrix* m) {
    const Matrix source = *m;
    const auto& a = source.m;
    Minors r = ComputeMinors(source);
    if (determinant != nullptr) *determinant = r.determinant;
    if (r.determinant == 0.0f || !std::isfinite(r.determinant)) return nullptr;
    float inv = 1.0f / r.determinant;
    Matrix b;
    b.m[0][0] = (a[1][1] * r.c5 - a[1][2] * r.c4 + a[1][3] * r.c3) * inv;
    b.m[0][1] = (-a[0][1] * r.c5 + a[0][2] * r.c4 - a[0][3] * r.c3) * inv;
    b.m[0][2] = (a[3][1] * r.s5 - a[3][2] * r.s4 + a[3][3] * r.s3) * inv;
    b.m[0][3] = (-a[2][1] * r.s5 + a[2][2] * r.s4 - a[2][3] * r.s3) * inv;
    b.m[1][0] = (-a[1][0] * r.c5 + a[1][2] * r.c2 - a[1][3] * r.c1) * inv;
    b.m[1][1] = (a[0][0] * r.c5 - a[0][2] * r.c2 + a[0][3] * r.c1) * inv;
    b.m[1][2] = (-a[3][0] * r.s5 + a[3][2] * r.s2 - a[3][3] * r.s1) * inv;
    b.m[1][3] = (a[2][0] * r.s5 - a[2][2] * r.s2 + a[2][3] * r.s1) * inv;
    b.m[2][0] = (a[1][0] * r.c4 - a[1][1] * r.c2 + a[1][3] * r.c0) * inv;
    b.m[2][1] = (-a[0][0] * r.c4 + a[0][1] * r.c2 - a[0][3] * r.c0) * inv;
    b.m[2][2] = (a[3][0] * r.s4 - a[3][1] * r.s2 + a[3][3] * r.s0) * inv;
    b.m[2][3] = (-a[2][0] * r.s4 + a[2][1] * r.s2 - a[2][3] * r.s0) * inv;
    b.m[3][0] = (-a[1][0] * r.c3 + a[1][1] * r.c1 - a[1][2] * r.c0) * inv;
    b.m[3][1] = (a[0][0] * r.c3 - a[0][1] * r.c1 + a[0][2] * r.c0) * inv;
    b.m[3][2] = (-a[3][0] * r.s3 + a[3][1] * r.s1 - a[3][2] * r.s0) * inv;
    b.m[3][3] = (a[2][0] * r.s3 - a[2][1] * r.s1 + a[2][2] * r.s0) * inv;
    *out = b;
    return out;
}

Matrix* MatrixTranslation(Matrix* out, float x, float y, float z) {
    *out = Translation(x, y, z);
    return out;
}

Matrix* MatrixScaling(Matrix* out, float x, float y, float z) {
    *out = Matrix(x, 0, 0, 0, 0, y, 0, 0, 0, 0, z, 0, 0, 0, 0, 1);
    return out;
}

Matrix* MatrixRotationX(Matrix* out, float angle) {
    float s = std::sin(angle), c = std::cos(angle);
    *out = Matrix(1, 0, 0, 0, 0, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1);
    return out;
}

Matrix* MatrixRotationY(Matrix* out, float angle) {
    float s = std::sin(angle), c = std::cos(angle);
    *out = Matrix(c, 0, -s, 0, 0, 1, 0, 0, s, 0, c, 0, 0, 0, 0, 1);
    return out;
}

Matrix* MatrixRotationZ(Matrix* out, float angle) {
    float s = std::sin(angle), c = std::cos(angle);
    *out = Matrix(c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    return out;
}

Matrix* MatrixRotationAxis(Matrix* out, const Vector3* axis, float angle) {
    Vector3 n;
    portable::Vec3Normalize(&n, axis);
    float s = std::sin(angle), c = std::cos(angle);
    float t = 1.0f - c;
    *out = Matrix(t * n.x * n.x + c, t * n.x * n.y + s * n.z, t * n.x * n.z - s * n.y, 0,  //
                  t * n.x * n.y - s * n.z, t * n.y * n.y + c, t * n.y * n.z + s * n.x, 0,  //
                  t * n.x * n.z + s * n.y, t * n.y * n.z - s * n.x, t * n.z * n.z + c, 0,  //
                  0, 0, 0, 1);
    return out;
}

Matrix* MatrixRotationYawPitchRoll(Matrix* out, float yaw, float pitch, float roll) {
    float sy = std::sin(yaw), cy = std::cos(yaw);
    float sp = std::sin(pitch), cp = std::cos(pitch);
    float sr = std::sin(roll), cr = std::cos(roll);
    // Rz(roll) × Rx(pitch) × Ry(yaw), multiplied out.
    *out = Matrix(cr * cy + sr * sp * sy, sr * cp, sr * sp * cy - cr * sy, 0,  //
                  cr * sp * sy - sr * cy, cr * cp, sr * sy + cr * sp * cy, 0,  //
                  cp * sy, -sp, cp * cy, 0,                                    //
                  0, 0, 0, 1);
    return out;
}

Matrix* MatrixRotationQuaternion(Matrix* out, const Quaternion* q) {
    float x = q->x, y = q->y, z = q->z, w = q->w;
    float xx = x * x, yy = y * y, zz = z * z;
    float xy = x * y, xz = x * z, yz = y * z;
    float xw = x * w, yw = y * w, zw = z * w;
    *out = Matrix(1.0f - 2.0f * (yy + zz), 2.0f * (xy + zw), 2.0f * (xz - yw), 0,  //
                  2.0f * (xy - zw), 1.0f - 2.0f * (xx + zz), 2.0f * (yz + xw), 0,  //
                  2.0f * (xz + yw), 2.0f * (yz - xw), 1.0f - 2.0f * (xx + yy), 0,  //
                  0, 0, 0, 1);
    return out;
}

Matrix* MatrixTranspose(Matrix* out, const Matrix* m) {
    Matrix result;
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column) result.m[column][row] = m->m[row][column];
    *out = result;
    return out;
}

Matrix* MatrixShadow(Matrix* out, const Vector4* light, const Plane* plane) {
    Plane p;
    portable::PlaneNormalize(&p, plane);
    Vector4 l = *light;
    float dot = PlaneDot(&p, &l);
    const float planeRow[4] = {p.a, p.b, p.c, p.d};
    const float lightColumn[4] = {l.x, l.y, l.z, l.w};
    Matrix result;
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column)
            result.m[row][column] = (row == column ? dot : 0.0f) - planeRow[row] * lightColumn[column];
    *out = result;
    return out;
}

Matrix* MatrixReflect(Matrix* out, const Plane* plane) {
    Plane p;
    portable::PlaneNormalize(&p, plane);
    float a = -2.0f * p.a, b = -2.0f * p.b, c = -2.0f * p.c;
    *out = Matrix(a * p.a + 1.0f, b * p.a, c * p.a, 0,  //
                  a * p.b, b * p.b + 1.0f, c * p.b, 0,  //
                  a * p.c, b * p.c, c * p.c + 1.0f, 0,  //
                  a * p.d, b * p.d, c * p.d, 1);
    return out;
}

Matrix* MatrixTransformation(Matrix* out, const Vector3* scalingCenter, const Quaternion* scalingRotation,
                             const Vector3* scaling, const Vector3* rotationCenter, const Quaternion* rotation,
                             const Vector3* translation) {
    Vector3 sc = scalingCenter != nullptr ? *scalingCenter : Vector3(0, 0, 0);
    Vector3 rc = rotationCenter != nullptr ? *rotationCenter : Vector3(0, 0, 0);
    Matrix result = Translation(-sc.x, -sc.y, -sc.z);
    Matrix step;
    if (scalingRotation != nullptr) {
        Matrix scalingRotationMatrix;
        portable::MatrixRotationQuaternion(&scalingRotationMatrix, scalingRotation);
        if (scaling != nullptr) {
            portable::MatrixTranspose(&step, &scalingRotationMatrix);  // the inverse of a rotation
            portable::MatrixMultiply(&result, &result, &step);
            portable::MatrixScaling(&step, scaling->x, scaling->y, scaling->z);
            portable::MatrixMultiply(&result, &result, &step);
            portable::MatrixMultiply(&result, &result, &scalingRotationMatrix);
        }
    } else if (scaling != nullptr) {
        portable::MatrixScaling(&step, scaling->x, scaling->y, scaling->z);
        portable::MatrixMultiply(&result, &result, &step);
    }
    // Back from the scaling centre, then to the rotation centre.
    step = Translation(sc.x - rc.x, sc.y - rc.y, sc.z - rc.z);
    portable::MatrixMultiply(&result, &result, &step);
    if (rotation != nullptr) {
        portable::MatrixRotationQuaternion(&step, rotation);
        portable::MatrixMultiply(&result, &result, &step);
    }
    Vector3 t = translation != nullptr ? *translation : Vector3(0, 0, 0);
    step = Translation(rc.x + t.x, rc.y + t.y, rc.z + t.z);
    portable::MatrixMultiply(&result, &result, &step);
    *out = result;
    return out;
}

Matrix* MatrixAffineTransformation(Matrix* out, float scaling, const Vector3* rotationCenter,
                                   const Quaternion* rotation, const Vector3* translation) {
    Matrix result;
    portable::MatrixScaling(&result, scaling, scaling, scaling);
    Vector3 rc = rotationCenter != nullptr ? *rotationCenter : Vector3(0, 0, 0);
    Matrix step;
    if (rotation != nullptr) {
        step = Translation(-rc.x, -rc.y, -rc.z);
        portable::MatrixMultiply(&result, &result, &step);
        portable::MatrixRotationQuaternion(&step, rotation);
        portable::MatrixMultiply(&result, &result, &step);
    } else {
        rc = Vector3(0, 0, 0);  // without a rotation the centre moves nothing
    }
    Vector3 t = translation != nullptr ? *translation : Vector3(0, 0, 0);
    step = Translation(rc.x + t.x, rc.y + t.y, rc.z + t.z);
    portable::MatrixMultiply(&result, &result, &step);
    *out = result;
    return out;
}

}  // namespace qm::portable
