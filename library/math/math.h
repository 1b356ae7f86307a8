// math.h: the math library's operations. Each is a fixed entry that jumps through its slot of the
// active table (see math_dispatch.h), so the processor-specific implementation chosen at first use runs.
//
// Conventions of every operation here:
// - The first argument is the output and the operation returns it, so calls can be nested
//   (exceptions: MatrixDeterminant returns the float, QuaternionToAxisAngle returns nothing,
//   PlaneIntersectLine returns null when there is no point, MatrixInverse and Vec3Unproject return
//   null when the matrix has no inverse).
// - Output may alias any input.
// - Pointers must be valid unless a comment calls them optional.
// - Matrices are row-major and used with row vectors (p × M); MatrixMultiply(out, a, b) applies a
//   first. Coordinates are left-handed; positive angles turn clockwise looking along the axis
//   toward the origin.
// - "Normalise" means: with L the squared length, when L is near 1 (within 1.1920929e-7) the input
//   is returned unchanged; when L < 1.1754944e-38 the result is the zero vector; otherwise every
//   component is multiplied by 1/sqrt(L).
// - "Coordinate" transforms compute x, y, (z,) w of p × M and multiply x, y (, z) by 1/w unless w is
//   near 1, in which case they are left undivided.
// - All implementations of a slot agree within single-precision rounding.
#pragma once

#include "library/math/math_types.h"

namespace qm {

// Slot 0: (x, y, 0, 1) × m.
Vector4* Vec2Transform(Vector4* out, const Vector2* v, const Matrix* m);
// Slot 1: (x, y, z, 1) × m.
Vector4* Vec3Transform(Vector4* out, const Vector3* v, const Matrix* m);
// Slot 2: v × m.
Vector4* Vec4Transform(Vector4* out, const Vector4* v, const Matrix* m);
// Slot 3: a × b (a applied first).
Matrix* MatrixMultiply(Matrix* out, const Matrix* a, const Matrix* b);
// Slot 4: transpose(a × b).
Matrix* MatrixMultiplyTranspose(Matrix* out, const Matrix* a, const Matrix* b);
// Slot 5: (x, y, 0, 0) × m, first two components.
Vector2* Vec2TransformNormal(Vector2* out, const Vector2* v, const Matrix* m);
// Slot 6: (x, y, z, 0) × m, first three components.
Vector3* Vec3TransformNormal(Vector3* out, const Vector3* v, const Matrix* m);
// Slot 7: normalise.
Vector3* Vec3Normalize(Vector3* out, const Vector3* v);
// Slot 8: normalise (all four components).
Vector4* Vec4Normalize(Vector4* out, const Vector4* v);
// Slot 9: (x, y, 0, 1) × m as a coordinate transform.
Vector2* Vec2TransformCoord(Vector2* out, const Vector2* v, const Matrix* m);
// Slot 10: (x, y, z, 1) × m as a coordinate transform.
Vector3* Vec3TransformCoord(Vector3* out, const Vector3* v, const Matrix* m);
// Slot 11: the determinant of m.
float MatrixDeterminant(const Matrix* m);
// Slot 12: (n.x, n.y, n.z, −(point·n)).
Plane* PlaneFromPointNormal(Plane* out, const Vector3* point, const Vector3* normal);
// Slot 13: the plane through three points; its normal is the normalised (p2 − p1) × (p3 − p1).
Plane* PlaneFromPoints(Plane* out, const Vector3* p1, const Vector3* p2, const Vector3* p3);
// Slot 14: v × world × view × projection as a coordinate transform, then mapped into the viewport:
// x' = X + (1 + x)·Width/2, y' = Y + (1 − y)·Height/2, z' = MinZ + z·(MaxZ − MinZ). Every matrix is
// optional (absent = identity); without a viewport the result stays in normalised device coordinates.
Vector3* Vec3Project(Vector3* out, const Vector3* v, const D3DVIEWPORT9* viewport, const Matrix* projection,
                     const Matrix* view, const Matrix* world);
// Slot 15: the inverse of Vec3Project. Returns null, writing nothing, when world × view × projection
// has no inverse.
Vector3* Vec3Unproject(Vector3* out, const Vector3* v, const D3DVIEWPORT9* viewport, const Matrix* projection,
                       const Matrix* view, const Matrix* world);
// Slot 16: the 4-vector orthogonal to v1, v2, v3: the cofactors of the first row of the 4×4
// determinant whose rows are (e1, e2, e3, e4), v1, v2, v3.
Vector4* Vec4Cross(Vector4* out, const Vector4* v1, const Vector4* v2, const Vector4* v3);
// Slot 17: Hermite spline: (2s³ − 3s² + 1)·p1 + (s³ − 2s² + s)·t1 + (−2s³ + 3s²)·p2 + (s³ − s²)·t2.
Vector2* Vec2Hermite(Vector2* out, const Vector2* p1, const Vector2* t1, const Vector2* p2, const Vector2* t2,
                     float s);
// Slot 18: the inverse of m. The determinant is stored through the optional `determinant` in any case.
// Returns null, leaving out unchanged, when the determinant is 0 or not finite.
Matrix* MatrixInverse(Matrix* out, float* determinant, const Matrix* m);
// Slot 19: the rotation q1 followed by q2 (the Hamilton product q2·q1).
Quaternion* QuaternionMultiply(Quaternion* out, const Quaternion* q1, const Quaternion* q2);
// Slot 20: normalise.
Quaternion* QuaternionNormalize(Quaternion* out, const Quaternion* q);
// Slot 21: all four components divided by the length of (a, b, c); a zero normal gives (0, 0, 0, 0).
Plane* PlaneNormalize(Plane* out, const Plane* p);
// Slot 22: the intersection of the plane with the line through p1 and p2. Returns null, writing
// nothing, when the line is parallel to the plane or the parameter along it is not finite.
Vector3* PlaneIntersectLine(Vector3* out, const Plane* plane, const Vector3* p1, const Vector3* p2);
// Slot 23: axis = (x, y, z) copied, angle = 2·acos(w). Either output is optional.
void QuaternionToAxisAngle(const Quaternion* q, Vector3* axis, float* angle);
// Slot 24: the quaternion of the rotation part of m (the upper 3×3, expected orthonormal).
Quaternion* QuaternionRotationMatrix(Quaternion* out, const Matrix* m);
// Slot 25: roll about z, then pitch about x, then yaw about y (angles in radians, halved inside).
Quaternion* QuaternionRotationYawPitchRoll(Quaternion* out, float yaw, float pitch, float roll);
// Slot 26: translation by (x, y, z).
Matrix* MatrixTranslation(Matrix* out, float x, float y, float z);
// Slot 27: flattens geometry onto the plane as seen from the light (w = 0: a direction toward the
// light; w = 1: a point light). The plane is normalised first; out = (P·L)·I − P ⊗ L, with P the
// normalised plane as a column and L the light as a row.
Matrix* MatrixShadow(Matrix* out, const Vector4* light, const Plane* plane);
// Slot 28: reflection about the plane (normalised first).
Matrix* MatrixReflect(Matrix* out, const Plane* plane);
// Slot 29: rotation by angle about the axis (normalised first).
Quaternion* QuaternionRotationAxis(Quaternion* out, const Vector3* axis, float angle);
// Slots 30, 31, 32: rotation about the x, y, z axis.
Matrix* MatrixRotationX(Matrix* out, float angle);
Matrix* MatrixRotationY(Matrix* out, float angle);
Matrix* MatrixRotationZ(Matrix* out, float angle);
// Slot 33: scaling by (x, y, z).
Matrix* MatrixScaling(Matrix* out, float x, float y, float z);
// Slot 34: (a, b, c, d) × m; to move a plane by a transform, pass the inverse transpose of it.
Plane* PlaneTransform(Plane* out, const Plane* p, const Matrix* m);
// Slot 35: spherical linear interpolation from q1 (t = 0) to q2 (t = 1) along the shorter arc
// (q2 is negated when q1·q2 < 0); linear when the two are within 0.001 of parallel.
Quaternion* QuaternionSlerp(Quaternion* out, const Quaternion* q1, const Quaternion* q2, float t);
// Slot 36: Slerp(Slerp(q1, q2, f + g), Slerp(q1, q3, f + g), g / (f + g)); q1 when f + g is 0.
Quaternion* QuaternionBaryCentric(Quaternion* out, const Quaternion* q1, const Quaternion* q2,
                                  const Quaternion* q3, float f, float g);
// Slot 37: transpose.
Matrix* MatrixTranspose(Matrix* out, const Matrix* m);
// Slot 38: the rotation matrix of q (q expected unit length; it is not normalised).
Matrix* MatrixRotationQuaternion(Matrix* out, const Quaternion* q);
// Slot 39: Sc⁻¹ × Sr⁻¹ × S × Sr × Sc × Rc⁻¹ × R × Rc × T, with Sc the translation to the scaling
// centre, Sr the scaling rotation, S the scaling, Rc the translation to the rotation centre, R the
// rotation and T the translation. Every argument after out is optional (absent = no such step).
Matrix* MatrixTransformation(Matrix* out, const Vector3* scalingCenter, const Quaternion* scalingRotation,
                             const Vector3* scaling, const Vector3* rotationCenter, const Quaternion* rotation,
                             const Vector3* translation);
// Slot 40: MatrixRotationZ(roll) × MatrixRotationX(pitch) × MatrixRotationY(yaw).
Matrix* MatrixRotationYawPitchRoll(Matrix* out, float yaw, float pitch, float roll);
// Slot 41: S × Rc⁻¹ × R × Rc × T with a uniform scaling; rotation centre, rotation and translation
// are optional.
Matrix* MatrixAffineTransformation(Matrix* out, float scaling, const Vector3* rotationCenter,
                                   const Quaternion* rotation, const Vector3* translation);
// Slot 42: rotation by angle about the axis (normalised first).
Matrix* MatrixRotationAxis(Matrix* out, const Vector3* axis, float angle);
// Slot 43: Slerp(Slerp(q1, c, t), Slerp(a, b, t), 2t(1 − t)): the segment from key q1 to key c with
// the inner control points a and b of QuaternionSquadSetup.
Quaternion* QuaternionSquad(Quaternion* out, const Quaternion* q1, const Quaternion* a, const Quaternion* b,
                            const Quaternion* c, float t);
// Slot 44: with L the squared norm: (0, 0, 0, 0) when L < 2^-63, else the conjugate
// (−x, −y, −z, w), divided by L unless L is near 1.
Quaternion* QuaternionInverse(Quaternion* out, const Quaternion* q);
// Slot 45: the control points for the squad segment between keys q1 and q2 of the key sequence
// q0, q1, q2, q3. Each key is first negated when it lies on the far side of its predecessor
// (q0 against q1, q2 against q1, q3 against the adjusted q2). Then, with "×" QuaternionMultiply
// (rotation order), inv QuaternionInverse, ln and exp QuaternionLn and QuaternionExp:
//   aOut = q1 × exp(−(ln(inv(q1) × q2) + ln(inv(q1) × q0)) / 4)
//   bOut = q2 × exp(−(ln(inv(q2) × q3) + ln(inv(q2) × q1)) / 4)
//   cOut = q2
// so that QuaternionSquad(out, q1, aOut, bOut, cOut, t) runs from q1 to q2 with a continuous first
// derivative across keys.
void QuaternionSquadSetup(Quaternion* aOut, Quaternion* bOut, Quaternion* cOut, const Quaternion* q0,
                          const Quaternion* q1, const Quaternion* q2, const Quaternion* q3);
// Slot 46: normalise.
Vector2* Vec2Normalize(Vector2* out, const Vector2* v);
// Slot 47: Catmull-Rom spline through p1 (s = 0) and p2 (s = 1):
// 0.5·((−s³ + 2s² − s)·p0 + (3s³ − 5s² + 2)·p1 + (−3s³ + 4s² + s)·p2 + (s³ − s²)·p3).
Vector2* Vec2CatmullRom(Vector2* out, const Vector2* p0, const Vector2* p1, const Vector2* p2, const Vector2* p3,
                        float s);
// Slot 48: p1 + f·(p2 − p1) + g·(p3 − p1).
Vector2* Vec2BaryCentric(Vector2* out, const Vector2* p1, const Vector2* p2, const Vector2* p3, float f, float g);
// Slots 49, 50, 51: as slots 17, 47, 48 for 3-vectors.
Vector3* Vec3Hermite(Vector3* out, const Vector3* p1, const Vector3* t1, const Vector3* p2, const Vector3* t2,
                     float s);
Vector3* Vec3CatmullRom(Vector3* out, const Vector3* p0, const Vector3* p1, const Vector3* p2, const Vector3* p3,
                        float s);
Vector3* Vec3BaryCentric(Vector3* out, const Vector3* p1, const Vector3* p2, const Vector3* p3, float f, float g);
// Slots 52, 53, 54: as slots 17, 47, 48 for 4-vectors.
Vector4* Vec4Hermite(Vector4* out, const Vector4* p1, const Vector4* t1, const Vector4* p2, const Vector4* t2,
                     float s);
Vector4* Vec4CatmullRom(Vector4* out, const Vector4* p0, const Vector4* p1, const Vector4* p2, const Vector4* p3,
                        float s);
Vector4* Vec4BaryCentric(Vector4* out, const Vector4* p1, const Vector4* p2, const Vector4* p3, float f, float g);
// Slot 55: the logarithm of a unit quaternion: (θ/sin θ)·(x, y, z) with θ = acos(w), and w = 0;
// (x, y, z, 0) when w is ±1 or beyond, or sin θ is 0.
Quaternion* QuaternionLn(Quaternion* out, const Quaternion* q);
// Slot 56: the exponential of a pure quaternion (w ignored): (sin θ/θ)·(x, y, z) and w = cos θ, with
// θ the length of (x, y, z); (x, y, z, 1) when θ is 0.
Quaternion* QuaternionExp(Quaternion* out, const Quaternion* q);

// Slots 57, 58: 16-bit floats (1 sign, 5 exponent bits with bias 15, 10 mantissa bits) without
// infinities or NaNs: exponent 31 is ordinary, so the largest magnitude is 131008. From 32 bits,
// magnitudes from 131008 up (infinities and NaNs included) saturate to 0x7FFF with the sign; others
// round to nearest even on the bits that remain after the shift. count elements; out may be in.
WORD* Float32To16Array(WORD* out, const float* in, UINT count);
float* Float16To32Array(float* out, const WORD* in, UINT count);

// Array forms of the transforms: count elements, the i-th read at in + i·inStride bytes and written at
// out + i·outStride bytes. out may equal in when the strides are equal and the element written is
// no larger than the element read.
// Slot 59: as slot 0.
Vector4* Vec2TransformArray(Vector4* out, UINT outStride, const Vector2* in, UINT inStride, const Matrix* m,
                            UINT count);
// Slot 60: as slot 9.
Vector2* Vec2TransformCoordArray(Vector2* out, UINT outStride, const Vector2* in, UINT inStride, const Matrix* m,
                                 UINT count);
// Slot 61: as slot 5.
Vector2* Vec2TransformNormalArray(Vector2* out, UINT outStride, const Vector2* in, UINT inStride, const Matrix* m,
                                  UINT count);
// Slot 62: as slot 10.
Vector3* Vec3TransformCoordArray(Vector3* out, UINT outStride, const Vector3* in, UINT inStride, const Matrix* m,
                                 UINT count);
// Slot 63: as slot 6.
Vector3* Vec3TransformNormalArray(Vector3* out, UINT outStride, const Vector3* in, UINT inStride, const Matrix* m,
                                  UINT count);
// Slot 64: as slot 2.
Vector4* Vec4TransformArray(Vector4* out, UINT outStride, const Vector4* in, UINT inStride, const Matrix* m,
                            UINT count);
// Slot 65: as slot 34.
Plane* PlaneTransformArray(Plane* out, UINT outStride, const Plane* in, UINT inStride, const Matrix* m, UINT count);
// Slot 66: as slot 14, the combined matrix built once.
Vector3* Vec3ProjectArray(Vector3* out, UINT outStride, const Vector3* in, UINT inStride,
                          const D3DVIEWPORT9* viewport, const Matrix* projection, const Matrix* view,
                          const Matrix* world, UINT count);
// Slot 67: as slot 15, the inverse built once; null, writing nothing, when it does not exist.
Vector3* Vec3UnprojectArray(Vector3* out, UINT outStride, const Vector3* in, UINT inStride,
                            const D3DVIEWPORT9* viewport, const Matrix* projection, const Matrix* view,
                            const Matrix* world, UINT count);
// Slot 68: as slot 1 (the array transform with a processor-specific form in every vector table).
Vector4* Vec3TransformArray(Vector4* out, UINT outStride, const Vector3* in, UINT inStride, const Matrix* m,
                            UINT count);

// Slot 69: software skinning of vertices firstVertex .. firstVertex + vertexCount − 1.
// - destination, source: the vertex arrays (vertex 0 at the pointer), destinationStride and
//   sourceStride bytes per vertex. Each vertex starts with its position, three floats.
// - influences: the influence stream positioned at vertex firstVertex: per vertex its influences,
//   each one float 2·boneIndex + weight (weight in [0, 1]; the bone is floor(value / 2), the weight
//   value − 2·bone), then −1.0. Any negative or NaN value ends the vertex. Bone indices must stay below
//   2^14 for the weight to keep 9 fraction bits; indices at or above boneCount are skipped.
// - boneMatrices: boneCount matrices; normalMatrices: boneCount matrices for the directions,
//   optional (absent = boneMatrices). Neither needs any particular alignment.
// - directionOffsets: directionCount byte offsets inside a vertex of the 3-float directions
//   (normals, tangents, binormals) to move with the normal matrices.
// Per vertex: position = Σ weight × Vec3TransformCoord(position, bone); each direction =
// Σ weight × Vec3TransformNormal(direction, normal matrix of the bone). Only those x, y, z floats
// are written; no direction is renormalised; every other destination byte is left to the caller.
// A vertex without influences gets a zero position and zero directions. Returns destination.
void* SkinVertices(void* destination, UINT destinationStride, const void* source, UINT sourceStride,
                   UINT firstVertex, UINT vertexCount, const float* influences, const Matrix* boneMatrices,
                   const Matrix* normalMatrices, UINT boneCount, const UINT* directionOffsets,
                   UINT directionCount);

// Slot 70: per element, a + s·(b − a) for arrays of 3-vectors (morphing between two poses):
// out + i·outStride = lerp(a + i·aStride, b + i·bStride, s) for i < count. out may equal a or b
// when its stride equals theirs.
Vector3* Vec3LerpArray(Vector3* out, UINT outStride, const Vector3* a, UINT aStride, const Vector3* b,
                       UINT bStride, float s, UINT count);

// Camera matrices (not table slots).

// View matrix: z = normalise(at − eye), x = normalise(up × z), y = z × x; rows (x.x, y.x, z.x, 0),
// (x.y, y.y, z.y, 0), (x.z, y.z, z.z, 0), (−x·eye, −y·eye, −z·eye, 1). A degenerate camera (eye on
// at, up parallel to the view) gives zero axes rather than failing.
Matrix* MatrixLookAtLH(Matrix* out, const Vector3* eye, const Vector3* at, const Vector3* up);
// Perspective projection: with sine and cosine of fov/2 each rounded to float, yScale = cos/sin,
// xScale = yScale/aspect, q = zf/(zf − zn): _11 = xScale, _22 = yScale, _33 = q, _34 = 1,
// _43 = −q·zn, all else 0.
Matrix* MatrixPerspectiveFovLH(Matrix* out, float fovY, float aspect, float zn, float zf);

}  // namespace qm
