// vector_forms_test.cpp: the SSE2 and SSE forms against the portable forms over many random inputs,
// within single-precision rounding.
#include <vector>

#include "tests/math/math_test_support.h"

namespace qm::test {
namespace {

constexpr int kTrials = 2000;

class VectorForms : public testing::TestWithParam<Under> {
protected:
    void SetUp() override {
        if (!SetBuilt(GetParam())) GTEST_SKIP() << "vector sets not built";
    }
    // Equal within a few units in the last place of `scale` (the size of the terms summed).
    static void ExpectClose(const float* actual, const float* expected, int count, float scale) {
        for (int i = 0; i < count; ++i)
            EXPECT_NEAR(actual[i], expected[i], 4e-7f * (scale + std::fabs(expected[i]))) << "component " << i;
    }
    Random random{99};
};

// Runs the set's form and the portable form of one slot on the same arguments.
#define QM_BOTH(Operation) \
    auto vector = QM_IMPL(Operation); \
    auto portable = Pick(Under::Portable, kSlot##Operation, &::qm::Operation); \
    ASSERT_NE(reinterpret_cast<void*>(vector), reinterpret_cast<void*>(portable)) << #Operation " not replaced";

TEST_P(VectorForms, PointAndDirectionTransforms) {
    for (int trial = 0; trial < kTrials; ++trial) {
        Matrix m = random.M(4);
        Vector2 v2 = random.V2();
        Vector3 v3 = random.V3();
        Vector4 v4 = random.V4(), a, b;
        {
            QM_BOTH(Vec2Transform);
            ExpectClose(&vector(&a, &v2, &m)->x, &portable(&b, &v2, &m)->x, 4, 100);
        }
        {
            QM_BOTH(Vec3Transform);
            ExpectClose(&vector(&a, &v3, &m)->x, &portable(&b, &v3, &m)->x, 4, 200);
        }
        {
            QM_BOTH(Vec4Transform);
            ExpectClose(&vector(&a, &v4, &m)->x, &portable(&b, &v4, &m)->x, 4, 200);
        }
        {
            QM_BOTH(PlaneTransform);
            Plane p{v4.x, v4.y, v4.z, v4.w}, pa, pb;
            ExpectClose(&vector(&pa, &p, &m)->a, &portable(&pb, &p, &m)->a, 4, 200);
        }
        {
            QM_BOTH(Vec2TransformNormal);
            Vector2 x, y;
            ExpectClose(&vector(&x, &v2, &m)->x, &portable(&y, &v2, &m)->x, 2, 100);
        }
        {
            QM_BOTH(Vec3TransformNormal);
            Vector3 x, y;
            ExpectClose(&vector(&x, &v3, &m)->x, &portable(&y, &v3, &m)->x, 3, 200);
        }
        m._44 += 20.0f;  // keep w away from 0
        {
            QM_BOTH(Vec2TransformCoord);
            Vector2 x, y;
            ExpectClose(&vector(&x, &v2, &m)->x, &portable(&y, &v2, &m)->x, 2, 100);
        }
        {
            QM_BOTH(Vec3TransformCoord);
            Vector3 x, y;
            ExpectClose(&vector(&x, &v3, &m)->x, &portable(&y, &v3, &m)->x, 3, 200);
        }
    }
}

TEST_P(VectorForms, MatrixProductsAndDeterminant) {
    for (int trial = 0; trial < kTrials; ++trial) {
        Matrix a = random.M(4), b = random.M(4), x, y;
        {
            QM_BOTH(MatrixMultiply);
            ExpectClose(&vector(&x, &a, &b)->_11, &portable(&y, &a, &b)->_11, 16, 64);
            Matrix aliased = a;
            vector(&aliased, &aliased, &b);
            ExpectClose(&aliased._11, &y._11, 16, 64);
        }
        {
            QM_BOTH(MatrixMultiplyTranspose);
            ExpectClose(&vector(&x, &a, &b)->_11, &portable(&y, &a, &b)->_11, 16, 64);
        }
        {
            QM_BOTH(MatrixDeterminant);
            float d1 = vector(&a), d2 = portable(&a);
            ExpectClose(&d1, &d2, 1, 4096);
        }
    }
}

TEST_P(VectorForms, NormalisationPlanesAndQuaternions) {
    for (int trial = 0; trial < kTrials; ++trial) {
        float range = trial % 3 == 0 ? 1e-19f : 10.0f;  // include vectors that normalise to zero
        Vector3 v3 = random.V3(range), x3, y3;
        Vector4 v4 = random.V4(range), x4, y4;
        {
            QM_BOTH(Vec3Normalize);
            ExpectClose(&vector(&x3, &v3)->x, &portable(&y3, &v3)->x, 3, 1);
        }
        {
            QM_BOTH(Vec4Normalize);
            ExpectClose(&vector(&x4, &v4)->x, &portable(&y4, &v4)->x, 4, 1);
        }
        Vector3 p1 = random.V3(), p2 = random.V3(), p3 = random.V3();
        {
            QM_BOTH(PlaneFromPoints);
            Plane a, b;
            ExpectClose(&vector(&a, &p1, &p2, &p3)->a, &portable(&b, &p1, &p2, &p3)->a, 4, 30);
        }
        Plane plane{v4.x, v4.y, v4.z, v4.w};
        {
            QM_BOTH(MatrixReflect);
            Matrix a, b;
            ExpectClose(&vector(&a, &plane)->_11, &portable(&b, &plane)->_11, 16, 30);
        }
        {
            QM_BOTH(MatrixShadow);
            Vector4 light = random.V4();
            Matrix a, b;
            ExpectClose(&vector(&a, &light, &plane)->_11, &portable(&b, &light, &plane)->_11, 16, 300);
        }
        float yaw = random.Uniform(-7, 7), pitch = random.Uniform(-7, 7), roll = random.Uniform(-7, 7);
        {
            QM_BOTH(QuaternionRotationYawPitchRoll);
            Quaternion a, b;
            ExpectClose(&vector(&a, yaw, pitch, roll)->x, &portable(&b, yaw, pitch, roll)->x, 4, 1);
        }
        {
            QM_BOTH(QuaternionRotationMatrix);
            Quaternion q = random.UnitQ(), a, b;
            Matrix m;
            portable::MatrixRotationQuaternion(&m, &q);
            ExpectClose(&vector(&a, &m)->x, &portable(&b, &m)->x, 4, 4);
        }
    }
}

TEST(VectorFormsSse, QuaternionInverse) {
    // Only the SSE set replaces slot 44.
    if (!SetBuilt(Under::Sse)) GTEST_SKIP() << "vector sets not built";
    auto vector = Pick(Under::Sse, kSlotQuaternionInverse, &::qm::QuaternionInverse);
    auto portable = Pick(Under::Portable, kSlotQuaternionInverse, &::qm::QuaternionInverse);
    ASSERT_NE(vector, portable);
    Random random(5);
    for (int trial = 0; trial < kTrials; ++trial) {
        Vector4 v = random.V4(trial % 4 == 0 ? 1e-10f : 3.0f);
        Quaternion q{v.x, v.y, v.z, v.w}, a, b;
        vector(&a, &q);
        portable(&b, &q);
        for (int i = 0; i < 4; ++i) EXPECT_NEAR((&a.x)[i], (&b.x)[i], 4e-7f * (1 + std::fabs((&b.x)[i])));
    }
}

TEST_P(VectorForms, ArrayTransformAndSkinning) {
    constexpr UINT kCount = 4096;
    std::vector<Vector3> points(kCount);
    for (Vector3& p : points) p = random.V3(100);
    std::vector<Vector4> a(kCount), b(kCount);
    Matrix m = random.M(4);
    {
        QM_BOTH(Vec3TransformArray);
        vector(a.data(), sizeof(Vector4), points.data(), sizeof(Vector3), &m, kCount);
        portable(b.data(), sizeof(Vector4), points.data(), sizeof(Vector3), &m, kCount);
        for (UINT i = 0; i < kCount; ++i) ExpectClose(&a[i].x, &b[i].x, 4, 2000);
    }
    // Skinning: four influences per vertex over 32 bones, positions and one direction (a normal at 12).
    struct Vertex {
        float position[3], normal[3];
    };
    std::vector<Matrix> bones(32), normals(32);
    for (int i = 0; i < 32; ++i) {
        bones[i] = random.M(2);
        bones[i]._44 += 10.0f;
        normals[i] = random.M(2);
    }
    std::vector<Vertex> source(1000), x(1000), y(1000);
    std::vector<float> stream;
    for (Vertex& v : source) {
        Vector3 p = random.V3(), n = random.V3(1);
        std::memcpy(v.position, &p, 12);
        std::memcpy(v.normal, &n, 12);
        for (int k = 0; k < 4; ++k)
            stream.push_back(2.0f * static_cast<float>(static_cast<int>(random.Uniform(0, 31.99f))) + random.Uniform(0, 1));
        stream.push_back(-1.0f);
    }
    const UINT directions[] = {12};
    QM_BOTH(SkinVertices);
    vector(x.data(), sizeof(Vertex), source.data(), sizeof(Vertex), 0, 1000, stream.data(), bones.data(),
           normals.data(), 32, directions, 1);
    portable(y.data(), sizeof(Vertex), source.data(), sizeof(Vertex), 0, 1000, stream.data(), bones.data(),
             normals.data(), 32, directions, 1);
    for (int i = 0; i < 1000; ++i) {
        ExpectClose(x[i].position, y[i].position, 3, 40);
        ExpectClose(x[i].normal, y[i].normal, 3, 40);
    }
}

INSTANTIATE_TEST_SUITE_P(Sets, VectorForms, testing::Values(Under::Sse2, Under::Sse), UnderName);

}  // namespace
}  // namespace qm::test
