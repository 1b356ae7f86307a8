// vertex_declaration.cpp: vertex-declaration helpers: vertex-format codes to declarations and back,
// sizes, validity, equality, and element conversion between declaration types.
#include "library/mesh/vertex_declaration.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "library/math/math.h"

namespace qm {
namespace {

constexpr UINT kTypeSizes[D3DDECLTYPE_UNUSED + 1] = {4, 8, 12, 16, 4, 4, 4, 8, 4, 4, 8, 4, 8, 4, 4, 4, 8, 0};

// Floats per texture set for the two-bit size code of a vertex-format code.
constexpr UINT kTextureSetFloats[4] = {2, 3, 4, 1};

constexpr DWORD kRefusedFvfBits = 0x6001;
constexpr DWORD kLastWeightBits = D3DFVF_LASTBETA_UBYTE4 | D3DFVF_LASTBETA_D3DCOLOR;

// Number of blend-weight values of a vertex-format code (XYZB1 to XYZB5), 0 otherwise.
UINT WeightCount(DWORD fvf) {
    switch (fvf & D3DFVF_POSITION_MASK) {
        case D3DFVF_XYZB1:
            return 1;
        case D3DFVF_XYZB2:
            return 2;
        case D3DFVF_XYZB3:
            return 3;
        case D3DFVF_XYZB4:
            return 4;
        case D3DFVF_XYZB5:
            return 5;
        default:
            return 0;
    }
}

// Appends elements at the running offset.
class DeclarationBuilder {
public:
    explicit DeclarationBuilder(D3DVERTEXELEMENT9* out) : out_(out) {}
    void Add(BYTE type, BYTE usage, BYTE usageIndex = 0) {
        out_[count_++] =
            D3DVERTEXELEMENT9{0, static_cast<WORD>(offset_), type, D3DDECLMETHOD_DEFAULT, usage, usageIndex};
        offset_ += DeclarationTypeSize(type);
    }
    void End() { out_[count_++] = D3DDECL_END(); }

private:
    D3DVERTEXELEMENT9* out_;
    UINT count_ = 0;
    UINT offset_ = 0;
};

bool SameElement(const D3DVERTEXELEMENT9& a, const D3DVERTEXELEMENT9& b) {
    return a.Stream == b.Stream && a.Offset == b.Offset && a.Type == b.Type && a.Method == b.Method &&
           a.Usage == b.Usage && a.UsageIndex == b.UsageIndex;
}

float Saturate(float v, float low, float high) {
    if (!(v >= low)) return low;  // NaN saturates low
    return v > high ? high : v;
}

long RoundSaturated(float v, float low, float high) { return std::lround(Saturate(v, low, high)); }

template <class T>
T LoadAs(const BYTE* from, UINT index) {
    T value;
    std::memcpy(&value, from + index * sizeof(T), sizeof(T));
    return value;
}

template <class T>
void StoreAs(BYTE* to, UINT index, T value) {
    std::memcpy(to + index * sizeof(T), &value, sizeof(T));
}

// Signed 10-bit field of a DEC3N word.
int SignedTenBits(DWORD word, int shift) {
    int v = static_cast<int>((word >> shift) & 0x3FF);
    return v >= 512 ? v - 1024 : v;
}

// Element codecs, one per declaration type. Readers fill the components their type has (the caller
// preset the rest to 0, 0, 0, 1); writers round and saturate.
template <UINT kCount>
void ReadFloats(const BYTE* from, float* out) {
    std::memcpy(out, from, kCount * sizeof(float));
}
template <UINT kCount>
void WriteFloats(const float* value, BYTE* to) {
    std::memcpy(to, value, kCount * sizeof(float));
}

// D3DCOLOR: an ARGB word, so blue is the first byte; read as (red, green, blue, alpha).
constexpr int kColourByte[4] = {2, 1, 0, 3};
void ReadColour(const BYTE* from, float* out) {
    for (int c = 0; c < 4; ++c) out[c] = from[kColourByte[c]] / 255.0f;
}
void WriteColour(const float* value, BYTE* to) {
    for (int c = 0; c < 4; ++c) to[kColourByte[c]] = static_cast<BYTE>(RoundSaturated(value[c] * 255.0f, 0.0f, 255.0f));
}

// Integer components of type T, divided by kScale when read (1: not normalised), saturated to
// [kLow, kHigh] after scaling when written.
template <class T, UINT kCount, int kScale, int kLow, int kHigh>
void ReadIntegers(const BYTE* from, float* out) {
    for (UINT c = 0; c < kCount; ++c)
        out[c] = std::max(static_cast<float>(kLow) / kScale, LoadAs<T>(from, c) / static_cast<float>(kScale));
}
template <class T, UINT kCount, int kScale, int kLow, int kHigh>
void WriteIntegers(const float* value, BYTE* to) {
    for (UINT c = 0; c < kCount; ++c)
        StoreAs(to, c,
                static_cast<T>(RoundSaturated(value[c] * kScale, static_cast<float>(kLow), static_cast<float>(kHigh))));
}

// UDEC3: three unsigned 10-bit fields; DEC3N: three signed 10-bit fields over 511.
void ReadUdec3(const BYTE* from, float* out) {
    const DWORD word = LoadAs<DWORD>(from, 0);
    for (int c = 0; c < 3; ++c) out[c] = static_cast<float>((word >> (10 * c)) & 0x3FF);
}
void WriteUdec3(const float* value, BYTE* to) {
    DWORD word = 0;
    for (int c = 0; c < 3; ++c) word |= static_cast<DWORD>(RoundSaturated(value[c], 0.0f, 1023.0f)) << (10 * c);
    StoreAs(to, 0, word);
}
void ReadDec3n(const BYTE* from, float* out) {
    const DWORD word = LoadAs<DWORD>(from, 0);
    for (int c = 0; c < 3; ++c) out[c] = std::max(-1.0f, SignedTenBits(word, 10 * c) / 511.0f);
}
void WriteDec3n(const float* value, BYTE* to) {
    DWORD word = 0;
    for (int c = 0; c < 3; ++c)
        word |= (static_cast<DWORD>(RoundSaturated(value[c] * 511.0f, -511.0f, 511.0f)) & 0x3FFu) << (10 * c);
    StoreAs(to, 0, word);
}

// Half floats in the math library's 16-bit format.
template <UINT kCount>
void ReadHalves(const BYTE* from, float* out) {
    WORD halves[kCount];
    std::memcpy(halves, from, sizeof halves);
    Float16To32Array(out, halves, kCount);
}
template <UINT kCount>
void WriteHalves(const float* value, BYTE* to) {
    WORD halves[kCount];
    Float32To16Array(halves, value, kCount);
    std::memcpy(to, halves, sizeof halves);
}

struct ElementCodec {
    void (*read)(const BYTE* from, float* out);
    void (*write)(const float* value, BYTE* to);
};

template <class T, UINT kCount, int kScale, int kLow, int kHigh>
constexpr ElementCodec IntegerCodec() {
    return {ReadIntegers<T, kCount, kScale, kLow, kHigh>, WriteIntegers<T, kCount, kScale, kLow, kHigh>};
}

constexpr ElementCodec kCodecs[D3DDECLTYPE_UNUSED] = {
    {ReadFloats<1>, WriteFloats<1>},                        // FLOAT1
    {ReadFloats<2>, WriteFloats<2>},                        // FLOAT2
    {ReadFloats<3>, WriteFloats<3>},                        // FLOAT3
    {ReadFloats<4>, WriteFloats<4>},                        // FLOAT4
    {ReadColour, WriteColour},                              // D3DCOLOR
    IntegerCodec<std::uint8_t, 4, 1, 0, 255>(),             // UBYTE4
    IntegerCodec<std::int16_t, 2, 1, -32768, 32767>(),      // SHORT2
    IntegerCodec<std::int16_t, 4, 1, -32768, 32767>(),      // SHORT4
    IntegerCodec<std::uint8_t, 4, 255, 0, 255>(),           // UBYTE4N
    IntegerCodec<std::int16_t, 2, 32767, -32767, 32767>(),  // SHORT2N
    IntegerCodec<std::int16_t, 4, 32767, -32767, 32767>(),  // SHORT4N
    IntegerCodec<std::uint16_t, 2, 65535, 0, 65535>(),      // USHORT2N
    IntegerCodec<std::uint16_t, 4, 65535, 0, 65535>(),      // USHORT4N
    {ReadUdec3, WriteUdec3},                                // UDEC3
    {ReadDec3n, WriteDec3n},                                // DEC3N
    {ReadHalves<2>, WriteHalves<2>},                        // FLOAT16_2
    {ReadHalves<4>, WriteHalves<4>},                        // FLOAT16_4
};

}  // namespace

UINT DeclarationTypeSize(BYTE type) { return type <= D3DDECLTYPE_UNUSED ? kTypeSizes[type] : 0; }

UINT DeclarationLength(const D3DVERTEXELEMENT9* declaration) {
    for (UINT i = 0; i < kMaxDeclarationElements; ++i)
        if (IsDeclarationEnd(declaration[i])) return i;
    return kMaxDeclarationElements;
}

HRESULT DeclarationFromFVF(DWORD fvf, D3DVERTEXELEMENT9* out) {
    if (out == nullptr || (fvf & kRefusedFvfBits) != 0) return D3DERR_INVALIDCALL;
    const UINT textureSets = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    if (textureSets > 8) return D3DERR_INVALIDCALL;
    const UINT weights = WeightCount(fvf);
    const bool lastWeight = (fvf & kLastWeightBits) != 0;
    if (weights == 5 && !lastWeight) return D3DERR_INVALIDCALL;

    DeclarationBuilder builder(out);
    const DWORD position = fvf & D3DFVF_POSITION_MASK;
    if (position == D3DFVF_XYZRHW)
        builder.Add(D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITIONT);
    else if (position != 0)
        builder.Add(D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION);
    if (lastWeight) {
        // The last weight value holds the bone indices: four bytes, or a colour-ordered word.
        if (weights > 1) builder.Add(static_cast<BYTE>(weights - 2), D3DDECLUSAGE_BLENDWEIGHT);
        builder.Add((fvf & D3DFVF_LASTBETA_UBYTE4) != 0 ? D3DDECLTYPE_UBYTE4 : D3DDECLTYPE_D3DCOLOR,
                    D3DDECLUSAGE_BLENDINDICES);
    } else if (weights > 0) {
        builder.Add(static_cast<BYTE>(weights - 1), D3DDECLUSAGE_BLENDWEIGHT);
    }
    if (fvf & D3DFVF_NORMAL) builder.Add(D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL);
    if (fvf & D3DFVF_PSIZE) builder.Add(D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_PSIZE);
    if (fvf & D3DFVF_DIFFUSE) builder.Add(D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0);
    if (fvf & D3DFVF_SPECULAR) builder.Add(D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 1);
    for (UINT set = 0; set < textureSets; ++set) {
        UINT floats = kTextureSetFloats[(fvf >> (16 + 2 * set)) & 3];
        builder.Add(static_cast<BYTE>(floats - 1), D3DDECLUSAGE_TEXCOORD, static_cast<BYTE>(set));
    }
    builder.End();
    return D3D_OK;
}

HRESULT FVFFromDeclaration(const D3DVERTEXELEMENT9* declaration, DWORD* fvf) {
    if (fvf == nullptr) return D3DERR_INVALIDCALL;
    *fvf = 0;
    if (declaration == nullptr) return D3DERR_INVALIDCALL;
    const UINT length = DeclarationLength(declaration);
    if (length >= kMaxDeclarationElements) return D3DERR_INVALIDCALL;

    // Read the elements in the order DeclarationFromFVF writes them into a candidate code, then
    // accept the candidate only when its declaration is this one (offsets, methods, streams and
    // types included).
    UINT i = 0;
    auto is = [&](BYTE usage, BYTE usageIndex) {
        return i < length && declaration[i].Usage == usage && declaration[i].UsageIndex == usageIndex;
    };
    DWORD code = 0;
    bool hasPosition = false;
    if (is(D3DDECLUSAGE_POSITIONT, 0)) {
        code |= D3DFVF_XYZRHW;
        ++i;
    } else if (is(D3DDECLUSAGE_POSITION, 0)) {
        hasPosition = true;
        ++i;
    }
    UINT weights = 0;
    if (is(D3DDECLUSAGE_BLENDWEIGHT, 0) && declaration[i].Type <= D3DDECLTYPE_FLOAT4) {
        weights = declaration[i].Type + 1u;
        ++i;
    }
    if (is(D3DDECLUSAGE_BLENDINDICES, 0)) {
        weights += 1;
        code |= declaration[i].Type == D3DDECLTYPE_UBYTE4 ? D3DFVF_LASTBETA_UBYTE4 : D3DFVF_LASTBETA_D3DCOLOR;
        ++i;
    }
    if (weights > 0 && !hasPosition) return D3DERR_INVALIDCALL;
    if (hasPosition) code |= weights == 0 ? D3DFVF_XYZ : D3DFVF_XYZRHW + 2 * weights;  // XYZB1 = 6 ... XYZB5 = 14
    if (is(D3DDECLUSAGE_NORMAL, 0)) code |= D3DFVF_NORMAL, ++i;
    if (is(D3DDECLUSAGE_PSIZE, 0)) code |= D3DFVF_PSIZE, ++i;
    if (is(D3DDECLUSAGE_COLOR, 0)) code |= D3DFVF_DIFFUSE, ++i;
    if (is(D3DDECLUSAGE_COLOR, 1)) code |= D3DFVF_SPECULAR, ++i;
    DWORD sets = 0;
    while (sets < 8 && is(D3DDECLUSAGE_TEXCOORD, static_cast<BYTE>(sets))) {
        BYTE type = declaration[i].Type;
        if (type > D3DDECLTYPE_FLOAT4) return D3DERR_INVALIDCALL;
        static constexpr DWORD kSizeCode[4] = {D3DFVF_TEXTUREFORMAT1, D3DFVF_TEXTUREFORMAT2, D3DFVF_TEXTUREFORMAT3,
                                               D3DFVF_TEXTUREFORMAT4};
        code |= kSizeCode[type] << (16 + 2 * sets);
        ++sets;
        ++i;
    }
    code |= sets << D3DFVF_TEXCOUNT_SHIFT;
    if (i != length) return D3DERR_INVALIDCALL;

    D3DVERTEXELEMENT9 rebuilt[kMaxDeclarationElements];
    if (FAILED(DeclarationFromFVF(code, rebuilt)) || !DeclarationsEqual(rebuilt, declaration))
        return D3DERR_INVALIDCALL;
    *fvf = code;
    return D3D_OK;
}

UINT DeclarationVertexSize(const D3DVERTEXELEMENT9* declaration, DWORD stream) {
    if (declaration == nullptr) return 0;
    UINT size = 0;
    const UINT length = DeclarationLength(declaration);
    for (UINT i = 0; i < length && i < MAXD3DDECLLENGTH; ++i) {
        const D3DVERTEXELEMENT9& e = declaration[i];
        if (e.Stream != stream || e.Method == D3DDECLMETHOD_UV) continue;
        size = std::max(size, e.Offset + DeclarationTypeSize(e.Type));
    }
    return size;
}

bool IsValidDeclaration(const D3DVERTEXELEMENT9* declaration) {
    if (declaration == nullptr) return false;
    const UINT length = DeclarationLength(declaration);
    if (length >= kMaxDeclarationElements) return false;
    UINT end = 0;
    for (UINT i = 0; i < length; ++i) {
        const D3DVERTEXELEMENT9& e = declaration[i];
        if (e.Stream != 0 || e.Type >= D3DDECLTYPE_UNUSED) return false;
        if (e.Method != D3DDECLMETHOD_DEFAULT) continue;
        if (e.Offset < end) return false;
        end = e.Offset + DeclarationTypeSize(e.Type);
    }
    return true;
}

bool DeclarationsEqual(const D3DVERTEXELEMENT9* a, const D3DVERTEXELEMENT9* b) {
    if (a == nullptr || b == nullptr) return a == b;
    for (UINT i = 0; i < kMaxDeclarationElements; ++i) {
        const bool aEnds = IsDeclarationEnd(a[i]);
        if (aEnds != IsDeclarationEnd(b[i])) return false;
        if (aEnds) return true;
        if (!SameElement(a[i], b[i])) return false;
    }
    return false;
}

int FindDeclarationElement(const D3DVERTEXELEMENT9* declaration, BYTE usage, BYTE usageIndex) {
    const UINT length = DeclarationLength(declaration);
    for (UINT i = 0; i < length && i < MAXD3DDECLLENGTH; ++i)
        if (declaration[i].Usage == usage && declaration[i].UsageIndex == usageIndex) return static_cast<int>(i);
    return -1;
}

void ReadDeclarationElement(BYTE type, const BYTE* from, float out[4]) {
    out[0] = out[1] = out[2] = 0.0f;
    out[3] = 1.0f;
    if (type < D3DDECLTYPE_UNUSED) kCodecs[type].read(from, out);
}

void WriteDeclarationElement(BYTE type, const float value[4], BYTE* to) {
    if (type < D3DDECLTYPE_UNUSED) kCodecs[type].write(value, to);
}

VertexConverter::VertexConverter(const D3DVERTEXELEMENT9* source, const D3DVERTEXELEMENT9* target)
    : sourceStride_(DeclarationVertexSize(source, 0)), targetStride_(DeclarationVertexSize(target, 0)) {
    const UINT length = DeclarationLength(target);
    for (UINT i = 0; i < length && i < MAXD3DDECLLENGTH; ++i) {
        const D3DVERTEXELEMENT9& to = target[i];
        if (to.Method == D3DDECLMETHOD_UV) continue;
        Step step{-1, D3DDECLTYPE_UNUSED, to.Offset, to.Type, to.Usage, false};
        int found = FindDeclarationElement(source, to.Usage, to.UsageIndex);
        if (found >= 0 && source[found].Method != D3DDECLMETHOD_UV) {
            step.sourceOffset = source[found].Offset;
            step.sourceType = source[found].Type;
            step.copyBytes = step.sourceType == to.Type;
        }
        steps_.push_back(step);
    }
}

void VertexConverter::Convert(const BYTE* from, BYTE* to, UINT count) const {
    static constexpr float kMissing[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    static constexpr float kWhite[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    for (UINT v = 0; v < count; ++v) {
        const BYTE* vertexIn = from + static_cast<std::size_t>(v) * sourceStride_;
        BYTE* vertexOut = to + static_cast<std::size_t>(v) * targetStride_;
        std::memset(vertexOut, 0, targetStride_);
        for (const Step& step : steps_) {
            BYTE* out = vertexOut + step.targetOffset;
            if (step.copyBytes) {
                std::memcpy(out, vertexIn + step.sourceOffset, DeclarationTypeSize(step.targetType));
            } else if (step.sourceOffset >= 0) {
                float value[4];
                ReadDeclarationElement(step.sourceType, vertexIn + step.sourceOffset, value);
                WriteDeclarationElement(step.targetType, value, out);
            } else {
                WriteDeclarationElement(step.targetType, step.targetUsage == D3DDECLUSAGE_COLOR ? kWhite : kMissing,
                                        out);
            }
        }
    }
}

}  // namespace qm
