// vector_sse.cpp: the SSE and SSE2 forms of the math slots. Matrix rows stay in vector registers and
// every lane repeats the portable arithmetic in the portable order, so the results match the
// portable ones (at most the sign of a zero differs); only the skinning kernel's SSE2 form uses SSE2
// instructions.
#include "library/math/math_slots.h"

#if QM_MATH_VECTOR_SETS

#include <emmintrin.h>
#include <xmmintrin.h>

#include <cmath>
#include <cstring>

namespace qm::sse {
namespace {

struct Rows {
    __m128 r0, r1, r2, r3;
};

inline Rows LoadRows(const Matrix* m) {
    return Rows{_mm_loadu_ps(&m->_11), _mm_loadu_ps(&m->_21), _mm_loadu_ps(&m->_31), _mm_loadu_ps(&m->_41)};
}

inline __m128 Splat(float value) { return _mm_set1_ps(value); }

// Lane `lane` of v broadcast to all four lanes.
template <int kLane>
inline __m128 Broadcast(__m128 v) {
    return _mm_shuffle_ps(v, v, _MM_SHUFFLE(kLane, kLane, kLane, kLane));
}

template <int kLane>
inline float Lane(__m128 v) {
    return _mm_cvtss_f32(Broadcast<kLane>(v));
}

inline __m128 Load3(const Vector3* v) {
    // Three separate loads: a 16-byte load could run past the end of the last element of an array.
    return _mm_setr_ps(v->x, v->y, v->z, 0.0f);
}

inline void Store2(Vector2* out, __m128 v) { _mm_storel_pi(reinterpret_cast<__m64*>(out), v); }

inline void Store3(Vector3* out, __m128 v) {
    _mm_storel_pi(reinterpret_cast<__m64*>(&out->x), v);
    _mm_store_ss(&out->z, _mm_movehl_ps(v, v));
}

// ((x·r0 + y·r1) + z·r2) + r3: a 3-vector as a point.
inline __m128 TransformPoint(float x, float y, float z, const Rows& m) {
    __m128 sum = _mm_add_ps(_mm_mul_ps(Splat(x), m.r0), _mm_mul_ps(Splat(y), m.r1));
    sum = _mm_add_ps(sum, _mm_mul_ps(Splat(z), m.r2));
    return _mm_add_ps(sum, m.r3);
}

// (x·r0 + y·r1) + z·r2: a 3-vector as a direction.
inline __m128 TransformDirection(float x, float y, float z, const Rows& m) {
    __m128 sum = _mm_add_ps(_mm_mul_ps(Splat(x), m.r0), _mm_mul_ps(Splat(y), m.r1));
    return _mm_add_ps(sum, _mm_mul_ps(Splat(z), m.r2));
}

// ((x·r0 + y·r1) + z·r2) + w·r3.
inline __m128 Transform4(__m128 v, const Rows& m) {
    __m128 sum = _mm_add_ps(_mm_mul_ps(Broadcast<0>(v), m.r0), _mm_mul_ps(Broadcast<1>(v), m.r1));
    sum = _mm_add_ps(sum, _mm_mul_ps(Broadcast<2>(v), m.r2));
    return _mm_add_ps(sum, _mm_mul_ps(Broadcast<3>(v), m.r3));
}

// The coordinate rule: v multiplied by 1/w (lane 3) unless w is near 1.
inline __m128 DivideByW(__m128 v) {
    float w = Lane<3>(v);
    if (IsNear(w, 1.0f)) return v;
    return _mm_mul_ps(v, Broadcast<0>(_mm_div_ss(_mm_set_ss(1.0f), _mm_set_ss(w))));
}

// The squared length over `kCount` lanes, summed in lane order.
template <int kCount>
inline float LengthSq(__m128 v) {
    __m128 squares = _mm_mul_ps(v, v);
    __m128 sum = _mm_add_ss(squares, Broadcast<1>(squares));
    if constexpr (kCount >= 3) sum = _mm_add_ss(sum, Broadcast<2>(squares));
    if constexpr (kCount >= 4) sum = _mm_add_ss(sum, Broadcast<3>(squares));
    return _mm_cvtss_f32(sum);
}

// The normalisation rule; v holds kCount components (unused lanes zero).
template <int kCount>
inline __m128 Normalized(__m128 v, bool* unchanged) {
    float lengthSq = LengthSq<kCount>(v);
    *unchanged = IsNear(lengthSq, 1.0f);
    if (*unchanged) return v;
    if (lengthSq < kSmallestNormal) return _mm_setzero_ps();
    __m128 scale = _mm_div_ss(_mm_set_ss(1.0f), _mm_sqrt_ss(_mm_set_ss(lengthSq)));
    return _mm_mul_ps(v, Broadcast<0>(scale));
}

// a × b on lanes 0-2: a.yzx·b.zxy − a.zxy·b.yzx.
inline __m128 Cross(__m128 a, __m128 b) {
    __m128 aYzx = _mm_shuffle_ps(a, a, _MM_SHUFFLE(3, 0, 2, 1));
    __m128 bZxy = _mm_shuffle_ps(b, b, _MM_SHUFFLE(3, 1, 0, 2));
    __m128 aZxy = _mm_shuffle_ps(a, a, _MM_SHUFFLE(3, 1, 0, 2));
    __m128 bYzx = _mm_shuffle_ps(b, b, _MM_SHUFFLE(3, 0, 2, 1));
    return _mm_sub_ps(_mm_mul_ps(aYzx, bZxy), _mm_mul_ps(aZxy, bYzx));
}

inline float Dot3(__m128 a, __m128 b) {
    __m128 products = _mm_mul_ps(a, b);
    __m128 sum = _mm_add_ss(products, Broadcast<1>(products));
    return _mm_cvtss_f32(_mm_add_ss(sum, Broadcast<2>(products)));
}

inline float Dot4(__m128 a, __m128 b) {
    __m128 products = _mm_mul_ps(a, b);
    __m128 sum = _mm_add_ss(products, Broadcast<1>(products));
    sum = _mm_add_ss(sum, Broadcast<2>(products));
    return _mm_cvtss_f32(_mm_add_ss(sum, Broadcast<3>(products)));
}

// The plane normalised by the length of (a, b, c); zero when that length is zero.
inline __m128 NormalizedPlane(const Plane* plane) {
    __m128 p = _mm_loadu_ps(&plane->a);
    __m128 lengthSq = _mm_set_ss(Dot3(p, p));
    __m128 length = _mm_sqrt_ss(lengthSq);
    if (_mm_cvtss_f32(length) == 0.0f) return _mm_setzero_ps();
    return _mm_mul_ps(p, Broadcast<0>(_mm_div_ss(_mm_set_ss(1.0f), length)));
}

// The product of two matrices, row by row: ((a0·B0 + a1·B1) + a2·B2) + a3·B3.
inline Rows Multiply(const Rows& a, const Rows& b) {
    return Rows{Transform4(a.r0, b), Transform4(a.r1, b), Transform4(a.r2, b), Transform4(a.r3, b)};
}

inline void StoreRows(Matrix* out, const Rows& rows) {
    _mm_storeu_ps(&out->_11, rows.r0);
    _mm_storeu_ps(&out->_21, rows.r1);
    _mm_storeu_ps(&out->_31, rows.r2);
    _mm_storeu_ps(&out->_41, rows.r3);
}

}  // namespace

Vector4* Vec2Transform(Vector4* out, const Vector2* v, const Matrix* m) {
    Rows rows = LoadRows(m);
    __m128 sum = _mm_add_ps(_mm_mul_ps(Splat(v->x), rows.r0), _mm_mul_ps(Splat(v->y), rows.r1));
    _mm_storeu_ps(&out->x, _mm_add_ps(sum, rows.r3));
    return out;
}

Vector4* Vec3Transform(Vector4* out, const Vector3* v, const Matrix* m) {
    _mm_storeu_ps(&out->x, TransformPoint(v->x, v->y, v->z, LoadRows(m)));
    return out;
}

Vector4* Vec4Transform(Vector4* out, const Vector4* v, const Matrix* m) {
    _mm_storeu_ps(&out->x, Transform4(_mm_loadu_ps(&v->x), LoadRows(m)));
    return out;
}

Plane* PlaneTransform(Plane* out, const Plane* p, const Matrix* m) {
    _mm_storeu_ps(&out->a, Transform4(_mm_loadu_ps(&p->a), LoadRows(m)));
    return out;
}

Matrix* MatrixMultiply(Matrix* out, const Matrix* a, const Matrix* b) {
    StoreRows(out, Multiply(LoadRows(a), LoadRows(b)));
    return out;
}

Matrix* MatrixMultiplyTranspose(Matrix* out, const Matrix* a, const Matrix* b) {
    Rows product = Multiply(LoadRows(a), LoadRows(b));
    _MM_TRANSPOSE4_PS(product.r0, product.r1, product.r2, product.r3);
    StoreRows(out, product);
    return out;
}

Vector2* Vec2TransformNormal(Vector2* out, const Vector2* v, const Matrix* m) {
    __m128 r0 = _mm_loadu_ps(&m->_11), r1 = _mm_loadu_ps(&m->_21);
    Store2(out, _mm_add_ps(_mm_mul_ps(Splat(v->x), r0), _mm_mul_ps(Splat(v->y), r1)));
    return out;
}

Vector3* Vec3TransformNormal(Vector3* out, const Vector3* v, const Matrix* m) {
    Store3(out, TransformDirection(v->x, v->y, v->z, LoadRows(m)));
    return out;
}

Vector3* Vec3Normalize(Vector3* out, const Vector3* v) {
    bool unchanged;
    __m128 result = Normalized<3>(Load3(v), &unchanged);
    if (unchanged) {
        *out = *v;
        return out;
    }
    Store3(out, result);
    return out;
}

Vector4* Vec4Normalize(Vector4* out, const Vector4* v) {
    bool unchanged;
    _mm_storeu_ps(&out->x, Normalized<4>(_mm_loadu_ps(&v->x), &unchanged));
    return out;
}

Vector2* Vec2TransformCoord(Vector2* out, const Vector2* v, const Matrix* m) {
    Rows rows = LoadRows(m);
    __m128 sum = _mm_add_ps(_mm_mul_ps(Splat(v->x), rows.r0), _mm_mul_ps(Splat(v->y), rows.r1));
    Store2(out, DivideByW(_mm_add_ps(sum, rows.r3)));
    return out;
}

Vector3* Vec3TransformCoord(Vector3* out, const Vector3* v, const Matrix* m) {
    Store3(out, DivideByW(TransformPoint(v->x, v->y, v->z, LoadRows(m))));
    return out;
}

float MatrixDeterminant(const Matrix* m) {
    // The 2×2 minors of rows 0-1 and of rows 2-3, four and two at a time; summed in the portable order.
    Rows rows = LoadRows(m);
    auto minors = [](__m128 top, __m128 bottom, __m128* first4, __m128* last2) {
        // (t0·b1 − b0·t1, t0·b2 − b0·t2, t0·b3 − b0·t3, t1·b2 − b1·t2)
        __m128 t0001 = _mm_shuffle_ps(top, top, _MM_SHUFFLE(1, 0, 0, 0));
        __m128 b1232 = _mm_shuffle_ps(bottom, bottom, _MM_SHUFFLE(2, 3, 2, 1));
        __m128 b0001 = _mm_shuffle_ps(bottom, bottom, _MM_SHUFFLE(1, 0, 0, 0));
        __m128 t1232 = _mm_shuffle_ps(top, top, _MM_SHUFFLE(2, 3, 2, 1));
        *first4 = _mm_sub_ps(_mm_mul_ps(t0001, b1232), _mm_mul_ps(b0001, t1232));
        // (t1·b3 − b1·t3, t2·b3 − b2·t3)
        __m128 t12 = _mm_shuffle_ps(top, top, _MM_SHUFFLE(2, 1, 2, 1));
        __m128 b33 = _mm_shuffle_ps(bottom, bottom, _MM_SHUFFLE(3, 3, 3, 3));
        __m128 b12 = _mm_shuffle_ps(bottom, bottom, _MM_SHUFFLE(2, 1, 2, 1));
        __m128 t33 = _mm_shuffle_ps(top, top, _MM_SHUFFLE(3, 3, 3, 3));
        *last2 = _mm_sub_ps(_mm_mul_ps(t12, b33), _mm_mul_ps(b12, t33));
    };
    __m128 s0123, s45, c0123, c45;
    minors(rows.r0, rows.r1, &s0123, &s45);
    minors(rows.r2, rows.r3, &c0123, &c45);
    float s0 = Lane<0>(s0123), s1 = Lane<1>(s0123), s2 = Lane<2>(s0123), s3 = Lane<3>(s0123);
    float s4 = Lane<0>(s45), s5 = Lane<1>(s45);
    float c0 = Lane<0>(c0123), c1 = Lane<1>(c0123), c2 = Lane<2>(c0123), c3 = Lane<3>(c0123);
    float c4 = Lane<0>(c45), c5 = Lane<1>(c45);
    return s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0;
}

Plane* PlaneFromPoints(Plane* out, const Vector3* p1, const Vector3* p2, const Vector3* p3) {
    __m128 point = Load3(p1);
    __m128 normal = Cross(_mm_sub_ps(Load3(p2), point), _mm_sub_ps(Load3(p3), point));
    bool unchanged;
    normal = Normalized<3>(normal, &unchanged);
    float d = -Dot3(point, normal);
    // Lane 3 of normal is zero: move d into it.
    __m128 dLane = _mm_shuffle_ps(_mm_set_ss(d), _mm_set_ss(d), _MM_SHUFFLE(0, 1, 1, 1));
    _mm_storeu_ps(&out->a, _mm_add_ps(normal, dLane));
    return out;
}

Quaternion* QuaternionRotationMatrix(Quaternion* out, const Matrix* m) {
    // The trace method: the largest of w, x, y, z comes from a square root, the other three from sums
    // and differences of mirrored entries, formed here as one vector operation.
    float m11 = m->_11, m22 = m->_22, m33 = m->_33;
    float trace = m11 + m22 + m33;
    __m128 first, second;  // result = (first ± second) · scale, with the root's lane set apart
    __m128 signs;
    int rootLane;
    float root;
    if (trace > 0.0f) {
        root = std::sqrt(trace + 1.0f);
        first = _mm_setr_ps(m->_23, m->_31, m->_12, 0.0f);
        second = _mm_setr_ps(m->_32, m->_13, m->_21, 0.0f);
        signs = _mm_setr_ps(-1.0f, -1.0f, -1.0f, 1.0f);
        rootLane = 3;
    } else if (m11 >= m22 && m11 >= m33) {
        root = std::sqrt(m11 - m22 - m33 + 1.0f);
        first = _mm_setr_ps(0.0f, m->_12, m->_13, m->_23);
        second = _mm_setr_ps(0.0f, m->_21, m->_31, m->_32);
        signs = _mm_setr_ps(1.0f, 1.0f, 1.0f, -1.0f);
        rootLane = 0;
    } else if (m22 >= m33) {
        root = std::sqrt(m22 - m11 - m33 + 1.0f);
        first = _mm_setr_ps(m->_12, 0.0f, m->_23, m->_31);
        second = _mm_setr_ps(m->_21, 0.0f, m->_32, m->_13);
        signs = _mm_setr_ps(1.0f, 1.0f, 1.0f, -1.0f);
        rootLane = 1;
    } else {
        root = std::sqrt(m33 - m11 - m22 + 1.0f);
        first = _mm_setr_ps(m->_13, m->_23, 0.0f, m->_12);
        second = _mm_setr_ps(m->_31, m->_32, 0.0f, m->_21);
        signs = _mm_setr_ps(1.0f, 1.0f, 1.0f, -1.0f);
        rootLane = 2;
    }
    float scale = 0.5f / root;
    __m128 combined = _mm_mul_ps(_mm_add_ps(first, _mm_mul_ps(second, signs)), Splat(scale));
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, combined);
    lanes[rootLane] = 0.5f * root;
    *out = Quaternion{lanes[0], lanes[1], lanes[2], lanes[3]};
    return out;
}

Quaternion* QuaternionRotationYawPitchRoll(Quaternion* out, float yaw, float pitch, float roll) {
    float sy = std::sin(yaw * 0.5f), cy = std::cos(yaw * 0.5f);
    float sp = std::sin(pitch * 0.5f), cp = std::cos(pitch * 0.5f);
    float sr = std::sin(roll * 0.5f), cr = std::cos(roll * 0.5f);
    // x = cy·sp·cr + sy·cp·sr, y = sy·cp·cr − cy·sp·sr, z = cy·cp·sr − sy·sp·cr, w = cy·cp·cr + sy·sp·sr.
    __m128 first = _mm_mul_ps(_mm_mul_ps(_mm_setr_ps(cy, sy, cy, cy), _mm_setr_ps(sp, cp, cp, cp)),
                              _mm_setr_ps(cr, cr, sr, cr));
    __m128 second = _mm_mul_ps(_mm_mul_ps(_mm_setr_ps(sy, cy, sy, sy), _mm_setr_ps(cp, sp, sp, sp)),
                               _mm_setr_ps(sr, sr, cr, sr));
    __m128 negateMiddle = _mm_setr_ps(0.0f, -0.0f, -0.0f, 0.0f);
    _mm_storeu_ps(&out->x, _mm_add_ps(first, _mm_xor_ps(second, negateMiddle)));
    return out;
}

Matrix* MatrixShadow(Matrix* out, const Vector4* light, const Plane* plane) {
    __m128 p = NormalizedPlane(plane);
    __m128 l = _mm_loadu_ps(&light->x);
    __m128 dot = _mm_set_ss(Dot4(p, l));
    // Row i: (dot on the diagonal) − p_i·L.
    __m128 zero = _mm_setzero_ps();
    __m128 diagonal0 = _mm_move_ss(zero, dot);
    __m128 diagonal1 = _mm_shuffle_ps(diagonal0, diagonal0, _MM_SHUFFLE(1, 1, 0, 1));
    __m128 diagonal2 = _mm_shuffle_ps(diagonal0, diagonal0, _MM_SHUFFLE(1, 0, 1, 1));
    __m128 diagonal3 = _mm_shuffle_ps(diagonal0, diagonal0, _MM_SHUFFLE(0, 1, 1, 1));
    Rows rows{_mm_sub_ps(diagonal0, _mm_mul_ps(Broadcast<0>(p), l)), _mm_sub_ps(diagonal1, _mm_mul_ps(Broadcast<1>(p), l)),
              _mm_sub_ps(diagonal2, _mm_mul_ps(Broadcast<2>(p), l)), _mm_sub_ps(diagonal3, _mm_mul_ps(Broadcast<3>(p), l))};
    StoreRows(out, rows);
    return out;
}

Matrix* MatrixReflect(Matrix* out, const Plane* plane) {
    __m128 p = NormalizedPlane(plane);
    // (−2a, −2b, −2c, 0), scaled per row by a, b, c, d, plus the identity.
    __m128 normal = _mm_mul_ps(_mm_setr_ps(-2.0f, -2.0f, -2.0f, 0.0f), p);
    Rows rows{_mm_add_ps(_mm_mul_ps(normal, Broadcast<0>(p)), _mm_setr_ps(1.0f, 0.0f, 0.0f, 0.0f)),
              _mm_add_ps(_mm_mul_ps(normal, Broadcast<1>(p)), _mm_setr_ps(0.0f, 1.0f, 0.0f, 0.0f)),
              _mm_add_ps(_mm_mul_ps(normal, Broadcast<2>(p)), _mm_setr_ps(0.0f, 0.0f, 1.0f, 0.0f)),
              _mm_add_ps(_mm_mul_ps(normal, Broadcast<3>(p)), _mm_setr_ps(0.0f, 0.0f, 0.0f, 1.0f))};
    StoreRows(out, rows);
    return out;
}

Quaternion* QuaternionInverse(Quaternion* out, const Quaternion* q) {
    __m128 value = _mm_loadu_ps(&q->x);
    float lengthSq = LengthSq<4>(value);
    if (lengthSq < 1.0842022e-19f) {
        _mm_storeu_ps(&out->x, _mm_setzero_ps());
        return out;
    }
    __m128 conjugate = _mm_xor_ps(value, _mm_setr_ps(-0.0f, -0.0f, -0.0f, 0.0f));
    if (!IsNear(lengthSq, 1.0f))
        conjugate = _mm_mul_ps(conjugate, Broadcast<0>(_mm_div_ss(_mm_set_ss(1.0f), _mm_set_ss(lengthSq))));
    _mm_storeu_ps(&out->x, conjugate);
    return out;
}

Vector4* Vec3TransformArray(Vector4* out, UINT outStride, const Vector3* in, UINT inStride, const Matrix* m,
                            UINT count) {
    const Rows rows = LoadRows(m);
    auto* to = reinterpret_cast<BYTE*>(out);
    const auto* from = reinterpret_cast<const BYTE*>(in);
    auto point = [&](const BYTE* source) {
        const auto* v = reinterpret_cast<const float*>(source);
        return TransformPoint(v[0], v[1], v[2], rows);
    };
    // Four points per round, so that their loads and products overlap.
    UINT i = 0;
    for (; i + 4 <= count; i += 4) {
        __m128 p0 = point(from), p1 = point(from + inStride), p2 = point(from + 2 * inStride),
               p3 = point(from + 3 * inStride);
        _mm_storeu_ps(reinterpret_cast<float*>(to), p0);
        _mm_storeu_ps(reinterpret_cast<float*>(to + outStride), p1);
        _mm_storeu_ps(reinterpret_cast<float*>(to + 2 * outStride), p2);
        _mm_storeu_ps(reinterpret_cast<float*>(to + 3 * outStride), p3);
        from += 4 * static_cast<std::size_t>(inStride);
        to += 4 * static_cast<std::size_t>(outStride);
    }
    for (; i < count; ++i, to += outStride, from += inStride) _mm_storeu_ps(reinterpret_cast<float*>(to), point(from));
    return out;
}

}  // namespace qm::sse

namespace qm {
namespace {

// Bone index and weight from one packed influence 2·bone + weight (value ≥ 0); false when the bone is
// at or above boneCount. The SSE2 form converts with a vector integer conversion, the SSE form with
// the scalar one; both truncate, which is floor for these non-negative values.
template <bool kSse2>
inline bool DecodeInfluence(float value, UINT boneCount, UINT* bone, float* weight) {
    float half = value * 0.5f;
    if (!(half < static_cast<float>(boneCount)) || !(half < 2147483648.0f)) return false;
    int index;
    if constexpr (kSse2)
        index = _mm_cvtsi128_si32(_mm_cvttps_epi32(_mm_set_ss(half)));
    else
        index = _mm_cvtt_ss2si(_mm_set_ss(half));
    *bone = static_cast<UINT>(index);
    *weight = value - 2.0f * static_cast<float>(index);
    return true;
}

template <bool kSse2>
void* SkinVerticesWith(void* destination, UINT destinationStride, const void* source, UINT sourceStride,
                       UINT firstVertex, UINT vertexCount, const float* influences, const Matrix* boneMatrices,
                       const Matrix* normalMatrices, UINT boneCount, const UINT* directionOffsets,
                       UINT directionCount) {
    using sse::Rows;
    if (normalMatrices == nullptr) normalMatrices = boneMatrices;
    auto* destinationBytes = static_cast<BYTE*>(destination);
    const auto* sourceBytes = static_cast<const BYTE*>(source);
    const float* stream = influences;
    for (UINT vertex = firstVertex; vertex < firstVertex + vertexCount; ++vertex) {
        const BYTE* from = sourceBytes + static_cast<std::size_t>(vertex) * sourceStride;
        BYTE* to = destinationBytes + static_cast<std::size_t>(vertex) * destinationStride;
        const float* first = stream;
        while (*stream >= 0.0f) ++stream;
        const float* last = stream++;

        auto accumulate = [&](UINT offset, bool isPosition) {
            float input[3];
            std::memcpy(input, from + offset, sizeof input);
            __m128 sum = _mm_setzero_ps();
            for (const float* influence = first; influence != last; ++influence) {
                UINT bone;
                float weight;
                if (!DecodeInfluence<kSse2>(*influence, boneCount, &bone, &weight)) continue;
                __m128 moved;
                if (isPosition) {
                    Rows rows = sse::LoadRows(&boneMatrices[bone]);
                    __m128 point = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(input[0]), rows.r0),
                                              _mm_mul_ps(_mm_set1_ps(input[1]), rows.r1));
                    point = _mm_add_ps(_mm_add_ps(point, _mm_mul_ps(_mm_set1_ps(input[2]), rows.r2)), rows.r3);
                    float w = _mm_cvtss_f32(_mm_shuffle_ps(point, point, _MM_SHUFFLE(3, 3, 3, 3)));
                    moved = IsNear(w, 1.0f) ? point : _mm_mul_ps(point, _mm_set1_ps(1.0f / w));
                } else {
                    const Matrix& m = normalMatrices[bone];
                    __m128 direction = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(input[0]), _mm_loadu_ps(&m._11)),
                                                  _mm_mul_ps(_mm_set1_ps(input[1]), _mm_loadu_ps(&m._21)));
                    moved = _mm_add_ps(direction, _mm_mul_ps(_mm_set1_ps(input[2]), _mm_loadu_ps(&m._31)));
                }
                sum = _mm_add_ps(sum, _mm_mul_ps(_mm_set1_ps(weight), moved));
            }
            float result[4];
            _mm_storeu_ps(result, sum);
            std::memcpy(to + offset, result, 3 * sizeof(float));
        };
        accumulate(0, true);
        for (UINT i = 0; i < directionCount; ++i) accumulate(directionOffsets[i], false);
    }
    return destination;
}

}  // namespace

void* sse::SkinVertices(void* destination, UINT destinationStride, const void* source, UINT sourceStride,
                        UINT firstVertex, UINT vertexCount, const float* influences, const Matrix* boneMatrices,
                        const Matrix* normalMatrices, UINT boneCount, const UINT* directionOffsets,
                        UINT directionCount) {
    return SkinVerticesWith<false>(destination, destinationStride, source, sourceStride, firstVertex, vertexCount,
                                   influences, boneMatrices, normalMatrices, boneCount, directionOffsets,
                                   directionCount);
}

void* sse2::SkinVertices(void* destination, UINT destinationStride, const void* source, UINT sourceStride,
                         UINT firstVertex, UINT vertexCount, const float* influences, const Matrix* boneMatrices,
                         const Matrix* normalMatrices, UINT boneCount, const UINT* directionOffsets,
                         UINT directionCount) {
    return SkinVerticesWith<true>(destination, destinationStride, source, sourceStride, firstVertex, vertexCount,
                                  influences, boneMatrices, normalMatrices, boneCount, directionOffsets,
                                  directionCount);
}

}  // namespace qm

#endif  // QM_MATH_VECTOR_SETS
