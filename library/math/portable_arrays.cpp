// portable_arrays.cpp: the portable array operations: 16-bit float conversion, strided array
// transforms, projection of arrays, the skinning kernel and the 3-vector lerp of arrays.
#include <bit>
#include <cmath>
#include <cstring>

#include "library/math/components.h"
#include "library/math/math_slots.h"

namespace qm::portable {
namespace {

using detail::Element;

// Applies `transform(out, in)` to count strided elements.
template <typename Out, typename In, typename Transform>
Out* TransformArray(Out* out, UINT outStride, const In* in, UINT inStride, UINT count, Transform transform) {
    for (UINT i = 0; i < count; ++i) transform(Element(out, outStride, i), Element(in, inStride, i));
    return out;
}

// 32-bit float bits to the 16-bit format (no infinities: exponent 31 is ordinary).
WORD FloatToHalf(float value) {
    std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    std::uint32_t sign = (bits >> 16) & 0x8000u;
    std::uint32_t magnitude = bits & 0x7FFFFFFFu;
    if (magnitude >= 0x47FFF000u) return static_cast<WORD>(sign | 0x7FFFu);
    std::uint32_t t;
    if (magnitude < 0x38800000u) {
        // Below 2^-14: a denormal of the 16-bit format, the mantissa with its leading 1 shifted right.
        std::uint32_t shift = 113u - (magnitude >> 23);
        std::uint32_t mantissa = (magnitude & 0x007FFFFFu) | 0x00800000u;
        t = shift < 32u ? mantissa >> shift : 0u;
    } else {
        t = magnitude - (112u << 23);  // exponent re-biased from 127 to 15
    }
    t += 0x0FFFu + ((t >> 13) & 1u);  // round to nearest even at bit 13
    return static_cast<WORD>(sign | (t >> 13));
}

float HalfToFloat(WORD half) {
    std::uint32_t sign = static_cast<std::uint32_t>(half & 0x8000u) << 16;
    std::uint32_t exponent = (half >> 10) & 0x1Fu;
    std::uint32_t mantissa = half & 0x03FFu;
    std::uint32_t bits;
    if (exponent != 0) {
        bits = sign | ((exponent + 112u) << 23) | (mantissa << 13);
    } else if (mantissa != 0) {
        int unbiased = -14;
        while ((mantissa & 0x0400u) == 0) {
            mantissa <<= 1;
            --unbiased;
        }
        bits = sign | (static_cast<std::uint32_t>(unbiased + 127) << 23) | ((mantissa & 0x03FFu) << 13);
    } else {
        bits = sign;
    }
    return std::bit_cast<float>(bits);
}

}  // namespace

WORD* Float32To16Array(WORD* out, const float* in, UINT count) {
    for (UINT i = 0; i < count; ++i) {
        float value;
        std::memcpy(&value, in + i, sizeof value);  // out may overlap in
        out[i] = FloatToHalf(value);
    }
    return out;
}

float* Float16To32Array(float* out, const WORD* in, UINT count) {
    // Backwards, so that an output array starting where the input starts is not overwritten early.
    for (UINT i = count; i-- > 0;) out[i] = HalfToFloat(in[i]);
    return out;
}

Vector4* Vec2TransformArray(Vector4* out, UINT outStride, const Vector2* in, UINT inStride, const Matrix* m,
                            UINT count) {
    const Matrix matrix = *m;
    return TransformArray(out, outStride, in, inStride, count,
                          [&](Vector4* o, const Vector2* v) { portable::Vec2Transform(o, v, &matrix); });
}

Vector2* Vec2TransformCoordArray(Vector2* out, UINT outStride, const Vector2* in, UINT inStride, const Matrix* m,
                                 UINT count) {
    const Matrix matrix = *m;
    return TransformArray(out, outStride, in, inStride, count,
                          [&](Vector2* o, const Vector2* v) { portable::Vec2TransformCoord(o, v, &matrix); });
}

Vector2* Vec2TransformNormalArray(Vector2* out, UINT outStride, const Vector2* in, UINT inStride, const Matrix* m,
                                  UINT count) {
    const Matrix matrix = *m;
    return TransformArray(out, outStride, in, inStride, count,
                          [&](Vector2* o, const Vector2* v) { portable::Vec2TransformNormal(o, v, &matrix); });
}

Vector4* Vec3TransformArray(Vector4* out, UINT outStride, const Vector3* in, UINT inStride, const Matrix* m,
                            UINT count) {
    const Matrix matrix = *m;
    return TransformArray(out, outStride, in, inStride, count,
                          [&](Vector4* o, const Vector3* v) { portable::Vec3Transform(o, v, &matrix); });
}

Vector3* Vec3TransformCoordArray(Vector3* out, UINT outStride, const Vector3* in, UINT inStride, const Matrix* m,
                                 UINT count) {
    const Matrix matrix = *m;
    return TransformArray(out, outStride, in, inStride, count,
                          [&](Vector3* o, const Vector3* v) { portable::Vec3TransformCoord(o, v, &matrix); });
}

Vector3* Vec3TransformNormalArray(Vector3* out, UINT outStride, const Vector3* in, UINT inStride, const Matrix* m,
                                  UINT count) {
    const Matrix matrix = *m;
    return TransformArray(out, outStride, in, inStride, count,
                          [&](Vector3* o, const Vector3* v) { portable::Vec3TransformNormal(o, v, &matrix); });
}

Vector4* Vec4TransformArray(Vector4* out, UINT outStride, const Vector4* in, UINT inStride, const Matrix* m,
                            UINT count) {
    const Matrix matrix = *m;
    return TransformArray(out, outStride, in, inStride, count,
                          [&](Vector4* o, const Vector4* v) { portable::Vec4Transform(o, v, &matrix); });
}

Plane* PlaneTransformArray(Plane* out, UINT outStride, const Plane* in, UINT inStride, const Matrix* m, UINT count) {
    const Matrix matrix = *m;
    return TransformArray(out, outStride, in, inStride, count,
                          [&](Plane* o, const Plane* p) { portable::PlaneTransform(o, p, &matrix); });
}

Vector3* Vec3ProjectArray(Vector3* out, UINT outStride, const Vector3* in, UINT inStride,
                          const D3DVIEWPORT9* viewport, const Matrix* projection, const Matrix* view,
                          const Matrix* world, UINT count) {
    // The combined matrix goes in as the world matrix, so it is built once.
    Matrix combined;
    MatrixIdentity(&combined);
    if (world != nullptr) combined = *world;
    if (view != nullptr) portable::MatrixMultiply(&combined, &combined, view);
    if (projection != nullptr) portable::MatrixMultiply(&combined, &combined, projection);
    return TransformArray(out, outStride, in, inStride, count, [&](Vector3* o, const Vector3* v) {
        portable::Vec3Project(o, v, viewport, nullptr, nullptr, &combined);
    });
}

Vector3* Vec3UnprojectArray(Vector3* out, UINT outStride, const Vector3* in, UINT inStride,
                            const D3DVIEWPORT9* viewport, const Matrix* projection, const Matrix* view,
                            const Matrix* world, UINT count) {
    Matrix combined;
    MatrixIdentity(&combined);
    if (world != nullptr) combined = *world;
    if (view != nullptr) portable::MatrixMultiply(&combined, &combined, view);
    if (projection != nullptr) portable::MatrixMultiply(&combined, &combined, projection);
    Matrix inverse;
    if (portable::MatrixInverse(&inverse, nullptr, &combined) == nullptr) return nullptr;
    // With the inverse in hand, unprojecting is projecting backwards: viewport to device coordinates,
    // then the inverse as a coordinate transform.
    return TransformArray(out, outStride, in, inStride, count, [&](Vector3* o, const Vector3* v) {
        Vector3 p = *v;
        if (viewport != nullptr) {
            p = Vector3((p.x - static_cast<float>(viewport->X)) * 2.0f / static_cast<float>(viewport->Width) - 1.0f,
                        1.0f - (p.y - static_cast<float>(viewport->Y)) * 2.0f / static_cast<float>(viewport->Height),
                        (p.z - viewport->MinZ) / (viewport->MaxZ - viewport->MinZ));
        }
        portable::Vec3TransformCoord(o, &p, &inverse);
    });
}

void* SkinVertices(void* destination, UINT destinationStride, const void* source, UINT sourceStride,
                   UINT firstVertex, UINT vertexCount, const float* influences, const Matrix* boneMatrices,
                   const Matrix* normalMatrices, UINT boneCount, const UINT* directionOffsets, UINT directionCount) {
    if (normalMatrices == nullptr) normalMatrices = boneMatrices;
    auto* destinationBytes = static_cast<BYTE*>(destination);
    const auto* sourceBytes = static_cast<const BYTE*>(source);
    const float* stream = influences;
    for (UINT vertex = firstVertex; vertex < firstVertex + vertexCount; ++vertex) {
        const BYTE* from = sourceBytes + static_cast<std::size_t>(vertex) * sourceStride;
        BYTE* to = destinationBytes + static_cast<std::size_t>(vertex) * destinationStride;
        // This vertex's influences run up to the first negative (or NaN) value.
        const float* first = stream;
        while (*stream >= 0.0f) ++stream;
        const float* last = stream++;

        auto accumulate = [&](UINT offset, bool isPosition) {
            Vector3 input;
            std::memcpy(&input, from + offset, sizeof input);
            Vector3 sum(0.0f, 0.0f, 0.0f);
            for (const float* influence = first; influence != last; ++influence) {
                float bone = std::floor(*influence * 0.5f);
                float weight = *influence - 2.0f * bone;
                if (!(bone < static_cast<float>(boneCount))) continue;
                auto index = static_cast<UINT>(bone);
                Vector3 moved;
                if (isPosition)
                    portable::Vec3TransformCoord(&moved, &input, &boneMatrices[index]);
                else
                    portable::Vec3TransformNormal(&moved, &input, &normalMatrices[index]);
                sum = Vector3(sum.x + weight * moved.x, sum.y + weight * moved.y, sum.z + weight * moved.z);
            }
            std::memcpy(to + offset, &sum, sizeof sum);
        };
        accumulate(0, true);
        for (UINT i = 0; i < directionCount; ++i) accumulate(directionOffsets[i], false);
    }
    return destination;
}

Vector3* Vec3LerpArray(Vector3* out, UINT outStride, const Vector3* a, UINT aStride, const Vector3* b, UINT bStride,
                       float s, UINT count) {
    for (UINT i = 0; i < count; ++i) Vec3Lerp(Element(out, outStride, i), Element(a, aStride, i), Element(b, bStride, i), s);
    return out;
}

}  // namespace qm::portable
