// vertex_declaration.h: vertex-declaration helpers shared by the mesh, the mesh reader and the skin
// information: conversion to and from vertex-format codes, sizes, validity, equality, and the
// per-vertex conversion between two declarations used when a mesh is cloned.
#pragma once

#include <vector>

#include "platform/d3d9/d3d9types.h"
#include "platform/win/results.h"

namespace qm {

// A declaration holds up to 64 elements and the end marker.
inline constexpr UINT kMaxDeclarationElements = MAXD3DDECLLENGTH + 1;

// Bytes taken by an element of the given type: 4, 8, 12, 16, 4, 4, 4, 8, 4, 4, 8, 4, 8, 4, 4, 4, 8
// for types 0 to 16, and 0 for D3DDECLTYPE_UNUSED (17) and any value beyond it.
UINT DeclarationTypeSize(BYTE type);

// True for the element that ends a declaration (stream 0xFF).
inline bool IsDeclarationEnd(const D3DVERTEXELEMENT9& element) { return element.Stream == 0xFF; }

// Number of elements before the end marker, or kMaxDeclarationElements when no end marker lies
// within the first kMaxDeclarationElements entries (not a declaration). declaration must not be null.
UINT DeclarationLength(const D3DVERTEXELEMENT9* declaration);

// Builds the declaration of a vertex-format code into out (kMaxDeclarationElements entries):
// position (transformed four floats for XYZRHW, otherwise three floats), blend weights and the
// last-weight indices, normal, point size, diffuse and specular colours, texture sets, end marker,
// each at the running offset in stream 0. D3DERR_INVALIDCALL (out untouched) for codes with any of
// the bits 0x6001, more than 8 texture sets, or five weights without a last-weight flag.
HRESULT DeclarationFromFVF(DWORD fvf, D3DVERTEXELEMENT9* out);

// The vertex-format code whose declaration (as DeclarationFromFVF builds it) equals this one.
// When there is none, *fvf = 0 and the result is D3DERR_INVALIDCALL. Both pointers must be non-null.
HRESULT FVFFromDeclaration(const D3DVERTEXELEMENT9* declaration, DWORD* fvf);

// The largest offset + type size over the elements of the stream whose method is not 4 (elements
// of that method are generated, not read from the vertex); 0 for an empty declaration.
UINT DeclarationVertexSize(const D3DVERTEXELEMENT9* declaration, DWORD stream);

// True when the declaration ends within 65 entries, every element before the end marker is in
// stream 0 with a type below D3DDECLTYPE_UNUSED, and every element of method 0 starts at or after
// the end of the previous element of method 0. The empty declaration is valid; null is not.
bool IsValidDeclaration(const D3DVERTEXELEMENT9* declaration);

// True when both declarations have the same elements in the same order and end together.
bool DeclarationsEqual(const D3DVERTEXELEMENT9* a, const D3DVERTEXELEMENT9* b);

// The index of the first element with this usage and usage index, or -1.
int FindDeclarationElement(const D3DVERTEXELEMENT9* declaration, BYTE usage, BYTE usageIndex);

// Element values as four floats. Reading fills the components a type lacks with 0 and the fourth
// with 1; colours read as (red, green, blue, alpha) in [0, 1]. Writing rounds and saturates to the
// type's range. Half floats use the math library's 16-bit format.
void ReadDeclarationElement(BYTE type, const BYTE* from, float out[4]);
void WriteDeclarationElement(BYTE type, const float value[4], BYTE* to);

// Converts vertices from one valid declaration to another. Each target element takes the source
// element of the same usage and usage index, converted between the two types; a target element
// without a source is (0, 0, 0, 0), or opaque white for a colour. Bytes of the target vertex that
// no element covers are zero.
class VertexConverter {
public:
    VertexConverter(const D3DVERTEXELEMENT9* source, const D3DVERTEXELEMENT9* target);

    // Converts count vertices; strides are the declarations' vertex sizes.
    void Convert(const BYTE* from, BYTE* to, UINT count) const;

private:
    struct Step {
        int sourceOffset;  // -1: no source element
        BYTE sourceType;
        UINT targetOffset;
        BYTE targetType;
        BYTE targetUsage;
        bool copyBytes;  // same type: a plain copy
    };
    std::vector<Step> steps_;
    UINT sourceStride_;
    UINT targetStride_;
};

}  // namespace qm
