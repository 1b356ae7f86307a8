// math_slots.h: the library-internal slot list (slot number and operation, in table order) and the
// namespaces that hold each implementation set, declared with the operations' own function types.
#pragma once

#include "library/math/math.h"
#include "library/math/math_dispatch.h"

// Whether the SSE and SSE2 sets are built: x86 with the extensions enabled by the compiler, and not
// forced to portable code.
#if (defined(__x86_64__) || (defined(__i386__) && defined(__SSE2__))) && \
    !(defined(QM_FORCE_SCALAR) && QM_FORCE_SCALAR)
#define QM_MATH_VECTOR_SETS 1
#else
#define QM_MATH_VECTOR_SETS 0
#endif

// X(slot, Operation) for every slot, in table order.
#define QM_MATH_SLOTS(X)                   \
    X(0, Vec2Transform)                    \
    X(1, Vec3Transform)                    \
    X(2, Vec4Transform)                    \
    X(3, MatrixMultiply)                   \
    X(4, MatrixMultiplyTranspose)          \
    X(5, Vec2TransformNormal)              \
    X(6, Vec3TransformNormal)              \
    X(7, Vec3Normalize)                    \
    X(8, Vec4Normalize)                    \
    X(9, Vec2TransformCoord)               \
    X(10, Vec3TransformCoord)              \
    X(11, MatrixDeterminant)               \
    X(12, PlaneFromPointNormal)            \
    X(13, PlaneFromPoints)                 \
    X(14, Vec3Project)                     \
    X(15, Vec3Unproject)                   \
    X(16, Vec4Cross)                       \
    X(17, Vec2Hermite)                     \
    X(18, MatrixInverse)                   \
    X(19, QuaternionMultiply)              \
    X(20, QuaternionNormalize)             \
    X(21, PlaneNormalize)                  \
    X(22, PlaneIntersectLine)              \
    X(23, QuaternionToAxisAngle)           \
    X(24, QuaternionRotationMatrix)        \
    X(25, QuaternionRotationYawPitchRoll)  \
    X(26, MatrixTranslation)               \
    X(27, MatrixShadow)                    \
    X(28, MatrixReflect)                   \
    X(29, QuaternionRotationAxis)          \
    X(30, MatrixRotationX)                 \
    X(31, MatrixRotationY)                 \
    X(32, MatrixRotationZ)                 \
    X(33, MatrixScaling)                   \
    X(34, PlaneTransform)                  \
    X(35, QuaternionSlerp)                 \
    X(36, QuaternionBaryCentric)           \
    X(37, MatrixTranspose)                 \
    X(38, MatrixRotationQuaternion)        \
    X(39, MatrixTransformation)            \
    X(40, MatrixRotationYawPitchRoll)      \
    X(41, MatrixAffineTransformation)      \
    X(42, MatrixRotationAxis)              \
    X(43, QuaternionSquad)                 \
    X(44, QuaternionInverse)               \
    X(45, QuaternionSquadSetup)            \
    X(46, Vec2Normalize)                   \
    X(47, Vec2CatmullRom)                  \
    X(48, Vec2BaryCentric)                 \
    X(49, Vec3Hermite)                     \
    X(50, Vec3CatmullRom)                  \
    X(51, Vec3BaryCentric)                 \
    X(52, Vec4Hermite)                     \
    X(53, Vec4CatmullRom)                  \
    X(54, Vec4BaryCentric)                 \
    X(55, QuaternionLn)                    \
    X(56, QuaternionExp)                   \
    X(57, Float32To16Array)                \
    X(58, Float16To32Array)                \
    X(59, Vec2TransformArray)              \
    X(60, Vec2TransformCoordArray)         \
    X(61, Vec2TransformNormalArray)        \
    X(62, Vec3TransformCoordArray)         \
    X(63, Vec3TransformNormalArray)        \
    X(64, Vec4TransformArray)              \
    X(65, PlaneTransformArray)             \
    X(66, Vec3ProjectArray)                \
    X(67, Vec3UnprojectArray)              \
    X(68, Vec3TransformArray)              \
    X(69, SkinVertices)                    \
    X(70, Vec3LerpArray)

// The slots replaced by the alternative portable forms.
#define QM_MATH_ALTERNATIVE_SLOTS(X) \
    X(0, Vec2Transform)              \
    X(1, Vec3Transform)              \
    X(2, Vec4Transform)              \
    X(3, MatrixMultiply)             \
    X(4, MatrixMultiplyTranspose)    \
    X(5, Vec2TransformNormal)        \
    X(6, Vec3TransformNormal)        \
    X(7, Vec3Normalize)              \
    X(34, PlaneTransform)

// The vector slots whose SSE form serves both the SSE2 and the SSE sets.
#define QM_MATH_VECTOR_SHARED_SLOTS(X)     \
    X(0, Vec2Transform)                    \
    X(1, Vec3Transform)                    \
    X(2, Vec4Transform)                    \
    X(3, MatrixMultiply)                   \
    X(4, MatrixMultiplyTranspose)          \
    X(5, Vec2TransformNormal)              \
    X(6, Vec3TransformNormal)              \
    X(7, Vec3Normalize)                    \
    X(8, Vec4Normalize)                    \
    X(9, Vec2TransformCoord)               \
    X(10, Vec3TransformCoord)              \
    X(11, MatrixDeterminant)               \
    X(13, PlaneFromPoints)                 \
    X(24, QuaternionRotationMatrix)        \
    X(25, QuaternionRotationYawPitchRoll)  \
    X(27, MatrixShadow)                    \
    X(28, MatrixReflect)                   \
    X(34, PlaneTransform)                  \
    X(68, Vec3TransformArray)

// The SSE2 set: slots 0-11, 13, 24, 25, 27, 28, 34, 68, 69.
#define QM_MATH_SSE2_SLOTS(X) QM_MATH_VECTOR_SHARED_SLOTS(X) X(69, SkinVertices)
// The SSE set: the SSE2 slots plus slot 44.
#define QM_MATH_SSE_SLOTS(X) QM_MATH_VECTOR_SHARED_SLOTS(X) X(44, QuaternionInverse) X(69, SkinVertices)

#define QM_MATH_DECLARE_IMPLEMENTATION(slot, Operation) decltype(::qm::Operation) Operation;

// The portable table: every slot. Calls between implementations name their namespace, so they never
// reach the dispatching entries of namespace qm.
namespace qm::portable {
QM_MATH_SLOTS(QM_MATH_DECLARE_IMPLEMENTATION)
}  // namespace qm::portable

// The same operations written differently (unrolled, other operation order), same results within
// rounding.
namespace qm::alternative {
QM_MATH_ALTERNATIVE_SLOTS(QM_MATH_DECLARE_IMPLEMENTATION)
}  // namespace qm::alternative

#if QM_MATH_VECTOR_SETS
// The SSE set, written with SSE (single-precision vector) instructions only.
namespace qm::sse {
QM_MATH_SSE_SLOTS(QM_MATH_DECLARE_IMPLEMENTATION)
}  // namespace qm::sse

// The SSE2 set: the shared SSE forms, and a skinning kernel that converts its packed bone indices
// with SSE2 integer instructions.
namespace qm::sse2 {
#define QM_MATH_USE_SSE_FORM(slot, Operation) using ::qm::sse::Operation;
QM_MATH_VECTOR_SHARED_SLOTS(QM_MATH_USE_SSE_FORM)
#undef QM_MATH_USE_SSE_FORM
QM_MATH_DECLARE_IMPLEMENTATION(69, SkinVertices)
}  // namespace qm::sse2
#endif
