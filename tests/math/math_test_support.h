// math_test_support.h: double-precision references, random inputs and the choice of implementation
// set for the math library tests.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "library/math/math.h"
#include "library/math/math_dispatch.h"
#include "library/math/math_slots.h"

namespace qm::test {

#define QM_TEST_SLOT_CONSTANT(slot, Operation) inline constexpr int kSlot##Operation = slot;
QM_MATH_SLOTS(QM_TEST_SLOT_CONSTANT)
#undef QM_TEST_SLOT_CONSTANT

// Which implementations a test runs: the public entries, or one set (portable where the set does not
// replace a slot).
enum class Under { Active, Portable, Alternative, Sse2, Sse };

inline std::string UnderName(const testing::TestParamInfo<Under>& info) {
    static const char* const kNames[] = {"Active", "Portable", "Alternative", "Sse2", "Sse"};
    return kNames[static_cast<int>(info.param)];
}

inline bool SetBuilt(Under under) {
    if (under == Under::Sse2) return MathImplementation(MathImplementationSet::Sse2, 0) != nullptr;
    if (under == Under::Sse) return MathImplementation(MathImplementationSet::Sse, 0) != nullptr;
    return true;
}

template <typename Function>
Function Pick(Under under, int slot, Function entry) {
    static const MathImplementationSet kSets[] = {MathImplementationSet::Portable, MathImplementationSet::Portable,
                                                  MathImplementationSet::Alternative, MathImplementationSet::Sse2,
                                                  MathImplementationSet::Sse};
    if (under == Under::Active) return entry;
    MathSlotFunction found = MathImplementation(kSets[static_cast<int>(under)], slot);
    if (found == nullptr) found = MathImplementation(MathImplementationSet::Portable, slot);
    return reinterpret_cast<Function>(found);
}

// The implementation of an operation under the test's parameter.
#define QM_IMPL(Operation) ::qm::test::Pick(GetParam(), ::qm::test::kSlot##Operation, &::qm::Operation)

// Double-precision references.
using D3 = std::array<double, 3>;
using D4 = std::array<double, 4>;
using DM = std::array<D4, 4>;

inline DM ToD(const Matrix& m) {
    DM r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) r[i][j] = m.m[i][j];
    return r;
}
inline D4 Times(const D4& v, const DM& m) {
    D4 r{};
    for (int j = 0; j < 4; ++j)
        for (int k = 0; k < 4; ++k) r[j] += v[k] * m[k][j];
    return r;
}
inline DM Mul(const DM& a, const DM& b) {
    DM r{};
    for (int i = 0; i < 4; ++i) r[i] = Times(a[i], b);
    return r;
}
inline DM Identity() {
    DM r{};
    for (int i = 0; i < 4; ++i) r[i][i] = 1.0;
    return r;
}
inline DM Transposed(const DM& m) {
    DM r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) r[i][j] = m[j][i];
    return r;
}
// Gaussian elimination with partial pivoting; the determinant goes to *determinant.
inline DM Inverse(DM a, double* determinant) {
    DM inv = Identity();
    double det = 1.0;
    for (int c = 0; c < 4; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 4; ++r)
            if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
        if (pivot != c) {
            std::swap(a[pivot], a[c]);
            std::swap(inv[pivot], inv[c]);
            det = -det;
        }
        det *= a[c][c];
        if (a[c][c] == 0.0) break;
        double scale = 1.0 / a[c][c];
        for (int j = 0; j < 4; ++j) a[c][j] *= scale, inv[c][j] *= scale;
        for (int r = 0; r < 4; ++r) {
            if (r == c) continue;
            double f = a[r][c];
            for (int j = 0; j < 4; ++j) a[r][j] -= f * a[c][j], inv[r][j] -= f * inv[c][j];
        }
    }
    *determinant = det;
    return inv;
}
// The row-vector matrix of a rotation by angle about a unit axis: the transpose of Rodrigues' matrix.
inline DM AxisRotation(D3 n, double angle) {
    double c = std::cos(angle), s = std::sin(angle), t = 1.0 - c;
    DM column{};  // column-vector form: cI + s[n]x + t·n nᵀ
    column[0] = {c + t * n[0] * n[0], t * n[0] * n[1] - s * n[2], t * n[0] * n[2] + s * n[1], 0};
    column[1] = {t * n[0] * n[1] + s * n[2], c + t * n[1] * n[1], t * n[1] * n[2] - s * n[0], 0};
    column[2] = {t * n[0] * n[2] - s * n[1], t * n[1] * n[2] + s * n[0], c + t * n[2] * n[2], 0};
    column[3] = {0, 0, 0, 1};
    return Transposed(column);
}
inline DM Translation(double x, double y, double z) {
    DM r = Identity();
    r[3] = {x, y, z, 1};
    return r;
}

// Quaternions in double: Hamilton product and rotation of a vector (q v q*).
struct DQ {
    double x, y, z, w;
};
inline DQ ToD(const Quaternion& q) { return DQ{q.x, q.y, q.z, q.w}; }
inline DQ Hamilton(const DQ& a, const DQ& b) {
    return DQ{a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y, a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
              a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w, a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z};
}
inline D3 Rotate(const DQ& q, const D3& v) {
    DQ r = Hamilton(Hamilton(q, DQ{v[0], v[1], v[2], 0}), DQ{-q.x, -q.y, -q.z, q.w});
    return D3{r.x, r.y, r.z};
}
// The row-vector matrix of a unit quaternion's rotation, from rotating the basis vectors.
inline DM QuaternionMatrix(const DQ& q) {
    DM r = Identity();
    for (int i = 0; i < 3; ++i) {
        D3 e{};
        e[i] = 1.0;
        D3 image = Rotate(q, e);
        r[i] = {image[0], image[1], image[2], 0};
    }
    return r;
}

// Tolerance for single-precision results of moderate magnitude against double references.
inline double Tolerance(double expected, double scale = 1.0) { return 2e-5 * (scale + std::fabs(expected)); }

#define QM_EXPECT_CLOSE(actual, expected, scale) \
    EXPECT_NEAR((actual), (expected), ::qm::test::Tolerance((expected), (scale)))

inline void ExpectMatrixNear(const Matrix& actual, const DM& expected, double scale = 1.0) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) QM_EXPECT_CLOSE(actual.m[i][j], expected[i][j], scale) << "element " << i << j;
}

// Same rotation: q and −q both count.
inline void ExpectSameRotation(const Quaternion& actual, const DQ& expected) {
    double sign = actual.x * expected.x + actual.y * expected.y + actual.z * expected.z + actual.w * expected.w < 0
                      ? -1.0
                      : 1.0;
    QM_EXPECT_CLOSE(actual.x, sign * expected.x, 1.0);
    QM_EXPECT_CLOSE(actual.y, sign * expected.y, 1.0);
    QM_EXPECT_CLOSE(actual.z, sign * expected.z, 1.0);
    QM_EXPECT_CLOSE(actual.w, sign * expected.w, 1.0);
}

// Reproducible random inputs.
class Random {
public:
    explicit Random(std::uint32_t seed = 12345) : engine_(seed) {}
    float Uniform(float low, float high) { return std::uniform_real_distribution<float>(low, high)(engine_); }
    Vector2 V2(float range = 10.0f) { return Vector2{Uniform(-range, range), Uniform(-range, range)}; }
    Vector3 V3(float range = 10.0f) { return Vector3(Uniform(-range, range), Uniform(-range, range), Uniform(-range, range)); }
    Vector4 V4(float range = 10.0f) {
        return Vector4{Uniform(-range, range), Uniform(-range, range), Uniform(-range, range), Uniform(-range, range)};
    }
    Matrix M(float range = 2.0f) {
        Matrix m;
        for (auto& row : m.m)
            for (float& e : row) e = Uniform(-range, range);
        return m;
    }
    Quaternion UnitQ() {
        Quaternion q{Uniform(-1, 1), Uniform(-1, 1), Uniform(-1, 1), Uniform(-1, 1)};
        float length = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
        return Quaternion{q.x / length, q.y / length, q.z / length, q.w / length};
    }

private:
    std::mt19937 engine_;
};

inline D4 D(const Vector2& v, double z, double w) { return D4{v.x, v.y, z, w}; }
inline D4 D(const Vector3& v, double w) { return D4{v.x, v.y, v.z, w}; }
inline D4 D(const Vector4& v) { return D4{v.x, v.y, v.z, v.w}; }
inline D3 D(const Vector3& v) { return D3{v.x, v.y, v.z}; }

template <typename T>
std::uint32_t Bits(T value) {
    static_assert(sizeof(T) == 4);
    std::uint32_t bits;
    std::memcpy(&bits, &value, 4);
    return bits;
}

}  // namespace qm::test
