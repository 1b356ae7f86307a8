// portable_vector.cpp: the portable vector and plane operations: transforms, normalisation, planes,
// projection, the 4-vector cross product, splines and barycentric combinations.
#include <cmath>

#include "library/math/components.h"
#include "library/math/math_slots.h"

namespace qm::portable {
namespace {

// x, y (, z) multiplied by 1/w unless w is near 1.
float CoordinateScale(float w) { return IsNear(w, 1.0f) ? 1.0f : 1.0f / w; }

// world × view × projection, each optional.
Matrix CombinedTransform(const Matrix* projection, const Matrix* view, const Matrix* world) {
    Matrix combined;
    MatrixIdentity(&combined);
    if (world != nullptr) combined = *world;
    if (view != nullptr) portable::MatrixMultiply(&combined, &combined, view);
    if (projection != nullptr) portable::MatrixMultiply(&combined, &combined, projection);
    return combined;
}

}  // namespace

Vector4* Vec2Transform(Vector4* out, const Vector2* v, const Matrix* m) {
    float x = v->x, y = v->y;
    *out = Vector4{x * m->_11 + y * m->_21 + m->_41, x * m->_12 + y * m->_22 + m->_42, x * m->_13 + y * m->_23 + m->_43,
                   x * m->_14 + y * m->_24 + m->_44};
    return out;
}

Vector4* Vec3Transform(Vector4* out, const Vector3* v, const Matrix* m) {
    float x = v->x, y = v->y, z = v->z;
    *out = Vector4{x * m->_11 + y * m->_21 + z * m->_31 + m->_41, x * m->_12 + y * m->_22 + z * m->_32 + m->_42,
                   x * m->_13 + y * m->_23 + z * m->_33 + m->_43, x * m->_14 + y * m->_24 + z * m->_34 + m->_44};
    return out;
}

Vector4* Vec4Transform(Vector4* out, const Vector4* v, const Matrix* m) {
    float x = v->x, y = v->y, z = v->z, w = v->w;
    *out = Vector4{x * m->_11 + y * m->_21 + z * m->_31 + w * m->_41, x * m->_12 + y * m->_22 + z * m->_32 + w * m->_42,
                   x * m->_13 + y * m->_23 + z * m->_33 + w * m->_43, x * m->_14 + y * m->_24 + z * m->_34 + w * m->_44};
    return out;
}

Vector2* Vec2TransformNormal(Vector2* out, const Vector2* v, const Matrix* m) {
    float x = v->x, y = v->y;
    *out = Vector2{x * m->_11 + y * m->_21, x * m->_12 + y * m->_22};
    return out;
}

Vector3* Vec3TransformNormal(Vector3* out, const Vector3* v, const Matrix* m) {
    float x = v->x, y = v->y, z = v->z;
    *out = Vector3(x * m->_11 + y * m->_21 + z * m->_31, x * m->_12 + y * m->_22 + z * m->_32,
                   x * m->_13 + y * m->_23 + z * m->_33);
    return out;
}

Vector3* Vec3Normalize(Vector3* out, const Vector3* v) { return detail::Normalize(out, v); }
Vector4* Vec4Normalize(Vector4* out, const Vector4* v) { return detail::Normalize(out, v); }
Vector2* Vec2Normalize(Vector2* out, const Vector2* v) { return detail::Normalize(out, v); }

Vector2* Vec2TransformCoord(Vector2* out, const Vector2* v, const Matrix* m) {
    float x = v->x, y = v->y;
    float scale = CoordinateScale(x * m->_14 + y * m->_24 + m->_44);
    *out = Vector2{(x * m->_11 + y * m->_21 + m->_41) * scale, (x * m->_12 + y * m->_22 + m->_42) * scale};
    return out;
}

Vector3* Vec3TransformCoord(Vector3* out, const Vector3* v, const Matrix* m) {
    float x = v->x, y = v->y, z = v->z;
    float scale = CoordinateScale(x * m->_14 + y * m->_24 + z * m->_34 + m->_44);
    *out = Vector3((x * m->_11 + y * m->_21 + z * m->_31 + m->_41) * scale,
                   (x * m->_12 + y * m->_22 + z * m->_32 + m->_42) * scale,
                   (x * m->_13 + y * m->_23 + z * m->_33 + m->_43) * scale);
    return out;
}

Plane* PlaneFromPointNormal(Plane* out, const Vector3* point, const Vector3* normal) {
    Vector3 n = *normal;
    *out = Plane{n.x, n.y, n.z, -Vec3Dot(point, &n)};
    return out;
}

Plane* PlaneFromPoints(Plane* out, const Vector3* p1, const Vector3* p2, const Vector3* p3) {
    Vector3 point = *p1;
    Vector3 edge1, edge2, normal;
    Vec3Subtract(&edge1, p2, &point);
    Vec3Subtract(&edge2, p3, &point);
    Vec3Cross(&normal, &edge1, &edge2);
    portable::Vec3Normalize(&normal, &normal);
    return portable::PlaneFromPointNormal(out, &point, &normal);
}

Vector3* Vec3Project(Vector3* out, const Vector3* v, const D3DVIEWPORT9* viewport, const Matrix* projection,
                     const Matrix* view, const Matrix* world) {
    Matrix combined = CombinedTransform(projection, view, world);
    Vector3 p;
    portable::Vec3TransformCoord(&p, v, &combined);
    if (viewport != nullptr) {
        float halfWidth = static_cast<float>(viewport->Width) * 0.5f;
        float halfHeight = static_cast<float>(viewport->Height) * 0.5f;
        p = Vector3(static_cast<float>(viewport->X) + (1.0f + p.x) * halfWidth,
                    static_cast<float>(viewport->Y) + (1.0f - p.y) * halfHeight,
                    viewport->MinZ + p.z * (viewport->MaxZ - viewport->MinZ));
    }
    *out = p;
    return out;
}

Vector3* Vec3Unproject(Vector3* out, const Vector3* v, const D3DVIEWPORT9* viewport, const Matrix* projection,
                       const Matrix* view, const Matrix* world) {
    Matrix combined = CombinedTransform(projection, view, world);
    Matrix inverse;
    if (portable::MatrixInverse(&inverse, nullptr, &combined) == nullptr) return nullptr;
    Vector3 p = *v;
    if (viewport != nullptr) {
        p = Vector3((p.x - static_cast<float>(viewport->X)) * 2.0f / static_cast<float>(viewport->Width) - 1.0f,
                    1.0f - (p.y - static_cast<float>(viewport->Y)) * 2.0f / static_cast<float>(viewport->Height),
                    (p.z - viewport->MinZ) / (viewport->MaxZ - viewport->MinZ));
    }
    return portable::Vec3TransformCoord(out, &p, &inverse);
}

Vector4* Vec4Cross(Vector4* out, const Vector4* v1, const Vector4* v2, const Vector4* v3) {
    // 2×2 minors of the rows v2, v3.
    float a = v2->x * v3->y - v2->y * v3->x;
    float b = v2->x * v3->z - v2->z * v3->x;
    float c = v2->x * v3->w - v2->w * v3->x;
    float d = v2->y * v3->z - v2->z * v3->y;
    float e = v2->y * v3->w - v2->w * v3->y;
    float f = v2->z * v3->w - v2->w * v3->z;
    *out = Vector4{v1->y * f - v1->z * e + v1->w * d, -(v1->x * f - v1->z * c + v1->w * b),
                   v1->x * e - v1->y * c + v1->w * a, -(v1->x * d - v1->y * b + v1->z * a)};
    return out;
}

Vector2* Vec2Hermite(Vector2* out, const Vector2* p1, const Vector2* t1, const Vector2* p2, const Vector2* t2,
                     float s) {
    return detail::Hermite(out, p1, t1, p2, t2, s);
}
Vector3* Vec3Hermite(Vector3* out, const Vector3* p1, const Vector3* t1, const Vector3* p2, const Vector3* t2,
                     float s) {
    return detail::Hermite(out, p1, t1, p2, t2, s);
}
Vector4* Vec4Hermite(Vector4* out, const Vector4* p1, const Vector4* t1, const Vector4* p2, const Vector4* t2,
                     float s) {
    return detail::Hermite(out, p1, t1, p2, t2, s);
}

Vector2* Vec2CatmullRom(Vector2* out, const Vector2* p0, const Vector2* p1, const Vector2* p2, const Vector2* p3,
                        float s) {
    return detail::CatmullRom(out, p0, p1, p2, p3, s);
}
Vector3* Vec3CatmullRom(Vector3* out, const Vector3* p0, const Vector3* p1, const Vector3* p2, const Vector3* p3,
                        float s) {
    return detail::CatmullRom(out, p0, p1, p2, p3, s);
}
Vector4* Vec4CatmullRom(Vector4* out, const Vector4* p0, const Vector4* p1, const Vector4* p2, const Vector4* p3,
                        float s) {
    return detail::CatmullRom(out, p0, p1, p2, p3, s);
}

Vector2* Vec2BaryCentric(Vector2* out, const Vector2* p1, const Vector2* p2, const Vector2* p3, float f, float g) {
    return detail::BaryCentric(out, p1, p2, p3, f, g);
}
Vector3* Vec3BaryCentric(Vector3* out, const Vector3* p1, const Vector3* p2, const Vector3* p3, float f, float g) {
    return detail::BaryCentric(out, p1, p2, p3, f, g);
}
Vector4* Vec4BaryCentric(Vector4* out, const Vector4* p1, const Vector4* p2, const Vector4* p3, float f, float g) {
    return detail::BaryCentric(out, p1, p2, p3, f, g);
}

Plane* PlaneNormalize(Plane* out, const Plane* p) {
    Plane value = *p;
    float length = std::sqrt(value.a * value.a + value.b * value.b + value.c * value.c);
    if (length == 0.0f) {
        *out = Plane{0.0f, 0.0f, 0.0f, 0.0f};
        return out;
    }
    float scale = 1.0f / length;
    *out = Plane{value.a * scale, value.b * scale, value.c * scale, value.d * scale};
    return out;
}

Vector3* PlaneIntersectLine(Vector3* out, const Plane* plane, const Vector3* p1, const Vector3* p2) {
    Vector3 start = *p1;
    Vector3 end = *p2;
    float d1 = PlaneDotNormal(plane, &start);
    float d2 = PlaneDotNormal(plane, &end);
    float denominator = d1 - d2;
    if (denominator == 0.0f || std::isnan(denominator)) return nullptr;
    float t = (d1 + plane->d) / denominator;
    if (!std::isfinite(t)) return nullptr;
    *out = Vector3(start.x + t * (end.x - start.x), start.y + t * (end.y - start.y), start.z + t * (end.z - start.z));
    return out;
}

Plane* PlaneTransform(Plane* out, const Plane* p, const Matrix* m) {
    float a = p->a, b = p->b, c = p->c, d = p->d;
    *out = Plane{a * m->_11 + b * m->_21 + c * m->_31 + d * m->_41, a * m->_12 + b * m->_22 + c * m->_32 + d * m->_42,
                 a * m->_13 + b * m->_23 + c * m->_33 + d * m->_43, a * m->_14 + b * m->_24 + c * m->_34 + d * m->_44};
    return out;
}

}  // namespace qm::portable
