// portable_quaternion.cpp: the portable quaternion operations: products, normalisation and inverse,
// conversions from matrices, axes and Euler angles (Shoemake's trace method for matrices), spherical
// interpolation (Shoemake's slerp and squad), logarithm and exponential.
#include <cmath>

#include "library/math/components.h"
#include "library/math/math_slots.h"

namespace qm::portable {
namespace {

// Below this squared norm a quaternion has no inverse.
constexpr float kInverseThreshold = 1.0842022e-19f;  // 2^-63

Quaternion Scaled(const Quaternion& q, float s) { return Quaternion{q.x * s, q.y * s, q.z * s, q.w * s}; }
Quaternion Negated(const Quaternion& q) { return Quaternion{-q.x, -q.y, -q.z, -q.w}; }

}  // namespace

Quaternion* QuaternionMultiply(Quaternion* out, const Quaternion* q1, const Quaternion* q2) {
    // The Hamilton product q2·q1: the rotation q1 followed by q2.
    const Quaternion a = *q2, b = *q1;
    *out = Quaternion{a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y, a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
                      a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w, a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z};
    return out;
}

Quaternion* QuaternionNormalize(Quaternion* out, const Quaternion* q) { return detail::Normalize(out, q); }

Quaternion* QuaternionInverse(Quaternion* out, const Quaternion* q) {
    Quaternion value = *q;
    float lengthSq = QuaternionLengthSq(&value);
    if (lengthSq < kInverseThreshold) {
        *out = Quaternion{0.0f, 0.0f, 0.0f, 0.0f};
        return out;
    }
    Quaternion conjugate{-value.x, -value.y, -value.z, value.w};
    if (!IsNear(lengthSq, 1.0f)) {
        float scale = 1.0f / lengthSq;
        conjugate = Scaled(conjugate, scale);
    }
    *out = conjugate;
    return out;
}

void QuaternionToAxisAngle(const Quaternion* q, Vector3* axis, float* angle) {
    Quaternion value = *q;
    if (axis != nullptr) *axis = Vector3(value.x, value.y, value.z);
    if (angle != nullptr) *angle = 2.0f * std::acos(value.w);
}

Quaternion* QuaternionRotationMatrix(Quaternion* out, const Matrix* m) {
    const Matrix r = *m;
    float trace = r._11 + r._22 + r._33;
    Quaternion q;
    if (trace > 0.0f) {
        float root = std::sqrt(trace + 1.0f);
        float scale = 0.5f / root;
        q = Quaternion{(r._23 - r._32) * scale, (r._31 - r._13) * scale, (r._12 - r._21) * scale, 0.5f * root};
    } else if (r._11 >= r._22 && r._11 >= r._33) {
        float root = std::sqrt(r._11 - r._22 - r._33 + 1.0f);
        float scale = 0.5f / root;
        q = Quaternion{0.5f * root, (r._12 + r._21) * scale, (r._13 + r._31) * scale, (r._23 - r._32) * scale};
    } else if (r._22 >= r._33) {
        float root = std::sqrt(r._22 - r._11 - r._33 + 1.0f);
        float scale = 0.5f / root;
        q = Quaternion{(r._12 + r._21) * scale, 0.5f * root, (r._23 + r._32) * scale, (r._31 - r._13) * scale};
    } else {
        float root = std::sqrt(r._33 - r._11 - r._22 + 1.0f);
        float scale = 0.5f / root;
        q = Quaternion{(r._13 + r._31) * scale, (r._23 + r._32) * scale, 0.5f * root, (r._12 - r._21) * scale};
    }
    *out = q;
    return out;
}

Quaternion* QuaternionRotationYawPitchRoll(Quaternion* out, float yaw, float pitch, float roll) {
    float sy = std::sin(yaw * 0.5f), cy = std::cos(yaw * 0.5f);
    float sp = std::sin(pitch * 0.5f), cp = std::cos(pitch * 0.5f);
    float sr = std::sin(roll * 0.5f), cr = std::cos(roll * 0.5f);
    *out = Quaternion{cy * sp * cr + sy * cp * sr, sy * cp * cr - cy * sp * sr, cy * cp * sr - sy * sp * cr,
                      cy * cp * cr + sy * sp * sr};
    return out;
}

Quaternion* QuaternionRotationAxis(Quaternion* out, const Vector3* axis, float angle) {
    Vector3 n;
    portable::Vec3Normalize(&n, axis);
    float s = std::sin(angle * 0.5f), c = std::cos(angle * 0.5f);
    *out = Quaternion{n.x * s, n.y * s, n.z * s, c};
    return out;
}

Quaternion* QuaternionSlerp(Quaternion* out, const Quaternion* q1, const Quaternion* q2, float t) {
    const Quaternion a = *q1;
    Quaternion b = *q2;
    float cosine = QuaternionDot(&a, &b);
    if (cosine < 0.0f) {
        cosine = -cosine;
        b = Negated(b);
    }
    float weightA = 1.0f - t;
    float weightB = t;
    if (1.0f - cosine > 0.001f) {
        float theta = std::acos(cosine);
        float sine = std::sin(theta);
        weightA = std::sin(weightA * theta) / sine;
        weightB = std::sin(weightB * theta) / sine;
    }
    *out = Quaternion{weightA * a.x + weightB * b.x, weightA * a.y + weightB * b.y, weightA * a.z + weightB * b.z,
                      weightA * a.w + weightB * b.w};
    return out;
}

Quaternion* QuaternionBaryCentric(Quaternion* out, const Quaternion* q1, const Quaternion* q2, const Quaternion* q3,
                                  float f, float g) {
    float sum = f + g;
    if (sum == 0.0f) {
        *out = *q1;
        return out;
    }
    Quaternion toSecond, toThird;
    portable::QuaternionSlerp(&toSecond, q1, q2, sum);
    portable::QuaternionSlerp(&toThird, q1, q3, sum);
    return portable::QuaternionSlerp(out, &toSecond, &toThird, g / sum);
}

Quaternion* QuaternionSquad(Quaternion* out, const Quaternion* q1, const Quaternion* a, const Quaternion* b,
                            const Quaternion* c, float t) {
    Quaternion outer, inner;
    portable::QuaternionSlerp(&outer, q1, c, t);
    portable::QuaternionSlerp(&inner, a, b, t);
    return portable::QuaternionSlerp(out, &outer, &inner, 2.0f * t * (1.0f - t));
}

Quaternion* QuaternionLn(Quaternion* out, const Quaternion* q) {
    Quaternion value = *q;
    float scale = 1.0f;
    if (value.w < 1.0f && value.w > -1.0f) {
        float theta = std::acos(value.w);
        float sine = std::sin(theta);
        if (sine != 0.0f) scale = theta / sine;
    }
    *out = Quaternion{value.x * scale, value.y * scale, value.z * scale, 0.0f};
    return out;
}

Quaternion* QuaternionExp(Quaternion* out, const Quaternion* q) {
    Quaternion value = *q;
    float theta = std::sqrt(value.x * value.x + value.y * value.y + value.z * value.z);
    float scale = 1.0f;
    float cosine = 1.0f;
    if (theta != 0.0f) {
        scale = std::sin(theta) / theta;
        cosine = std::cos(theta);
    }
    *out = Quaternion{value.x * scale, value.y * scale, value.z * scale, cosine};
    return out;
}

void QuaternionSquadSetup(Quaternion* aOut, Quaternion* bOut, Quaternion* cOut, const Quaternion* q0,
                          const Quaternion* q1, const Quaternion* q2, const Quaternion* q3) {
    Quaternion k1 = *q1;
    Quaternion k0 = QuaternionDot(q0, &k1) < 0.0f ? Negated(*q0) : *q0;
    Quaternion k2 = QuaternionDot(&k1, q2) < 0.0f ? Negated(*q2) : *q2;
    Quaternion k3 = QuaternionDot(&k2, q3) < 0.0f ? Negated(*q3) : *q3;

    // inner = key × exp(−(ln(inv(key) × next) + ln(inv(key) × previous)) / 4), "×" in rotation order.
    auto inner = [](const Quaternion& previous, const Quaternion& key, const Quaternion& next) {
        Quaternion inverse, toNext, toPrevious, lnNext, lnPrevious;
        portable::QuaternionInverse(&inverse, &key);
        portable::QuaternionMultiply(&toNext, &inverse, &next);
        portable::QuaternionMultiply(&toPrevious, &inverse, &previous);
        portable::QuaternionLn(&lnNext, &toNext);
        portable::QuaternionLn(&lnPrevious, &toPrevious);
        Quaternion sum{-0.25f * (lnNext.x + lnPrevious.x), -0.25f * (lnNext.y + lnPrevious.y),
                       -0.25f * (lnNext.z + lnPrevious.z), -0.25f * (lnNext.w + lnPrevious.w)};
        Quaternion exponential, result;
        portable::QuaternionExp(&exponential, &sum);
        portable::QuaternionMultiply(&result, &key, &exponential);
        return result;
    };
    Quaternion a = inner(k0, k1, k2);
    Quaternion b = inner(k1, k2, k3);
    *aOut = a;
    *bOut = b;
    *cOut = k2;
}

}  // namespace qm::portable
