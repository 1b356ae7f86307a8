// operations_test.cpp: every math slot against double-precision references, run through the public
// entries and through each implementation set.
#include <vector>

#include "tests/math/math_test_support.h"

namespace qm::test {
namespace {

class Operations : public testing::TestWithParam<Under> {
protected:
    void SetUp() override {
        if (!SetBuilt(GetParam())) GTEST_SKIP() << "set not built";
    }
    Random random;
};

TEST_P(Operations, VectorTransformsMatchTheRowVectorProduct) {
    for (int trial = 0; trial < 200; ++trial) {
        Matrix m = random.M();
        DM dm = ToD(m);
        Vector2 v2 = random.V2();
        Vector3 v3 = random.V3();
        Vector4 v4 = random.V4();
        Vector4 out4;
        D4 expected = Times(D(v2, 0, 1), dm);
        QM_IMPL(Vec2Transform)(&out4, &v2, &m);
        for (int i = 0; i < 4; ++i) QM_EXPECT_CLOSE((&out4.x)[i], expected[i], 40);
        expected = Times(D(v3, 1), dm);
        QM_IMPL(Vec3Transform)(&out4, &v3, &m);
        for (int i = 0; i < 4; ++i) QM_EXPECT_CLOSE((&out4.x)[i], expected[i], 40);
        expected = Times(D(v4), dm);
        Vector4 aliased = v4;
        QM_IMPL(Vec4Transform)(&aliased, &aliased, &m);
        for (int i = 0; i < 4; ++i) QM_EXPECT_CLOSE((&aliased.x)[i], expected[i], 40);
        Plane plane{v4.x, v4.y, v4.z, v4.w};
        QM_IMPL(PlaneTransform)(&plane, &plane, &m);
        for (int i = 0; i < 4; ++i) QM_EXPECT_CLOSE((&plane.a)[i], expected[i], 40);

        Vector2 n2;
        expected = Times(D(v2, 0, 0), dm);
        QM_IMPL(Vec2TransformNormal)(&n2, &v2, &m);
        QM_EXPECT_CLOSE(n2.x, expected[0], 40);
        QM_EXPECT_CLOSE(n2.y, expected[1], 40);
        Vector3 n3 = v3;
        expected = Times(D(v3, 0), dm);
        QM_IMPL(Vec3TransformNormal)(&n3, &n3, &m);
        for (int i = 0; i < 3; ++i) QM_EXPECT_CLOSE((&n3.x)[i], expected[i], 40);

        // Coordinate forms divide by w; keep w away from 0 so the quotient is well conditioned.
        m._14 = m._24 = m._34 = 0.05f;
        m._44 = 3.0f;
        dm = ToD(m);
        expected = Times(D(v3, 1), dm);
        Vector3 c3;
        QM_IMPL(Vec3TransformCoord)(&c3, &v3, &m);
        for (int i = 0; i < 3; ++i) QM_EXPECT_CLOSE((&c3.x)[i], expected[i] / expected[3], 40);
        expected = Times(D(v2, 0, 1), dm);
        Vector2 c2;
        QM_IMPL(Vec2TransformCoord)(&c2, &v2, &m);
        QM_EXPECT_CLOSE(c2.x, expected[0] / expected[3], 40);
        QM_EXPECT_CLOSE(c2.y, expected[1] / expected[3], 40);
    }
}

TEST_P(Operations, MatrixProductsDeterminantAndInverse) {
    for (int trial = 0; trial < 200; ++trial) {
        Matrix a = random.M(), b = random.M();
        DM product = Mul(ToD(a), ToD(b));
        Matrix out;
        QM_IMPL(MatrixMultiply)(&out, &a, &b);
        ExpectMatrixNear(out, product, 16);
        QM_IMPL(MatrixMultiplyTranspose)(&out, &a, &b);
        ExpectMatrixNear(out, Transposed(product), 16);
        Matrix aliasA = a, aliasB = b;
        QM_IMPL(MatrixMultiply)(&aliasA, &aliasA, &b);
        QM_IMPL(MatrixMultiply)(&aliasB, &a, &aliasB);
        ExpectMatrixNear(aliasA, product, 16);
        ExpectMatrixNear(aliasB, product, 16);

        double determinant;
        DM inverse = Inverse(ToD(a), &determinant);
        QM_EXPECT_CLOSE(QM_IMPL(MatrixDeterminant)(&a), determinant, 100);
        if (std::fabs(determinant) < 0.5) continue;  // keep the inverse well conditioned
        float reported = 0.0f;
        Matrix inv = a;
        ASSERT_EQ(QM_IMPL(MatrixInverse)(&inv, &reported, &inv), &inv);
        QM_EXPECT_CLOSE(reported, determinant, 100);
        double largest = 0;
        for (auto& row : inverse)
            for (double e : row) largest = std::max(largest, std::fabs(e));
        ExpectMatrixNear(inv, inverse, 10 * largest);
    }
    Matrix singular(1, 2, 3, 4, 2, 4, 6, 8, 0, 1, 0, 0, 0, 0, 1, 0);
    Matrix untouched = random.M();
    Matrix before = untouched;
    float determinant = 5.0f;
    EXPECT_EQ(QM_IMPL(MatrixInverse)(&untouched, &determinant, &singular), nullptr);
    EXPECT_EQ(determinant, 0.0f);
    EXPECT_EQ(std::memcmp(&untouched, &before, sizeof before), 0);
    EXPECT_EQ(QM_IMPL(MatrixDeterminant)(&singular), 0.0f);
}

TEST_P(Operations, NormalisationScalesToUnitLength) {
    for (int trial = 0; trial < 200; ++trial) {
        Vector3 v3 = random.V3();
        Vector4 v4 = random.V4();
        Vector2 v2 = random.V2();
        Quaternion q{v4.x, v4.y, v4.z, v4.w};
        double l3 = std::sqrt(double(v3.x) * v3.x + double(v3.y) * v3.y + double(v3.z) * v3.z);
        double l4 = std::sqrt(double(v4.x) * v4.x + double(v4.y) * v4.y + double(v4.z) * v4.z + double(v4.w) * v4.w);
        double l2 = std::sqrt(double(v2.x) * v2.x + double(v2.y) * v2.y);
        Vector3 n3;
        QM_IMPL(Vec3Normalize)(&n3, &v3);
        for (int i = 0; i < 3; ++i) QM_EXPECT_CLOSE((&n3.x)[i], (&v3.x)[i] / l3, 0.1);
        Vector4 n4 = v4;
        QM_IMPL(Vec4Normalize)(&n4, &n4);
        QM_IMPL(QuaternionNormalize)(&q, &q);
        for (int i = 0; i < 4; ++i) {
            QM_EXPECT_CLOSE((&n4.x)[i], (&v4.x)[i] / l4, 0.1);
            QM_EXPECT_CLOSE((&q.x)[i], (&v4.x)[i] / l4, 0.1);
        }
        Vector2 n2;
        QM_IMPL(Vec2Normalize)(&n2, &v2);
        QM_EXPECT_CLOSE(n2.x, v2.x / l2, 0.1);
        QM_EXPECT_CLOSE(n2.y, v2.y / l2, 0.1);
    }
}

TEST_P(Operations, PlanesFromPointsNormalsAndLines) {
    for (int trial = 0; trial < 100; ++trial) {
        Vector3 p1 = random.V3(), p2 = random.V3(), p3 = random.V3();
        Plane plane;
        QM_IMPL(PlaneFromPoints)(&plane, &p1, &p2, &p3);
        D3 e1{double(p2.x) - p1.x, double(p2.y) - p1.y, double(p2.z) - p1.z};
        D3 e2{double(p3.x) - p1.x, double(p3.y) - p1.y, double(p3.z) - p1.z};
        D3 n{e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
        double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        if (length < 1.0) continue;  // nearly collinear points give a poorly defined normal
        for (int i = 0; i < 3; ++i) QM_EXPECT_CLOSE((&plane.a)[i], n[i] / length, 10);
        for (const Vector3* p : {&p1, &p2, &p3}) EXPECT_NEAR(PlaneDotCoord(&plane, p), 0.0, 1e-3);

        Vector3 normal = random.V3();
        QM_IMPL(PlaneFromPointNormal)(&plane, &p1, &normal);
        EXPECT_EQ(plane.a, normal.x);
        QM_EXPECT_CLOSE(plane.d, -(double(p1.x) * normal.x + double(p1.y) * normal.y + double(p1.z) * normal.z), 300);

        Plane scaled{3 * plane.a, 3 * plane.b, 3 * plane.c, 3 * plane.d};
        double nl = std::sqrt(double(scaled.a) * scaled.a + double(scaled.b) * scaled.b + double(scaled.c) * scaled.c);
        QM_IMPL(PlaneNormalize)(&scaled, &scaled);
        QM_EXPECT_CLOSE(scaled.b, 3.0 * plane.b / nl, 1);
        QM_EXPECT_CLOSE(scaled.d, 3.0 * plane.d / nl, 100);

        Vector3 hit;
        ASSERT_EQ(QM_IMPL(PlaneIntersectLine)(&hit, &plane, &p2, &p3), &hit);
        double d2 = PlaneDotCoord(&plane, &p2), d3 = PlaneDotCoord(&plane, &p3);
        double t = d2 / (d2 - d3);
        for (int i = 0; i < 3; ++i)
            QM_EXPECT_CLOSE((&hit.x)[i], (&p2.x)[i] + t * ((&p3.x)[i] - (&p2.x)[i]), 100 * (1 + std::fabs(t)));
    }
    Plane zero{0, 0, 0, 5};
    QM_IMPL(PlaneNormalize)(&zero, &zero);
    EXPECT_EQ(zero.d, 0.0f);
}

TEST_P(Operations, ProjectAndUnprojectThroughTheViewport) {
    D3DVIEWPORT9 viewport{10, 20, 640, 480, 0.25f, 0.75f};
    Matrix world, view, projection;
    QM_IMPL(MatrixRotationY)(&world, 0.3f);
    world._41 = 1.0f;
    Vector3 eye(0, 2, -10), at(0, 0, 0), up(0, 1, 0);
    MatrixLookAtLH(&view, &eye, &at, &up);
    MatrixPerspectiveFovLH(&projection, 1.0f, 4.0f / 3.0f, 0.5f, 100.0f);
    DM combined = Mul(Mul(ToD(world), ToD(view)), ToD(projection));
    std::vector<Vector3> points, projected(20), back(20);
    for (int i = 0; i < 20; ++i) points.push_back(random.V3(3));
    for (int i = 0; i < 20; ++i) {
        D4 clip = Times(D(points[i], 1), combined);
        double x = 10 + (1 + clip[0] / clip[3]) * 320, y = 20 + (1 - clip[1] / clip[3]) * 240;
        double z = 0.25 + clip[2] / clip[3] * 0.5;
        Vector3 out;
        QM_IMPL(Vec3Project)(&out, &points[i], &viewport, &projection, &view, &world);
        QM_EXPECT_CLOSE(out.x, x, 100);
        QM_EXPECT_CLOSE(out.y, y, 100);
        QM_EXPECT_CLOSE(out.z, z, 1);
        Vector3 round;
        ASSERT_NE(QM_IMPL(Vec3Unproject)(&round, &out, &viewport, &projection, &view, &world), nullptr);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR((&round.x)[k], (&points[i].x)[k], 2e-3);
    }
    QM_IMPL(Vec3ProjectArray)(projected.data(), sizeof(Vector3), points.data(), sizeof(Vector3), &viewport,
                              &projection, &view, &world, 20);
    ASSERT_NE(QM_IMPL(Vec3UnprojectArray)(back.data(), sizeof(Vector3), projected.data(), sizeof(Vector3), &viewport,
                                          &projection, &view, &world, 20),
              nullptr);
    for (int i = 0; i < 20; ++i) {
        Vector3 single;
        QM_IMPL(Vec3Project)(&single, &points[i], &viewport, &projection, &view, &world);
        EXPECT_NEAR(projected[i].x, single.x, 1e-3);
        EXPECT_NEAR(projected[i].z, single.z, 1e-6);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR((&back[i].x)[k], (&points[i].x)[k], 2e-3);
    }
    // Without matrices or viewport the point passes through unchanged; a singular matrix unprojects to null.
    Vector3 p(1, 2, 3), out;
    QM_IMPL(Vec3Project)(&out, &p, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(out.x, 1.0f);
    EXPECT_EQ(out.z, 3.0f);
    Matrix flat;
    QM_IMPL(MatrixScaling)(&flat, 1, 1, 0);
    EXPECT_EQ(QM_IMPL(Vec3Unproject)(&out, &p, &viewport, &flat, nullptr, nullptr), nullptr);
}

TEST_P(Operations, CrossOfThreeFourVectorsIsTheCofactorRow) {
    for (int trial = 0; trial < 100; ++trial) {
        Vector4 v1 = random.V4(2), v2 = random.V4(2), v3 = random.V4(2), out;
        QM_IMPL(Vec4Cross)(&out, &v1, &v2, &v3);
        // det of rows (e, v1, v2, v3) expanded along e: component i is the cofactor of (0, i).
        for (int i = 0; i < 4; ++i) {
            DM m{};
            m[0][i] = 1.0;
            m[1] = D(v1);
            m[2] = D(v2);
            m[3] = D(v3);
            double det;
            Inverse(m, &det);
            QM_EXPECT_CLOSE((&out.x)[i], det, 50);
        }
        EXPECT_NEAR(Vec4Dot(&out, &v1), 0.0, 1e-3);
        EXPECT_NEAR(Vec4Dot(&out, &v3), 0.0, 1e-3);
    }
}

TEST_P(Operations, SplinesAndBarycentricCombinations) {
    for (int trial = 0; trial < 50; ++trial) {
        float s = random.Uniform(-0.5f, 1.5f), f = random.Uniform(-1, 1), g = random.Uniform(-1, 1);
        Vector4 a = random.V4(), b = random.V4(), c = random.V4(), d = random.V4(), o4;
        Vector3 a3(a.x, a.y, a.z), b3(b.x, b.y, b.z), c3(c.x, c.y, c.z), d3(d.x, d.y, d.z), o3;
        Vector2 a2{a.x, a.y}, b2{b.x, b.y}, c2{c.x, c.y}, d2{d.x, d.y}, o2;
        // The 4-, 3- and 2-vector forms against one double weighting of the four inputs.
        auto expectWeighted = [&](double wa, double wb, double wc, double wd) {
            const float* outputs[] = {&o4.x, &o3.x, &o2.x};
            for (int form = 0; form < 3; ++form)
                for (int i = 0; i < 4 - form; ++i)
                    QM_EXPECT_CLOSE(outputs[form][i], wa * (&a.x)[i] + wb * (&b.x)[i] + wc * (&c.x)[i] + wd * (&d.x)[i],
                                    100);
        };
        double s2 = double(s) * s, s3 = s2 * s;
        QM_IMPL(Vec4Hermite)(&o4, &a, &b, &c, &d, s);
        QM_IMPL(Vec3Hermite)(&o3, &a3, &b3, &c3, &d3, s);
        QM_IMPL(Vec2Hermite)(&o2, &a2, &b2, &c2, &d2, s);
        expectWeighted(2 * s3 - 3 * s2 + 1, s3 - 2 * s2 + s, -2 * s3 + 3 * s2, s3 - s2);
        QM_IMPL(Vec4CatmullRom)(&o4, &a, &b, &c, &d, s);
        QM_IMPL(Vec3CatmullRom)(&o3, &a3, &b3, &c3, &d3, s);
        QM_IMPL(Vec2CatmullRom)(&o2, &a2, &b2, &c2, &d2, s);
        expectWeighted(0.5 * (-s3 + 2 * s2 - s), 0.5 * (3 * s3 - 5 * s2 + 2), 0.5 * (-3 * s3 + 4 * s2 + s),
                       0.5 * (s3 - s2));
        QM_IMPL(Vec4BaryCentric)(&o4, &a, &b, &c, f, g);
        QM_IMPL(Vec3BaryCentric)(&o3, &a3, &b3, &c3, f, g);
        QM_IMPL(Vec2BaryCentric)(&o2, &a2, &b2, &c2, f, g);
        expectWeighted(1.0 - f - g, f, g, 0.0);
    }
    // Catmull-Rom passes through p1 and p2 with the tangent (p2 − p0)/2 at p1.
    Vector2 p0{0, 0}, p1{1, 2}, p2{3, 3}, p3{6, 1}, at0, at1, nearby;
    QM_IMPL(Vec2CatmullRom)(&at0, &p0, &p1, &p2, &p3, 0.0f);
    QM_IMPL(Vec2CatmullRom)(&at1, &p0, &p1, &p2, &p3, 1.0f);
    QM_IMPL(Vec2CatmullRom)(&nearby, &p0, &p1, &p2, &p3, 1e-3f);
    EXPECT_FLOAT_EQ(at0.x, 1.0f);
    EXPECT_FLOAT_EQ(at1.y, 3.0f);
    EXPECT_NEAR((nearby.x - at0.x) / 1e-3, 1.5, 1e-2);
}

TEST_P(Operations, MatrixBuildersMatchTheirDefinitions) {
    for (int trial = 0; trial < 50; ++trial) {
        float angle = random.Uniform(-4, 4);
        Vector3 axis = random.V3(1), t = random.V3(), s = random.V3(2);
        D3 n = D(axis);
        double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        for (double& e : n) e /= length;
        Matrix m;
        ExpectMatrixNear(*QM_IMPL(MatrixRotationAxis)(&m, &axis, angle), AxisRotation(n, angle));
        ExpectMatrixNear(*QM_IMPL(MatrixRotationX)(&m, angle), AxisRotation({1, 0, 0}, angle));
        ExpectMatrixNear(*QM_IMPL(MatrixRotationY)(&m, angle), AxisRotation({0, 1, 0}, angle));
        ExpectMatrixNear(*QM_IMPL(MatrixRotationZ)(&m, angle), AxisRotation({0, 0, 1}, angle));
        ExpectMatrixNear(*QM_IMPL(MatrixTranslation)(&m, t.x, t.y, t.z), Translation(t.x, t.y, t.z));
        DM scaling = Identity();
        scaling[0][0] = s.x, scaling[1][1] = s.y, scaling[2][2] = s.z;
        ExpectMatrixNear(*QM_IMPL(MatrixScaling)(&m, s.x, s.y, s.z), scaling);

        float yaw = random.Uniform(-3, 3), pitch = random.Uniform(-3, 3), roll = random.Uniform(-3, 3);
        DM ypr = Mul(Mul(AxisRotation({0, 0, 1}, roll), AxisRotation({1, 0, 0}, pitch)), AxisRotation({0, 1, 0}, yaw));
        ExpectMatrixNear(*QM_IMPL(MatrixRotationYawPitchRoll)(&m, yaw, pitch, roll), ypr);

        Matrix source = random.M();
        Matrix transposed = source;
        QM_IMPL(MatrixTranspose)(&transposed, &transposed);
        ExpectMatrixNear(transposed, Transposed(ToD(source)));

        Quaternion q = random.UnitQ();
        ExpectMatrixNear(*QM_IMPL(MatrixRotationQuaternion)(&m, &q), QuaternionMatrix(ToD(q)));

        // Composed transformations, step by step in double.
        Vector3 sc = random.V3(), rc = random.V3();
        Quaternion sr = random.UnitQ(), r = random.UnitQ();
        DM srm = QuaternionMatrix(ToD(sr));
        DM expected = Mul(Mul(Mul(Mul(Translation(-sc.x, -sc.y, -sc.z), Transposed(srm)), scaling), srm),
                          Translation(sc.x, sc.y, sc.z));
        expected = Mul(Mul(Mul(Mul(expected, Translation(-rc.x, -rc.y, -rc.z)), QuaternionMatrix(ToD(r))),
                           Translation(rc.x, rc.y, rc.z)),
                       Translation(t.x, t.y, t.z));
        ExpectMatrixNear(*QM_IMPL(MatrixTransformation)(&m, &sc, &sr, &s, &rc, &r, &t), expected, 50);
        ExpectMatrixNear(*QM_IMPL(MatrixTransformation)(&m, nullptr, nullptr, nullptr, nullptr, nullptr, &t),
                         Translation(t.x, t.y, t.z));
        DM uniform = Identity();
        uniform[0][0] = uniform[1][1] = uniform[2][2] = s.x;
        expected = Mul(Mul(Mul(Mul(uniform, Translation(-rc.x, -rc.y, -rc.z)), QuaternionMatrix(ToD(r))),
                           Translation(rc.x, rc.y, rc.z)),
                       Translation(t.x, t.y, t.z));
        ExpectMatrixNear(*QM_IMPL(MatrixAffineTransformation)(&m, s.x, &rc, &r, &t), expected, 50);
    }
}

TEST_P(Operations, ShadowAndReflectionMovePointsOntoAndAcrossThePlane) {
    for (int trial = 0; trial < 50; ++trial) {
        Vector3 normal = random.V3(1), onPlane = random.V3(2);
        Plane plane;
        PlaneFromPointNormal(&plane, &onPlane, &normal);
        plane = Plane{plane.a * 3, plane.b * 3, plane.c * 3, plane.d * 3};  // not normalised on purpose
        double nl = std::sqrt(double(plane.a) * plane.a + double(plane.b) * plane.b + double(plane.c) * plane.c);
        if (nl < 0.5) continue;
        D4 unit{plane.a / nl, plane.b / nl, plane.c / nl, plane.d / nl};
        Vector3 p = random.V3(5);
        double distance = unit[0] * p.x + unit[1] * p.y + unit[2] * p.z + unit[3];

        Matrix reflect;
        QM_IMPL(MatrixReflect)(&reflect, &plane);
        D4 image = Times(D(p, 1), ToD(reflect));
        for (int i = 0; i < 3; ++i) QM_EXPECT_CLOSE(image[i], (&p.x)[i] - 2 * distance * unit[i], 50);
        QM_EXPECT_CLOSE(image[3], 1.0, 1);

        // A point light: the shadow of p lies on the plane, on the line from the light through p.
        Vector4 light = random.V4(3);
        light.w = 1.0f;
        Matrix shadow;
        QM_IMPL(MatrixShadow)(&shadow, &light, &plane);
        double dot = unit[0] * light.x + unit[1] * light.y + unit[2] * light.z + unit[3];
        DM expected;
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j) expected[i][j] = (i == j ? dot : 0.0) - unit[i] * D(light)[j];
        ExpectMatrixNear(shadow, expected, 50);
        D4 flat = Times(D(p, 1), ToD(shadow));
        if (std::fabs(flat[3]) < 0.1) continue;
        D3 s{flat[0] / flat[3], flat[1] / flat[3], flat[2] / flat[3]};
        EXPECT_NEAR(unit[0] * s[0] + unit[1] * s[1] + unit[2] * s[2] + unit[3], 0.0, 1e-2);
        D3 toP{p.x - light.x, p.y - light.y, p.z - light.z}, toS{s[0] - light.x, s[1] - light.y, s[2] - light.z};
        D3 cross{toP[1] * toS[2] - toP[2] * toS[1], toP[2] * toS[0] - toP[0] * toS[2], toP[0] * toS[1] - toP[1] * toS[0]};
        double scale = std::sqrt(toS[0] * toS[0] + toS[1] * toS[1] + toS[2] * toS[2]) + 1;
        for (double e : cross) EXPECT_NEAR(e / scale, 0.0, 1e-2);
    }
}

TEST_P(Operations, QuaternionProductsRotationsAndConversions) {
    for (int trial = 0; trial < 100; ++trial) {
        Quaternion q1 = random.UnitQ(), q2 = random.UnitQ(), product;
        QM_IMPL(QuaternionMultiply)(&product, &q1, &q2);
        // The rotation q1 followed by q2.
        D3 v{0.3, -1.2, 2.0};
        D3 twice = Rotate(ToD(q2), Rotate(ToD(q1), v));
        D3 once = Rotate(ToD(product), v);
        for (int i = 0; i < 3; ++i) QM_EXPECT_CLOSE(once[i], twice[i], 3);

        Quaternion scaledQ{q1.x * 2, q1.y * 2, q1.z * 2, q1.w * 2}, inverse;
        QM_IMPL(QuaternionInverse)(&inverse, &scaledQ);
        DQ identity = Hamilton(ToD(inverse), ToD(scaledQ));
        QM_EXPECT_CLOSE(identity.w, 1.0, 1);
        QM_EXPECT_CLOSE(identity.x, 0.0, 1);
        QM_EXPECT_CLOSE(inverse.w, q1.w / 2.0, 1);

        // Matrix <-> quaternion, axis and angle, yaw/pitch/roll.
        Matrix rotation;
        MatrixRotationQuaternion(&rotation, &q1);
        Quaternion back;
        QM_IMPL(QuaternionRotationMatrix)(&back, &rotation);
        ExpectSameRotation(back, ToD(q1));

        Vector3 axis = random.V3(1);
        float angle = random.Uniform(-3, 3);
        D3 n = D(axis);
        double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        Quaternion fromAxis;
        QM_IMPL(QuaternionRotationAxis)(&fromAxis, &axis, angle);
        double s = std::sin(angle / 2.0) / length;
        ExpectSameRotation(fromAxis, DQ{n[0] * s, n[1] * s, n[2] * s, std::cos(angle / 2.0)});
        Vector3 axisOut;
        float angleOut = 0;
        QM_IMPL(QuaternionToAxisAngle)(&fromAxis, &axisOut, &angleOut);
        EXPECT_EQ(axisOut.x, fromAxis.x);
        QM_EXPECT_CLOSE(angleOut, 2 * std::acos(double(fromAxis.w)), 10);
        QM_IMPL(QuaternionToAxisAngle)(&fromAxis, nullptr, nullptr);

        float yaw = random.Uniform(-3, 3), pitch = random.Uniform(-3, 3), roll = random.Uniform(-3, 3);
        Quaternion ypr;
        QM_IMPL(QuaternionRotationYawPitchRoll)(&ypr, yaw, pitch, roll);
        DQ expected = Hamilton(Hamilton(DQ{0, std::sin(yaw / 2.0), 0, std::cos(yaw / 2.0)},
                                        DQ{std::sin(pitch / 2.0), 0, 0, std::cos(pitch / 2.0)}),
                               DQ{0, 0, std::sin(roll / 2.0), std::cos(roll / 2.0)});
        QM_EXPECT_CLOSE(ypr.x, expected.x, 1);
        QM_EXPECT_CLOSE(ypr.y, expected.y, 1);
        QM_EXPECT_CLOSE(ypr.z, expected.z, 1);
        QM_EXPECT_CLOSE(ypr.w, expected.w, 1);
    }
    // The trace method's other branches: rotations by nearly a half turn about each axis.
    for (D3 n : {D3{1, 0, 0}, D3{0, 1, 0}, D3{0, 0, 1}, D3{0.6, 0, 0.8}}) {
        DQ q{n[0] * std::sin(1.5), n[1] * std::sin(1.5), n[2] * std::sin(1.5), std::cos(1.5)};
        DM dm = QuaternionMatrix(q);
        Matrix m;
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j) m.m[i][j] = static_cast<float>(dm[i][j]);
        Quaternion back;
        QM_IMPL(QuaternionRotationMatrix)(&back, &m);
        ExpectSameRotation(back, q);
    }
}

TEST_P(Operations, SphericalInterpolation) {
    auto slerp = [](DQ a, DQ b, double t) {
        double cosine = a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
        if (cosine < 0) cosine = -cosine, b = DQ{-b.x, -b.y, -b.z, -b.w};
        double theta = std::acos(std::min(cosine, 1.0));
        double wa = std::sin((1 - t) * theta) / std::sin(theta), wb = std::sin(t * theta) / std::sin(theta);
        return DQ{wa * a.x + wb * b.x, wa * a.y + wb * b.y, wa * a.z + wb * b.z, wa * a.w + wb * b.w};
    };
    for (int trial = 0; trial < 100; ++trial) {
        Quaternion a = random.UnitQ(), b = random.UnitQ(), c = random.UnitQ(), d = random.UnitQ(), out;
        float t = random.Uniform(0, 1), f = random.Uniform(0, 1), g = random.Uniform(0, 1);
        QM_IMPL(QuaternionSlerp)(&out, &a, &b, t);
        DQ e = slerp(ToD(a), ToD(b), t);
        QM_EXPECT_CLOSE(out.x, e.x, 10);
        QM_EXPECT_CLOSE(out.w, e.w, 10);
        QM_IMPL(QuaternionBaryCentric)(&out, &a, &b, &c, f, g);
        e = slerp(slerp(ToD(a), ToD(b), f + g), slerp(ToD(a), ToD(c), f + g), g / (f + g));
        QM_EXPECT_CLOSE(out.y, e.y, 10);
        QM_EXPECT_CLOSE(out.z, e.z, 10);
        QM_IMPL(QuaternionSquad)(&out, &a, &b, &c, &d, t);
        e = slerp(slerp(ToD(a), ToD(d), t), slerp(ToD(b), ToD(c), t), 2 * t * (1 - t));
        QM_EXPECT_CLOSE(out.x, e.x, 10);
        QM_EXPECT_CLOSE(out.w, e.w, 10);
    }
    // Shorter arc, and linear blending of (nearly) equal rotations.
    Quaternion a{0, 0, 0, 1}, minusA{0, 0, 0, -1}, out;
    QM_IMPL(QuaternionSlerp)(&out, &a, &minusA, 0.5f);
    EXPECT_FLOAT_EQ(out.w, 1.0f);
    Quaternion q{1, 2, 3, 4};
    QM_IMPL(QuaternionBaryCentric)(&out, &q, &a, &a, 0.0f, 0.0f);
    EXPECT_EQ(out.z, 3.0f);
}

TEST_P(Operations, SquadSetupGivesAContinuousDerivativeAcrossKeys) {
    Quaternion keys[5];
    Vector3 axes[5] = {{0, 1, 0}, {1, 1, 0}, {0, 0, 1}, {1, 0, 1}, {0, 1, 1}};
    float angles[5] = {0.2f, 1.0f, 2.1f, -0.5f, 1.4f};
    for (int i = 0; i < 5; ++i) QuaternionRotationAxis(&keys[i], &axes[i], angles[i]);
    keys[2] = Quaternion{-keys[2].x, -keys[2].y, -keys[2].z, -keys[2].w};  // a key on the far side
    Quaternion a1, b1, c1, a2, b2, c2;
    QM_IMPL(QuaternionSquadSetup)(&a1, &b1, &c1, &keys[0], &keys[1], &keys[2], &keys[3]);
    QM_IMPL(QuaternionSquadSetup)(&a2, &b2, &c2, &keys[1], &keys[2], &keys[3], &keys[4]);
    // Segment 1 runs from keys[1] to ±keys[2]; segment 2 starts there.
    Quaternion start, end;
    QM_IMPL(QuaternionSquad)(&start, &keys[1], &a1, &b1, &c1, 0.0f);
    QM_IMPL(QuaternionSquad)(&end, &keys[1], &a1, &b1, &c1, 1.0f);
    ExpectSameRotation(start, ToD(keys[1]));
    ExpectSameRotation(end, ToD(keys[2]));
    const float h = 1e-3f;
    Quaternion beforeKey, atKey, afterKey;
    QM_IMPL(QuaternionSquad)(&beforeKey, &keys[1], &a1, &b1, &c1, 1.0f - h);
    QM_IMPL(QuaternionSquad)(&atKey, &keys[2], &a2, &b2, &c2, 0.0f);
    QM_IMPL(QuaternionSquad)(&afterKey, &keys[2], &a2, &b2, &c2, h);
    // Compare the two one-sided derivatives in the same hemisphere.
    double sign = QuaternionDot(&beforeKey, &atKey) < 0 ? -1 : 1;
    double sign2 = QuaternionDot(&afterKey, &atKey) < 0 ? -1 : 1;
    for (int i = 0; i < 4; ++i) {
        double left = ((&atKey.x)[i] - sign * (&beforeKey.x)[i]) / h;
        double right = (sign2 * (&afterKey.x)[i] - (&atKey.x)[i]) / h;
        EXPECT_NEAR(left, right, 0.05) << "component " << i;
    }
}

TEST_P(Operations, LogarithmAndExponentialAreInverse) {
    for (int trial = 0; trial < 100; ++trial) {
        Quaternion q = random.UnitQ(), ln, back;
        QM_IMPL(QuaternionLn)(&ln, &q);
        double theta = std::acos(double(q.w));
        double scale = theta / std::sin(theta);
        QM_EXPECT_CLOSE(ln.x, q.x * scale, 10);
        EXPECT_EQ(ln.w, 0.0f);
        QM_IMPL(QuaternionExp)(&back, &ln);
        QM_EXPECT_CLOSE(back.x, q.x, 1);
        QM_EXPECT_CLOSE(back.w, q.w, 1);
    }
    Quaternion identity{0, 0, 0, 1}, out;
    QM_IMPL(QuaternionLn)(&out, &identity);
    EXPECT_EQ(out.x, 0.0f);
    Quaternion zero{0, 0, 0, 7};
    QM_IMPL(QuaternionExp)(&out, &zero);
    EXPECT_EQ(out.w, 1.0f);
}

TEST_P(Operations, ArrayTransformsHonourStridesAndLeaveGapsAlone) {
    constexpr UINT kCount = 37;
    constexpr UINT kStride = 28;  // elements with padding between them
    Matrix m = random.M();
    m._14 = m._24 = m._34 = 0.01f;
    m._44 = 2.0f;
    std::vector<BYTE> in(kCount * kStride), out(kCount * kStride + 4, 0xAB);
    for (UINT i = 0; i < kCount; ++i) {
        Vector4 v = random.V4();
        std::memcpy(&in[i * kStride], &v, sizeof v);
    }
    auto element = [&](std::vector<BYTE>& bytes, UINT i, std::size_t size) {
        std::vector<float> values(size / 4);
        std::memcpy(values.data(), &bytes[i * kStride], size);
        return values;
    };
    auto check = [&](const char* name, std::size_t outSize, auto single, auto inElement) {
        for (UINT i = 0; i < kCount; ++i) {
            std::vector<float> got = element(out, i, outSize);
            float expected[4];
            single(expected, inElement(i));
            for (std::size_t k = 0; k < outSize / 4; ++k) EXPECT_FLOAT_EQ(got[k], expected[k]) << name << " " << i;
            for (std::size_t k = outSize; k < kStride; ++k) ASSERT_EQ(out[i * kStride + k], 0xAB) << name;
        }
        std::fill(out.begin(), out.end(), BYTE{0xAB});
    };
    auto at2 = [&](UINT i) { return reinterpret_cast<const Vector2*>(&in[i * kStride]); };
    auto at3 = [&](UINT i) { return reinterpret_cast<const Vector3*>(&in[i * kStride]); };
    auto at4 = [&](UINT i) { return reinterpret_cast<const Vector4*>(&in[i * kStride]); };
    auto outAs = [&](auto* type) { return reinterpret_cast<decltype(type)>(out.data()); };

    QM_IMPL(Vec2TransformArray)(outAs((Vector4*)nullptr), kStride, at2(0), kStride, &m, kCount);
    check("Vec2TransformArray", 16, [&](float* e, const Vector2* v) { portable::Vec2Transform((Vector4*)e, v, &m); }, at2);
    QM_IMPL(Vec2TransformCoordArray)(outAs((Vector2*)nullptr), kStride, at2(0), kStride, &m, kCount);
    check("Vec2TransformCoordArray", 8, [&](float* e, const Vector2* v) { portable::Vec2TransformCoord((Vector2*)e, v, &m); }, at2);
    QM_IMPL(Vec2TransformNormalArray)(outAs((Vector2*)nullptr), kStride, at2(0), kStride, &m, kCount);
    check("Vec2TransformNormalArray", 8, [&](float* e, const Vector2* v) { portable::Vec2TransformNormal((Vector2*)e, v, &m); }, at2);
    QM_IMPL(Vec3TransformArray)(outAs((Vector4*)nullptr), kStride, at3(0), kStride, &m, kCount);
    check("Vec3TransformArray", 16, [&](float* e, const Vector3* v) { portable::Vec3Transform((Vector4*)e, v, &m); }, at3);
    QM_IMPL(Vec3TransformCoordArray)(outAs((Vector3*)nullptr), kStride, at3(0), kStride, &m, kCount);
    check("Vec3TransformCoordArray", 12, [&](float* e, const Vector3* v) { portable::Vec3TransformCoord((Vector3*)e, v, &m); }, at3);
    QM_IMPL(Vec3TransformNormalArray)(outAs((Vector3*)nullptr), kStride, at3(0), kStride, &m, kCount);
    check("Vec3TransformNormalArray", 12, [&](float* e, const Vector3* v) { portable::Vec3TransformNormal((Vector3*)e, v, &m); }, at3);
    QM_IMPL(Vec4TransformArray)(outAs((Vector4*)nullptr), kStride, at4(0), kStride, &m, kCount);
    check("Vec4TransformArray", 16, [&](float* e, const Vector4* v) { portable::Vec4Transform((Vector4*)e, v, &m); }, at4);
    QM_IMPL(PlaneTransformArray)(outAs((Plane*)nullptr), kStride, (const Plane*)at4(0), kStride, &m, kCount);
    check("PlaneTransformArray", 16, [&](float* e, const Vector4* v) { portable::PlaneTransform((Plane*)e, (const Plane*)v, &m); }, at4);

    float s = 0.3f;
    QM_IMPL(Vec3LerpArray)(outAs((Vector3*)nullptr), kStride, at3(0), kStride, at3(1), kStride, s, kCount - 1);
    for (UINT i = 0; i + 1 < kCount; ++i) {
        std::vector<float> got = element(out, i, 12);
        for (int k = 0; k < 3; ++k)
            QM_EXPECT_CLOSE(got[k], (&at3(i)->x)[k] + s * (double((&at3(i + 1)->x)[k]) - (&at3(i)->x)[k]), 10);
    }
}

TEST_P(Operations, SkinningBlendsBonesByTheirPackedWeights) {
    // Vertex: position, normal, texture coordinates, tangent (40 bytes).
    struct Vertex {
        float position[3], normal[3], uv[2], tangent[3];
    };
    const UINT directions[] = {offsetof(Vertex, normal), offsetof(Vertex, tangent)};
    std::vector<Matrix> bones(6), normals(6);
    for (int i = 0; i < 6; ++i) {
        bones[i] = random.M(1.0f);
        bones[i]._14 = bones[i]._24 = bones[i]._34 = 0.0f;
        bones[i]._44 = 1.0f;
        normals[i] = random.M(1.0f);
    }
    bones[4]._14 = 0.25f;  // a bone whose w is not 1: the position is divided by it
    // Vertex 0: bones 3 (0.25) and 5 (0.75); 1: bone 4 alone (weight 1); 2: none; 3: bone 9 (skipped) and 1.
    const std::vector<float> stream = {6.25f, 10.75f, -1.0f, 9.0f, -1.0f, -1.0f, 18.5f, 2.5f, -1.0f};
    std::vector<Vertex> source(4), destination(4);
    for (Vertex& v : source) {
        Vector3 p = random.V3(), n = random.V3(1), t = random.V3(1);
        std::memcpy(v.position, &p, 12), std::memcpy(v.normal, &n, 12), std::memcpy(v.tangent, &t, 12);
        v.uv[0] = 7, v.uv[1] = 8;
    }
    std::memset(destination.data(), 0x55, destination.size() * sizeof(Vertex));
    auto skin = QM_IMPL(SkinVertices);
    ASSERT_EQ(skin(destination.data(), sizeof(Vertex), source.data(), sizeof(Vertex), 0, 4, stream.data(), bones.data(),
                   normals.data(), 6, directions, 2),
              destination.data());

    struct Influence {
        int bone;
        double weight;
    };
    const std::vector<std::vector<Influence>> influences = {{{3, 0.25}, {5, 0.75}}, {{4, 1.0}}, {}, {{1, 0.5}}};
    for (int v = 0; v < 4; ++v) {
        D3 position{}, normal{}, tangent{};
        for (const Influence& in : influences[v]) {
            D4 p = Times(D4{source[v].position[0], source[v].position[1], source[v].position[2], 1}, ToD(bones[in.bone]));
            D4 n = Times(D4{source[v].normal[0], source[v].normal[1], source[v].normal[2], 0}, ToD(normals[in.bone]));
            D4 t = Times(D4{source[v].tangent[0], source[v].tangent[1], source[v].tangent[2], 0}, ToD(normals[in.bone]));
            for (int k = 0; k < 3; ++k) {
                position[k] += in.weight * p[k] / p[3];
                normal[k] += in.weight * n[k];
                tangent[k] += in.weight * t[k];
            }
        }
        for (int k = 0; k < 3; ++k) {
            QM_EXPECT_CLOSE(destination[v].position[k], position[k], 40);
            QM_EXPECT_CLOSE(destination[v].normal[k], normal[k], 10);
            QM_EXPECT_CLOSE(destination[v].tangent[k], tangent[k], 10);
        }
        EXPECT_EQ(Bits(destination[v].uv[0]), 0x55555555u);  // bytes outside the vectors are the caller's
    }

    // A range: only vertices 1..2 written, the stream given from vertex 1; no normal matrices means the
    // bone matrices move the directions; unaligned matrix arrays give the same result.
    std::vector<Vertex> ranged(4);
    std::memset(ranged.data(), 0, ranged.size() * sizeof(Vertex));
    std::vector<BYTE> shifted(6 * sizeof(Matrix) + 4);
    std::memcpy(shifted.data() + 4, bones.data(), 6 * sizeof(Matrix));
    skin(ranged.data(), sizeof(Vertex), source.data(), sizeof(Vertex), 1, 2, stream.data() + 3,
         reinterpret_cast<const Matrix*>(shifted.data() + 4), nullptr, 6, directions, 2);
    EXPECT_EQ(ranged[0].position[0], 0.0f);
    EXPECT_EQ(ranged[3].position[0], 0.0f);
    EXPECT_EQ(ranged[1].position[1], destination[1].position[1]);
    D4 n = Times(D4{source[1].normal[0], source[1].normal[1], source[1].normal[2], 0}, ToD(bones[4]));
    QM_EXPECT_CLOSE(ranged[1].normal[2], n[2], 10);
    EXPECT_EQ(ranged[2].normal[0], 0.0f);
}

INSTANTIATE_TEST_SUITE_P(Sets, Operations,
                         testing::Values(Under::Active, Under::Portable, Under::Alternative, Under::Sse2, Under::Sse),
                         UnderName);

}  // namespace
}  // namespace qm::test
