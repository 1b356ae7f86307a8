// edge_cases_test.cpp: the exact rules at the edges (normalisation thresholds, the near-1 w rule,
// quaternion inverse, parallel lines), 16-bit floats, and the camera matrices.
#include <bit>
#include <limits>
#include <vector>

#include "tests/math/math_test_support.h"

namespace qm::test {
namespace {

class EdgeCases : public testing::TestWithParam<Under> {
protected:
    void SetUp() override {
        if (!SetBuilt(GetParam())) GTEST_SKIP() << "set not built";
    }
};

TEST_P(EdgeCases, NormalisationThresholds) {
    // Zero and vectors whose squared length is below the smallest normal float become zero.
    for (float tiny : {0.0f, 1e-20f}) {
        Vector3 v3(tiny, -tiny, tiny), o3(9, 9, 9);
        QM_IMPL(Vec3Normalize)(&o3, &v3);
        EXPECT_EQ(o3.x, 0.0f);
        EXPECT_EQ(o3.z, 0.0f);
        Vector4 v4{tiny, 0, 0, tiny}, o4{9, 9, 9, 9};
        QM_IMPL(Vec4Normalize)(&o4, &v4);
        EXPECT_EQ(o4.x, 0.0f);
        EXPECT_EQ(o4.w, 0.0f);
        Quaternion q{0, tiny, 0, 0}, oq{9, 9, 9, 9};
        QM_IMPL(QuaternionNormalize)(&oq, &q);
        EXPECT_EQ(oq.y, 0.0f);
        EXPECT_EQ(oq.w, 0.0f);
        Vector2 v2{tiny, tiny}, o2{9, 9};
        QM_IMPL(Vec2Normalize)(&o2, &v2);
        EXPECT_EQ(o2.x, 0.0f);
        EXPECT_EQ(o2.y, 0.0f);
    }
    // Squared length exactly epsilon below 1 (the bound is inclusive): returned bit for bit.
    const float nearOne = std::bit_cast<float>(0x3F7FFFFFu);  // 1 − 2^-24; its square rounds to 1 − 2^-23
    Vector3 v3(nearOne, 0, 0), o3;
    QM_IMPL(Vec3Normalize)(&o3, &v3);
    EXPECT_EQ(Bits(o3.x), Bits(nearOne));
    Vector4 v4{0, nearOne, 0, 0}, o4;
    QM_IMPL(Vec4Normalize)(&o4, &v4);
    EXPECT_EQ(Bits(o4.y), Bits(nearOne));
    Quaternion q{0, 0, 0, nearOne}, oq;
    QM_IMPL(QuaternionNormalize)(&oq, &q);
    EXPECT_EQ(Bits(oq.w), Bits(nearOne));
    Vector2 v2{nearOne, 0}, o2;
    QM_IMPL(Vec2Normalize)(&o2, &v2);
    EXPECT_EQ(Bits(o2.x), Bits(nearOne));
    // One step further out, the vector is scaled.
    const float outside = std::bit_cast<float>(0x3F7FFFFEu);  // 1 − 2^-23
    v3 = Vector3(outside, 0, 0);
    QM_IMPL(Vec3Normalize)(&o3, &v3);
    EXPECT_NE(Bits(o3.x), Bits(outside));
    EXPECT_NEAR(o3.x, 1.0f, 1e-7f);
}

TEST_P(EdgeCases, CoordinateTransformsSkipTheDivisionWhenWIsNearOne) {
    Matrix m;
    MatrixIdentity(&m);
    m._41 = 3.0f, m._42 = -7.0f, m._43 = 11.0f;
    Vector3 origin(0, 0, 0), out;
    Vector2 origin2{0, 0}, out2;
    for (float w : {1.0f, std::bit_cast<float>(0x3F800001u) /* 1 + 2^-23, within epsilon */}) {
        m._44 = w;
        QM_IMPL(Vec3TransformCoord)(&out, &origin, &m);
        EXPECT_EQ(out.x, 3.0f);
        EXPECT_EQ(out.y, -7.0f);
        EXPECT_EQ(out.z, 11.0f);
        QM_IMPL(Vec2TransformCoord)(&out2, &origin2, &m);
        EXPECT_EQ(out2.x, 3.0f);
        QM_IMPL(Vec3TransformCoordArray)(&out, sizeof out, &origin, sizeof origin, &m, 1);
        EXPECT_EQ(out.z, 11.0f);
        QM_IMPL(Vec2TransformCoordArray)(&out2, sizeof out2, &origin2, sizeof origin2, &m, 1);
        EXPECT_EQ(out2.y, -7.0f);
    }
    m._44 = 2.0f;
    QM_IMPL(Vec3TransformCoord)(&out, &origin, &m);
    EXPECT_EQ(out.x, 1.5f);
    EXPECT_EQ(out.z, 5.5f);
}

TEST_P(EdgeCases, QuaternionInverseThresholds) {
    Quaternion zero{0, 0, 0, 0}, out{5, 5, 5, 5};
    QM_IMPL(QuaternionInverse)(&out, &zero);
    EXPECT_EQ(out.x, 0.0f);
    EXPECT_EQ(out.w, 0.0f);
    Quaternion tiny{1e-10f, 1e-10f, 0, 1e-10f};  // squared norm 3e-20, below 2^-63
    QM_IMPL(QuaternionInverse)(&out, &tiny);
    EXPECT_EQ(out.y, 0.0f);
    EXPECT_EQ(out.w, 0.0f);
    // Squared norm within epsilon of 1: the plain conjugate, not divided.
    const float nearOne = std::bit_cast<float>(0x3F7FFFFFu);
    Quaternion unit{0, 0, nearOne, 0};
    QM_IMPL(QuaternionInverse)(&out, &unit);
    EXPECT_EQ(Bits(out.z), Bits(-nearOne));
    Quaternion two{0, 0, 0, 2};
    QM_IMPL(QuaternionInverse)(&out, &two);
    EXPECT_EQ(out.w, 0.5f);
}

TEST_P(EdgeCases, LineParallelToThePlaneHasNoIntersection) {
    Plane plane{0, 1, 0, -2};  // y = 2
    Vector3 a(0, 1, 0), b(5, 1, -3), out(7, 7, 7);
    EXPECT_EQ(QM_IMPL(PlaneIntersectLine)(&out, &plane, &a, &b), nullptr);
    EXPECT_EQ(out.x, 7.0f);
    Vector3 nan(0, std::numeric_limits<float>::quiet_NaN(), 0);
    EXPECT_EQ(QM_IMPL(PlaneIntersectLine)(&out, &plane, &a, &nan), nullptr);
    Vector3 up(0, 5, 0);
    ASSERT_EQ(QM_IMPL(PlaneIntersectLine)(&out, &plane, &a, &up), &out);
    EXPECT_FLOAT_EQ(out.y, 2.0f);
}

TEST_P(EdgeCases, HalfFloatsWithoutInfinities) {
    auto toHalf = QM_IMPL(Float32To16Array);
    auto toFloat = QM_IMPL(Float16To32Array);
    const float inf = std::numeric_limits<float>::infinity();
    struct Pair {
        float value;
        WORD half;
    };
    const Pair pairs[] = {
        {0.0f, 0x0000},     {-0.0f, 0x8000},          {1.0f, 0x3C00},           {-2.0f, 0xC000},
        {0.5f, 0x3800},     {65504.0f, 0x7BFF},       {65536.0f, 0x7C00},       {131008.0f, 0x7FFF},
        {1e9f, 0x7FFF},     {inf, 0x7FFF},            {-inf, 0xFFFF},           {std::ldexp(1.0f, -14), 0x0400},
        {std::ldexp(1.0f, -24), 0x0001},              {std::ldexp(1.0f, -25), 0x0000},  // tie to even: 0
        {std::ldexp(3.0f, -25), 0x0002},              // 1.5 units: tie to even 2
        {1.0f + std::ldexp(1.0f, -11), 0x3C00},       // tie between 0x3C00 and 0x3C01: even
        {1.0f + std::ldexp(3.0f, -11), 0x3C02},       // tie between 0x3C01 and 0x3C02: even
        {131007.0f, 0x7FFF},  {131040.0f, 0x7FFF} /* the saturation bound */,  {-131040.0f, 0xFFFF},
        {-1e-30f, 0x8000},
    };
    for (const Pair& pair : pairs) {
        WORD half = 0x1234;
        toHalf(&half, &pair.value, 1);
        EXPECT_EQ(half, pair.half) << pair.value;
    }
    WORD fromNan;
    float nan = std::numeric_limits<float>::quiet_NaN();
    toHalf(&fromNan, &nan, 1);
    EXPECT_EQ(fromNan & 0x7FFF, 0x7FFF);
    // Exponent 31 is an ordinary exponent; denormals scale by 2^-24.
    const WORD halves[] = {0x7C00, 0x7FFF, 0xFC01, 0x0001, 0x03FF, 0x8200};
    const float expected[] = {65536.0f, 131008.0f, -65600.0f, std::ldexp(1.0f, -24), std::ldexp(1023.0f, -24),
                              -std::ldexp(512.0f, -24)};
    float floats[6];
    toFloat(floats, halves, 6);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(floats[i], expected[i]) << i;

    // Every 16-bit value survives the trip to 32 bits and back, also converted in place.
    std::vector<WORD> all(65536);
    for (std::uint32_t i = 0; i < 65536; ++i) all[i] = static_cast<WORD>(i);
    std::vector<float> wide(65536);
    toFloat(wide.data(), all.data(), 65536);
    std::vector<WORD> back(65536);
    toHalf(back.data(), wide.data(), 65536);
    EXPECT_EQ(back, all);
    std::vector<float> inPlace(65536);
    std::memcpy(inPlace.data(), all.data(), 65536 * sizeof(WORD));
    toFloat(inPlace.data(), reinterpret_cast<const WORD*>(inPlace.data()), 65536);
    EXPECT_EQ(std::memcmp(inPlace.data(), wide.data(), 65536 * sizeof(float)), 0);
    toHalf(reinterpret_cast<WORD*>(inPlace.data()), inPlace.data(), 65536);
    EXPECT_EQ(std::memcmp(inPlace.data(), all.data(), 65536 * sizeof(WORD)), 0);

    // Normal-range values go to the nearest 16-bit value.
    Random random(7);
    for (int trial = 0; trial < 20000; ++trial) {
        float value = std::ldexp(random.Uniform(1.0f, 2.0f), static_cast<int>(random.Uniform(-14, 16.99f)));
        WORD half;
        toHalf(&half, &value, 1);
        float rounded, below, above;
        WORD neighbours[2] = {static_cast<WORD>(half - 1), static_cast<WORD>(half + 1)};
        toFloat(&rounded, &half, 1);
        toFloat(&below, &neighbours[0], 1);
        toFloat(&above, &neighbours[1], 1);
        double error = std::fabs(double(rounded) - value);
        EXPECT_LE(error, std::fabs(double(below) - value));
        if (half != 0x7FFF) {
            EXPECT_LE(error, std::fabs(double(above) - value));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sets, EdgeCases,
                         testing::Values(Under::Active, Under::Portable, Under::Alternative, Under::Sse2, Under::Sse),
                         UnderName);

TEST(CameraMatrices, LookAtPutsTheEyeAtTheOriginFacingPlusZ) {
    Vector3 eye(0, 5, -10), at(0, 0, 0), up(0, 1, 0);
    Matrix view;
    MatrixLookAtLH(&view, &eye, &at, &up);
    Vector3 moved;
    Vec3TransformCoord(&moved, &eye, &view);
    EXPECT_NEAR(moved.x, 0, 1e-5);
    EXPECT_NEAR(moved.y, 0, 1e-5);
    EXPECT_NEAR(moved.z, 0, 1e-5);
    Vec3TransformCoord(&moved, &at, &view);
    EXPECT_NEAR(moved.x, 0, 1e-5);
    EXPECT_NEAR(moved.y, 0, 1e-5);
    EXPECT_NEAR(moved.z, std::sqrt(125.0), 1e-4);
    Vector3 right(1, 5, -10);  // one unit along +x from the eye stays +x
    Vec3TransformCoord(&moved, &right, &view);
    EXPECT_NEAR(moved.x, 1, 1e-5);
    // Third column is the view direction (0, −5, 10)/√125.
    EXPECT_NEAR(view._23, -5 / std::sqrt(125.0), 1e-6);
    EXPECT_NEAR(view._33, 10 / std::sqrt(125.0), 1e-6);
    EXPECT_EQ(view._14, 0.0f);
    EXPECT_EQ(view._44, 1.0f);

    // The default camera gives the identity.
    Vector3 origin(0, 0, 0), forward(0, 0, 1);
    MatrixLookAtLH(&view, &origin, &forward, &up);
    EXPECT_TRUE(MatrixIsIdentity(&view));

    // Degenerate cameras give zero axes, not failures.
    MatrixLookAtLH(&view, &eye, &eye, &up);
    EXPECT_EQ(view._13, 0.0f);
    EXPECT_EQ(view._23, 0.0f);
    EXPECT_EQ(view._33, 0.0f);
    EXPECT_EQ(view._43, 0.0f);
    Vector3 alongUp(0, 15, -10);
    MatrixLookAtLH(&view, &eye, &alongUp, &up);
    EXPECT_EQ(view._11, 0.0f);
    EXPECT_EQ(view._21, 0.0f);
    EXPECT_EQ(view._31, 0.0f);
}

TEST(CameraMatrices, PerspectiveFromFieldOfViewAspectAndPlanes) {
    Matrix projection;
    MatrixPerspectiveFovLH(&projection, 1.0f, 4.0f / 3.0f, 0.125f, 50.0f);
    float yScale = static_cast<float>(std::cos(0.5)) / static_cast<float>(std::sin(0.5));
    EXPECT_EQ(projection._22, yScale);
    EXPECT_EQ(projection._11, yScale / 1.3333334f);
    float q = 50.0f / 49.875f;
    EXPECT_EQ(projection._33, q);
    EXPECT_EQ(projection._34, 1.0f);
    EXPECT_EQ(projection._43, -q * 0.125f);
    EXPECT_EQ(projection._44, 0.0f);
    EXPECT_EQ(projection._12, 0.0f);
    // A point on the near plane maps to depth 0, on the far plane to depth 1.
    Vector3 nearPoint(0, 0, 0.125f), farPoint(0, 0, 50.0f), out;
    Vec3TransformCoord(&out, &nearPoint, &projection);
    EXPECT_NEAR(out.z, 0.0f, 1e-6);
    Vec3TransformCoord(&out, &farPoint, &projection);
    EXPECT_NEAR(out.z, 1.0f, 1e-6);
    // An infinite aspect gives xScale 0.
    MatrixPerspectiveFovLH(&projection, 1.0f, std::numeric_limits<float>::infinity(), 0.125f, 50.0f);
    EXPECT_EQ(projection._11, 0.0f);
}

}  // namespace
}  // namespace qm::test
