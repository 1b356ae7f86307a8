// vertex_input.cpp: vertex layouts from format words and declarations, and the element decoders
// of the declaration types (floats, colours, normalised integers, packed 10-bit and half floats).
#include "platform/d3d9/vertex_input.h"

#include <bit>
#include <cstring>

namespace qm::d3d9 {
namespace {

template <class T>
T Load(const std::byte* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

template <int N>
void DecodeFloats(const std::byte* s, float* d) {
    std::memcpy(d, s, N * sizeof(float));
}

// D3DCOLOR is stored as ARGB in one little-endian word and read as (R, G, B, A).
void DecodeColor(const std::byte* s, float* d) {
    std::uint32_t c = Load<std::uint32_t>(s);
    d[0] = static_cast<float>((c >> 16) & 0xFF) / 255.0f;
    d[1] = static_cast<float>((c >> 8) & 0xFF) / 255.0f;
    d[2] = static_cast<float>(c & 0xFF) / 255.0f;
    d[3] = static_cast<float>(c >> 24) / 255.0f;
}

void DecodeUbyte4(const std::byte* s, float* d) {
    for (int i = 0; i < 4; ++i) d[i] = static_cast<float>(std::to_integer<std::uint8_t>(s[i]));
}

void DecodeUbyte4n(const std::byte* s, float* d) {
    for (int i = 0; i < 4; ++i) d[i] = static_cast<float>(std::to_integer<std::uint8_t>(s[i])) / 255.0f;
}

template <int N>
void DecodeShort(const std::byte* s, float* d) {
    for (int i = 0; i < N; ++i) d[i] = static_cast<float>(Load<std::int16_t>(s + 2 * i));
}

// Signed normalised: -32768 and -32767 both give -1.
template <int N>
void DecodeShortN(const std::byte* s, float* d) {
    for (int i = 0; i < N; ++i) {
        float v = static_cast<float>(Load<std::int16_t>(s + 2 * i)) / 32767.0f;
        d[i] = v < -1.0f ? -1.0f : v;
    }
}

template <int N>
void DecodeUshortN(const std::byte* s, float* d) {
    for (int i = 0; i < N; ++i) d[i] = static_cast<float>(Load<std::uint16_t>(s + 2 * i)) / 65535.0f;
}

void DecodeUdec3(const std::byte* s, float* d) {
    std::uint32_t v = Load<std::uint32_t>(s);
    for (int i = 0; i < 3; ++i) d[i] = static_cast<float>((v >> (10 * i)) & 0x3FF);
}

void DecodeDec3n(const std::byte* s, float* d) {
    std::uint32_t v = Load<std::uint32_t>(s);
    for (int i = 0; i < 3; ++i) {
        // Sign-extend the 10-bit field.
        auto field = static_cast<std::int32_t>(((v >> (10 * i)) & 0x3FF) << 22) >> 22;
        float f = static_cast<float>(field) / 511.0f;
        d[i] = f < -1.0f ? -1.0f : f;
    }
}

// IEEE half precision to single precision, subnormals, infinities and NaN included.
float HalfToFloat(std::uint16_t h) {
    std::uint32_t sign = static_cast<std::uint32_t>(h & 0x8000) << 16;
    std::uint32_t exponent = (h >> 10) & 0x1F;
    std::uint32_t mantissa = h & 0x3FF;
    if (exponent == 0) {
        float f = static_cast<float>(mantissa) * (1.0f / 16777216.0f);  // mantissa * 2^-24
        return sign ? -f : f;
    }
    if (exponent == 31) return std::bit_cast<float>(sign | 0x7F800000u | (mantissa << 13));
    return std::bit_cast<float>(sign | ((exponent + 112) << 23) | (mantissa << 13));
}

template <int N>
void DecodeHalf(const std::byte* s, float* d) {
    for (int i = 0; i < N; ++i) d[i] = HalfToFloat(Load<std::uint16_t>(s + 2 * i));
}

constexpr DeclTypeInfo kDeclTypes[] = {
    {4, 1, DecodeFloats<1>},       {8, 2, DecodeFloats<2>},       {12, 3, DecodeFloats<3>},
    {16, 4, DecodeFloats<4>},      {4, 4, DecodeColor},           {4, 4, DecodeUbyte4},
    {4, 2, DecodeShort<2>},        {8, 4, DecodeShort<4>},        {4, 4, DecodeUbyte4n},
    {4, 2, DecodeShortN<2>},       {8, 4, DecodeShortN<4>},       {4, 2, DecodeUshortN<2>},
    {8, 4, DecodeUshortN<4>},      {4, 3, DecodeUdec3},           {4, 3, DecodeDec3n},
    {4, 2, DecodeHalf<2>},         {8, 4, DecodeHalf<4>},
};
constexpr DeclTypeInfo kUnknownType = {0, 0, nullptr};

constexpr std::size_t FloatIndex(std::size_t byteOffset) { return byteOffset / sizeof(float); }
constexpr std::size_t kPosition = FloatIndex(offsetof(InputVertex, position));
constexpr std::size_t kBlendWeights = FloatIndex(offsetof(InputVertex, blendWeights));
constexpr std::size_t kBlendIndices = FloatIndex(offsetof(InputVertex, blendIndices));
constexpr std::size_t kNormal = FloatIndex(offsetof(InputVertex, normal));
constexpr std::size_t kPointSize = FloatIndex(offsetof(InputVertex, pointSize));
constexpr std::size_t kDiffuse = FloatIndex(offsetof(InputVertex, diffuse));
constexpr std::size_t kSpecular = FloatIndex(offsetof(InputVertex, specular));
constexpr std::size_t TexCoordIndex(UINT set) { return FloatIndex(offsetof(InputVertex, texCoords)) + 4 * set; }

InputVertex DefaultInput() {
    InputVertex v{};
    v.position[3] = 1.0f;
    for (float& f : v.diffuse) f = 1.0f;
    for (auto& t : v.texCoords) t[3] = 1.0f;
    return v;
}

// Floats per coordinate set, indexed by the set's two format bits.
constexpr UINT kCoordinateFloats[4] = {2, 3, 4, 1};

}  // namespace


const DeclTypeInfo& DeclType(BYTE type) { return type < std::size(kDeclTypes) ? kDeclTypes[type] : kUnknownType; }

bool InputLayout::Add(UINT stream, UINT offset, BYTE type, std::size_t destination) {
    const DeclTypeInfo& info = DeclType(type);
    if (info.size == 0 || elementCount == kMaxElements || stream >= kMaxStreams) return false;
    elements[elementCount++] = InputElement{stream, offset, info.size, info.decode, destination};
    if (offset + info.size > streamExtent[stream]) streamExtent[stream] = offset + info.size;
    return true;
}

InputLayout LayoutFromFvf(DWORD fvf) {
    InputLayout layout;
    layout.defaults = DefaultInput();
    UINT offset = 0;
    DWORD position = fvf & D3DFVF_POSITION_MASK;
    if (position == D3DFVF_XYZRHW || position == D3DFVF_XYZW) {
        layout.Add(0, 0, D3DDECLTYPE_FLOAT4, kPosition);
        layout.pretransformed = position == D3DFVF_XYZRHW;
        layout.hasPosition = true;
        offset = 16;
    } else if (position != 0) {
        layout.Add(0, 0, D3DDECLTYPE_FLOAT3, kPosition);
        layout.hasPosition = true;
        offset = 12;
        // XYZB1..XYZB5 carry 1..5 floats after the position; with a last-beta flag the last of them
        // holds four blend-matrix indices instead of a weight.
        UINT betas = position >= D3DFVF_XYZB1 ? (position - D3DFVF_XYZB1) / 2 + 1 : 0;
        bool lastBeta = (fvf & (D3DFVF_LASTBETA_UBYTE4 | D3DFVF_LASTBETA_D3DCOLOR)) != 0;
        UINT weights = lastBeta ? betas - 1 : betas;
        for (UINT w = 0; w < weights && w < 4; ++w) layout.Add(0, offset + 4 * w, D3DDECLTYPE_FLOAT1, kBlendWeights + w);
        layout.blendWeightCount = weights < 4 ? weights : 4;
        offset += 4 * weights;
        if (lastBeta) {
            BYTE type = (fvf & D3DFVF_LASTBETA_UBYTE4) ? D3DDECLTYPE_UBYTE4 : D3DDECLTYPE_D3DCOLOR;
            layout.Add(0, offset, type, kBlendIndices);
            layout.hasBlendIndices = true;
            offset += 4;
        }
    }
    if (fvf & D3DFVF_NORMAL) {
        layout.Add(0, offset, D3DDECLTYPE_FLOAT3, kNormal);
        layout.hasNormal = true;
        offset += 12;
    }
    if (fvf & D3DFVF_PSIZE) {
        layout.Add(0, offset, D3DDECLTYPE_FLOAT1, kPointSize);
        layout.hasPointSize = true;
        offset += 4;
    }
    if (fvf & D3DFVF_DIFFUSE) {
        layout.Add(0, offset, D3DDECLTYPE_D3DCOLOR, kDiffuse);
        layout.hasDiffuse = true;
        offset += 4;
    }
    if (fvf & D3DFVF_SPECULAR) {
        layout.Add(0, offset, D3DDECLTYPE_D3DCOLOR, kSpecular);
        layout.hasSpecular = true;
        offset += 4;
    }
    UINT sets = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    if (sets > kMaxTexCoordSets) sets = kMaxTexCoordSets;
    for (UINT set = 0; set < sets; ++set) {
        UINT floats = kCoordinateFloats[(fvf >> (16 + set * 2)) & 3];
        layout.Add(0, offset, static_cast<BYTE>(D3DDECLTYPE_FLOAT1 + floats - 1), TexCoordIndex(set));
        offset += 4 * floats;
    }
    layout.texCoordSets = sets;
    // A vertex of a format word takes its whole size in the stream, even where elements are missing.
    if (offset > layout.streamExtent[0]) layout.streamExtent[0] = offset;
    return layout;
}

bool LayoutFromDeclaration(const D3DVERTEXELEMENT9* elements, InputLayout* layout) {
    InputLayout made;
    made.defaults = DefaultInput();
    std::uint32_t seen = 0;  // one bit per (usage, index) the fixed-function pipeline reads
    for (UINT i = 0; i < MAXD3DDECLLENGTH; ++i) {
        const D3DVERTEXELEMENT9& e = elements[i];
        if (e.Stream == 0xFF) {
            *layout = made;
            return true;
        }
        if (e.Stream >= kMaxStreams || DeclType(e.Type).size == 0 || e.Method > D3DDECLMETHOD_LOOKUPPRESAMPLED) {
            return false;
        }
        std::size_t destination = 0;
        int bit = -1;
        switch (e.Usage) {
            case D3DDECLUSAGE_POSITION:
            case D3DDECLUSAGE_POSITIONT:
                if (e.UsageIndex != 0) continue;  // further positions are for tweening, not read here
                destination = kPosition;
                bit = 0;
                made.hasPosition = true;
                made.pretransformed = e.Usage == D3DDECLUSAGE_POSITIONT;
                break;
            case D3DDECLUSAGE_BLENDWEIGHT:
                if (e.UsageIndex != 0) continue;
                destination = kBlendWeights;
                bit = 1;
                made.blendWeightCount = DeclType(e.Type).components;
                break;
            case D3DDECLUSAGE_BLENDINDICES:
                if (e.UsageIndex != 0) continue;
                destination = kBlendIndices;
                bit = 2;
                made.hasBlendIndices = true;
                break;
            case D3DDECLUSAGE_NORMAL:
                if (e.UsageIndex != 0) continue;
                destination = kNormal;
                bit = 3;
                made.hasNormal = true;
                break;
            case D3DDECLUSAGE_PSIZE:
                destination = kPointSize;
                bit = 4;
                made.hasPointSize = true;
                break;
            case D3DDECLUSAGE_COLOR:
                if (e.UsageIndex > 1) continue;
                destination = e.UsageIndex == 0 ? kDiffuse : kSpecular;
                bit = 5 + e.UsageIndex;
                (e.UsageIndex == 0 ? made.hasDiffuse : made.hasSpecular) = true;
                break;
            case D3DDECLUSAGE_TEXCOORD:
                if (e.UsageIndex >= kMaxTexCoordSets) continue;
                destination = TexCoordIndex(e.UsageIndex);
                bit = 7 + e.UsageIndex;
                if (e.UsageIndex + 1u > made.texCoordSets) made.texCoordSets = e.UsageIndex + 1u;
                break;
            case D3DDECLUSAGE_TANGENT:
            case D3DDECLUSAGE_BINORMAL:
            case D3DDECLUSAGE_TESSFACTOR:
            case D3DDECLUSAGE_FOG:
            case D3DDECLUSAGE_DEPTH:
            case D3DDECLUSAGE_SAMPLE:
                continue;  // read by programs only; fixed function ignores them
            default:
                return false;
        }
        if (seen & (1u << bit)) return false;
        seen |= 1u << bit;
        if (!made.Add(e.Stream, e.Offset, e.Type, destination)) return false;
    }
    return false;  // no end marker within the longest declaration
}

std::uint64_t VerticesAvailable(const InputLayout& layout, const StreamView* streams) {
    std::uint64_t available = UINT64_MAX;
    for (UINT s = 0; s < kMaxStreams; ++s) {
        UINT extent = layout.streamExtent[s];
        if (extent == 0) continue;
        const StreamView& view = streams[s];
        if (view.data == nullptr || view.size < extent) return 0;
        std::uint64_t count = view.stride == 0 ? UINT64_MAX : (view.size - extent) / view.stride + 1;
        if (count < available) available = count;
    }
    return available;
}

}  // namespace qm::d3d9
