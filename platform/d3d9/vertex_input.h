// vertex_input.h: the input stage: a vertex layout made from a flexible vertex format word or a
// vertex declaration, and the decoding of one vertex's elements from its streams into floats.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/d3d9/caps.h"
#include "platform/d3d9/d3d9types.h"
#include "platform/d3d9/pipeline_types.h"

namespace qm::d3d9 {

// Turns the bytes of one element into four floats.
using DecodeFn = void (*)(const std::byte* source, float* destination);

struct InputElement {
    UINT stream = 0;
    UINT offset = 0;
    UINT size = 0;             // bytes the element reads
    DecodeFn decode = nullptr;
    std::size_t destination = 0;  // float index into InputVertex
};

// Bytes of one element of a declaration type and its decoder; size 0 for an unknown type.
struct DeclTypeInfo {
    UINT size;
    UINT components;
    DecodeFn decode;
};
const DeclTypeInfo& DeclType(BYTE type);

// Where the elements of a vertex are and which of them the vertex has.
struct InputLayout {
    static constexpr std::size_t kMaxElements = 32;
    std::array<InputElement, kMaxElements> elements{};
    std::size_t elementCount = 0;
    bool pretransformed = false;  // screen position and reciprocal w: transform and lighting are skipped
    bool hasPosition = false;
    bool hasNormal = false;
    bool hasPointSize = false;
    bool hasDiffuse = false;
    bool hasSpecular = false;
    bool hasBlendIndices = false;
    UINT blendWeightCount = 0;  // weights stored per vertex
    UINT texCoordSets = 0;      // coordinate sets 0..texCoordSets-1 may be present
    std::array<UINT, kMaxStreams> streamExtent{};  // bytes each stream's vertex must hold (0: unused)
    InputVertex defaults{};

    // Adds an element; false when the layout is full or the type is unknown.
    bool Add(UINT stream, UINT offset, BYTE type, std::size_t destination);
};

// The layout of a valid vertex format word (all elements in stream 0).
InputLayout LayoutFromFvf(DWORD fvf);

// The layout of a declaration ending in D3DDECL_END(); false for elements the fixed-function
// pipeline cannot take (unknown types or usages, streams beyond the limit, repeated elements).
bool LayoutFromDeclaration(const D3DVERTEXELEMENT9* elements, InputLayout* layout);

// One stream as a draw reads it: size bytes from data, one vertex every stride bytes.
struct StreamView {
    const std::byte* data = nullptr;
    std::size_t size = 0;
    UINT stride = 0;
};

// How many vertices, counted from the start of each view, every used stream holds in full.
std::uint64_t VerticesAvailable(const InputLayout& layout, const StreamView* streams);

// Decodes vertex `index`; the caller has checked index < VerticesAvailable.
inline void FetchVertex(const InputLayout& layout, const StreamView* streams, std::size_t index, InputVertex* out) {
    *out = layout.defaults;
    float* base = reinterpret_cast<float*>(out);
    for (std::size_t e = 0; e < layout.elementCount; ++e) {
        const InputElement& element = layout.elements[e];
        const StreamView& stream = streams[element.stream];
        element.decode(stream.data + index * stream.stride + element.offset, base + element.destination);
    }
}

}  // namespace qm::d3d9
