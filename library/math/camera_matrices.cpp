// camera_matrices.cpp: the left-handed look-at view matrix and perspective projection used for the
// camera.
#include <cmath>

#include "library/math/math_slots.h"

namespace qm {

Matrix* MatrixLookAtLH(Matrix* out, const Vector3* eye, const Vector3* at, const Vector3* up) {
    Vector3 position = *eye;
    Vector3 zAxis, xAxis, yAxis;
    Vec3Subtract(&zAxis, at, &position);
    portable::Vec3Normalize(&zAxis, &zAxis);
    Vec3Cross(&xAxis, up, &zAxis);
    portable::Vec3Normalize(&xAxis, &xAxis);
    Vec3Cross(&yAxis, &zAxis, &xAxis);
    *out = Matrix(xAxis.x, yAxis.x, zAxis.x, 0.0f,  //
                  xAxis.y, yAxis.y, zAxis.y, 0.0f,  //
                  xAxis.z, yAxis.z, zAxis.z, 0.0f,  //
                  -Vec3Dot(&xAxis, &position), -Vec3Dot(&yAxis, &position), -Vec3Dot(&zAxis, &position), 1.0f);
    return out;
}

Matrix* MatrixPerspectiveFovLH(Matrix* out, float fovY, float aspect, float zn, float zf) {
    // Sine and cosine are each rounded to float before the quotient.
    double halfAngle = static_cast<double>(fovY * 0.5f);
    auto sine = static_cast<float>(std::sin(halfAngle));
    auto cosine = static_cast<float>(std::cos(halfAngle));
    float yScale = cosine / sine;
    float xScale = yScale / aspect;
    float q = zf / (zf - zn);
    *out = Matrix(xScale, 0.0f, 0.0f, 0.0f,  //
                  0.0f, yScale, 0.0f, 0.0f,  //
                  0.0f, 0.0f, q, 1.0f,       //
                  0.0f, 0.0f, -q * zn, 0.0f);
    return out;
}

}  // namespace qm
