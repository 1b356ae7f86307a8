// dxt_codec.cpp: S3TC (DXT1-DXT5) block decoding and encoding. The encoder diffuses quantisation
// error with the Floyd-Steinberg weights (7/16, 3/16, 5/16, 1/16) inside each block, picks endpoints
// along the bounding-box diagonal that best fits the pixels, and refines them by least squares.
#include "library/tex/dxt_codec.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace qm {
namespace {

struct Vec3 {
    float x = 0, y = 0, z = 0;
    Vec3 operator+(const Vec3& o) const { return {x + o.x, y + o.y, z + o.z}; }
    Vec3 operator-(const Vec3& o) const { return {x - o.x, y - o.y, z - o.z}; }
    Vec3 operator*(float s) const { return {x * s, y * s, z * s}; }
    float Dot(const Vec3& o) const { return x * o.x + y * o.y + z * o.z; }
};

// Colour scaling used while fitting: red and blue weighted by their luminance share relative to green.
constexpr Vec3 kFitScale{kLuminanceRed / kLuminanceGreen, 1.0f, kLuminanceBlue / kLuminanceGreen};

Vec3 Scale(const Vec3& v) { return {v.x * kFitScale.x, v.y * kFitScale.y, v.z * kFitScale.z}; }
Vec3 Unscale(const Vec3& v) { return {v.x / kFitScale.x, v.y / kFitScale.y, v.z / kFitScale.z}; }

float Clamp01(float v) { return std::clamp(v, 0.0f, 1.0f); }

// floor(v + 0.5) for v >= 0, without a library call (conversion truncates toward zero). Values from
// float source formats may be NaN, negative or huge: NaN and negatives give 0, huge values are
// limited so the conversion stays defined.
int RoundNonNegative(float v) {
    if (!(v > 0.0f)) return 0;
    return v < 1.0e9f ? static_cast<int>(v + 0.5f) : 1000000000;
}

// A palette position: the projection t rounded and limited to 0 .. steps.
float Position(float t, float steps) { return static_cast<float>(RoundNonNegative(std::clamp(t, 0.0f, steps))); }

// Spreads the error of pixel i over the following pixels of the 4 x 4 block.
template <class T>
void Diffuse(T* error, int i, const T& e) {
    const int x = i & 3, y = i >> 2;
    if (x < 3) error[i + 1] = error[i + 1] + e * (7.0f / 16.0f);
    if (y < 3) {
        if (x > 0) error[i + 3] = error[i + 3] + e * (3.0f / 16.0f);
        error[i + 4] = error[i + 4] + e * (5.0f / 16.0f);
        if (x < 3) error[i + 5] = error[i + 5] + e * (1.0f / 16.0f);
    }
}

WORD Pack565(const Vec3& c) {
    const int r = RoundNonNegative(Clamp01(c.x) * 31.0f);
    const int g = RoundNonNegative(Clamp01(c.y) * 63.0f);
    const int b = RoundNonNegative(Clamp01(c.z) * 31.0f);
    return static_cast<WORD>((r << 11) | (g << 5) | b);
}

Vec3 Unpack565(WORD c) {
    const int r = (c >> 11) & 31, g = (c >> 5) & 63, b = c & 31;
    return {static_cast<float>((r << 3) | (r >> 2)) / 255.0f, static_cast<float>((g << 2) | (g >> 4)) / 255.0f,
            static_cast<float>((b << 3) | (b >> 2)) / 255.0f};
}

// The 565 grid value nearest to v (each channel rounded on its own grid).
Vec3 Round565(const Vec3& v) {
    return {RoundNonNegative(Clamp01(v.x) * 31.0f) / 31.0f, RoundNonNegative(Clamp01(v.y) * 63.0f) / 63.0f,
            RoundNonNegative(Clamp01(v.z) * 31.0f) / 31.0f};
}

// Least-squares endpoint refinement: each point i is given the palette position nearest to its
// projection on the endpoint line; then both endpoints take the least-squares solution for those
// positions. Stops when the gradient is small or the endpoints meet.
template <class V, class Dot>
void RefineEndpoints(V& e0, V& e1, const V* points, int count, int entries, float gradientLimit, float minDistance,
                     Dot dot) {
    const float steps = static_cast<float>(entries - 1);
    for (int pass = 0; pass < 8; ++pass) {
        const V axis = e1 - e0;
        const float length2 = dot(axis, axis);
        if (length2 < minDistance * minDistance) break;
        float aa = 0, ab = 0, bb = 0;
        V pa{}, pb{};
        V gradient0{}, gradient1{};
        for (int i = 0; i < count; ++i) {
            const float t = Position(dot(points[i] - e0, axis) / length2 * steps, steps) / steps;
            const float s = 1.0f - t;
            aa += s * s, ab += s * t, bb += t * t;
            pa = pa + points[i] * s;
            pb = pb + points[i] * t;
            const V residual = e0 * s + e1 * t - points[i];
            gradient0 = gradient0 + residual * s;
            gradient1 = gradient1 + residual * t;
        }
        if (dot(gradient0, gradient0) < gradientLimit && dot(gradient1, gradient1) < gradientLimit) break;
        const float det = aa * bb - ab * ab;
        if (std::fabs(det) < 1e-12f) break;
        e0 = (pa * bb - pb * ab) * (1.0f / det);
        e1 = (pb * aa - pa * ab) * (1.0f / det);
    }
}

float Dot3(const Vec3& a, const Vec3& b) { return a.Dot(b); }

// A one-component value with the operators RefineEndpoints needs.
struct Scalar {
    float v = 0;
    Scalar operator+(const Scalar& o) const { return {v + o.v}; }
    Scalar operator-(const Scalar& o) const { return {v - o.v}; }
    Scalar operator*(float s) const { return {v * s}; }
};
float Dot1(const Scalar& a, const Scalar& b) { return a.v * b.v; }

void StoreWord(BYTE* p, WORD w) {
    p[0] = static_cast<BYTE>(w & 0xFF);
    p[1] = static_cast<BYTE>(w >> 8);
}

void DecodeColorBlock(const BYTE* block, bool allowTransparent, Rgba out[16]) {
    const WORD c0 = static_cast<WORD>(block[0] | (block[1] << 8));
    const WORD c1 = static_cast<WORD>(block[2] | (block[3] << 8));
    const Vec3 a = Unpack565(c0), b = Unpack565(c1);
    Rgba palette[4];
    palette[0] = {a.x, a.y, a.z, 1.0f};
    palette[1] = {b.x, b.y, b.z, 1.0f};
    if (c0 > c1 || !allowTransparent) {
        const Vec3 p2 = (a * 2.0f + b) * (1.0f / 3.0f), p3 = (a + b * 2.0f) * (1.0f / 3.0f);
        palette[2] = {p2.x, p2.y, p2.z, 1.0f};
        palette[3] = {p3.x, p3.y, p3.z, 1.0f};
    } else {
        const Vec3 p2 = (a + b) * 0.5f;
        palette[2] = {p2.x, p2.y, p2.z, 1.0f};
        palette[3] = {0, 0, 0, 0};
    }
    const std::uint32_t indices = block[4] | (block[5] << 8) | (block[6] << 16) | (static_cast<std::uint32_t>(block[7]) << 24);
    for (int i = 0; i < 16; ++i) out[i] = palette[(indices >> (2 * i)) & 3];
}

void EncodeDxt3Alpha(const Rgba in[16], BYTE block[8]) {
    float error[16] = {};
    std::memset(block, 0, 8);
    for (int i = 0; i < 16; ++i) {
        const float v = in[i].a + error[i];
        const int q = RoundNonNegative(Clamp01(v) * 15.0f);
        Diffuse(error, i, v - static_cast<float>(q) / 15.0f);
        block[i / 2] |= static_cast<BYTE>(q << (4 * (i & 1)));
    }
}

void EncodeDxt5Alpha(const Rgba in[16], BYTE block[8]) {
    // Diffuse to 8-bit precision first.
    float alpha[16];
    float error[16] = {};
    bool allOne = true, hasExtreme = false;
    for (int i = 0; i < 16; ++i) {
        const float v = in[i].a + error[i];
        const float q = static_cast<float>(RoundNonNegative(Clamp01(v) * 255.0f)) / 255.0f;
        Diffuse(error, i, v - q);
        alpha[i] = q;
        allOne = allOne && q == 1.0f;
        hasExtreme = hasExtreme || q == 0.0f || q == 1.0f;
    }
    std::memset(block, 0, 8);
    if (allOne) {
        block[0] = block[1] = 255;
        return;
    }
    // Endpoints from the alphas the interpolated entries cover.
    Scalar points[16];
    int count = 0;
    float lo = 1.0f, hi = 0.0f;
    for (int i = 0; i < 16; ++i) {
        if (hasExtreme && (alpha[i] == 0.0f || alpha[i] == 1.0f)) continue;
        points[count++] = {alpha[i]};
        lo = std::min(lo, alpha[i]);
        hi = std::max(hi, alpha[i]);
    }
    const int entries = hasExtreme ? 6 : 8;
    Scalar e0{count > 0 ? lo : 0.0f}, e1{count > 0 ? hi : 0.0f};
    if (count > 0) RefineEndpoints(e0, e1, points, count, entries, 1.0f / 64.0f, 1.0f / 256.0f, Dot1);
    int a0 = RoundNonNegative(Clamp01(e0.v) * 255.0f);
    int a1 = RoundNonNegative(Clamp01(e1.v) * 255.0f);
    // Eight values: larger first; six values: smaller first.
    if (hasExtreme ? a0 > a1 : a0 < a1) std::swap(a0, a1);
    block[0] = static_cast<BYTE>(a0);
    block[1] = static_cast<BYTE>(a1);
    static constexpr int kEightCodes[8] = {0, 2, 3, 4, 5, 6, 7, 1};
    static constexpr int kSixCodes[6] = {0, 2, 3, 4, 5, 1};
    const float f0 = a0 / 255.0f, f1 = a1 / 255.0f;
    const float steps = static_cast<float>(entries - 1);
    std::uint64_t bits = 0;
    float diffused[16] = {};
    for (int i = 0; i < 16; ++i) {
        const float v = in[i].a + diffused[i];
        int code = 0;
        float chosen = f0;
        if (hasExtreme && v <= f0 * 0.5f) {
            code = 6, chosen = 0.0f;
        } else if (hasExtreme && v > (f1 + 1.0f) * 0.5f) {
            code = 7, chosen = 1.0f;
        } else if (a0 != a1) {
            const float t = Position((v - f0) / (f1 - f0) * steps, steps);
            const int position = static_cast<int>(t);
            code = hasExtreme ? kSixCodes[position] : kEightCodes[position];
            chosen = f0 + (f1 - f0) * t / steps;
        }
        Diffuse(diffused, i, v - chosen);
        bits |= static_cast<std::uint64_t>(code) << (3 * i);
    }
    for (int k = 0; k < 6; ++k) block[2 + k] = static_cast<BYTE>(bits >> (8 * k));
}

void DecodeDxt5Alpha(const BYTE* block, float out[16]) {
    const int a0 = block[0], a1 = block[1];
    float values[8];
    values[0] = a0 / 255.0f;
    values[1] = a1 / 255.0f;
    if (a0 > a1) {
        for (int i = 2; i < 8; ++i) values[i] = static_cast<float>((8 - i) * a0 + (i - 1) * a1) / (7.0f * 255.0f);
    } else {
        for (int i = 2; i < 6; ++i) values[i] = static_cast<float>((6 - i) * a0 + (i - 1) * a1) / (5.0f * 255.0f);
        values[6] = 0.0f;
        values[7] = 1.0f;
    }
    std::uint64_t bits = 0;
    for (int k = 0; k < 6; ++k) bits |= static_cast<std::uint64_t>(block[2 + k]) << (8 * k);
    for (int i = 0; i < 16; ++i) out[i] = values[(bits >> (3 * i)) & 7];
}

bool IsPremultiplied(D3DFORMAT format) { return format == D3DFMT_DXT2 || format == D3DFMT_DXT4; }

}  // namespace

bool IsDxtFormat(D3DFORMAT format) {
    return format == D3DFMT_DXT1 || format == D3DFMT_DXT2 || format == D3DFMT_DXT3 || format == D3DFMT_DXT4 ||
           format == D3DFMT_DXT5;
}

UINT DxtBlockBytes(D3DFORMAT format) {
    if (format == D3DFMT_DXT1) return 8;
    return IsDxtFormat(format) ? 16 : 0;
}

void DecodeDxtBlock(D3DFORMAT format, const BYTE* block, Rgba out[16]) {
    if (format == D3DFMT_DXT1) {
        DecodeColorBlock(block, true, out);
        return;
    }
    DecodeColorBlock(block + 8, false, out);
    if (format == D3DFMT_DXT2 || format == D3DFMT_DXT3) {
        for (int i = 0; i < 16; ++i) out[i].a = static_cast<float>((block[i / 2] >> (4 * (i & 1))) & 15) / 15.0f;
    } else {
        float alpha[16];
        DecodeDxt5Alpha(block, alpha);
        for (int i = 0; i < 16; ++i) out[i].a = alpha[i];
    }
    if (IsPremultiplied(format)) {
        for (int i = 0; i < 16; ++i) {
            Rgba& c = out[i];
            const float inverse = c.a > 0.0f ? 1.0f / c.a : 0.0f;
            c.r = Clamp01(c.r * inverse), c.g = Clamp01(c.g * inverse), c.b = Clamp01(c.b * inverse);
        }
    }
}

void EncodeDxtColorBlock(const Rgba in[16], bool allowTransparent, BYTE block[8]) {
    // Step 1: transparency, alphas dithered to one bit.
    bool transparent[16] = {};
    int transparentCount = 0;
    if (allowTransparent) {
        float error[16] = {};
        for (int i = 0; i < 16; ++i) {
            const float v = in[i].a + error[i];
            const float q = v < 0.5f ? 0.0f : 1.0f;
            Diffuse(error, i, v - q);
            transparent[i] = q == 0.0f;
            transparentCount += transparent[i] ? 1 : 0;
        }
        if (transparentCount == 16) {
            StoreWord(block, 0x0000);
            StoreWord(block + 2, 0xFFFF);
            std::memset(block + 4, 0xFF, 4);
            return;
        }
    }
    const int entries = transparentCount > 0 ? 3 : 4;

    // Step 2: colours diffused to 5-6-5 precision, then scaled for fitting.
    Vec3 points[16];
    int count = 0;
    {
        Vec3 error[16] = {};
        for (int i = 0; i < 16; ++i) {
            const Vec3 v = Vec3{in[i].r, in[i].g, in[i].b} + error[i];
            const Vec3 q = Round565(v);
            Diffuse(error, i, v - q);
            if (!transparent[i]) points[count++] = Scale(q);
        }
    }

    // Step 3: endpoints along the best bounding-box diagonal, then least-squares refinement.
    Vec3 lo = points[0], hi = points[0];
    for (int i = 1; i < count; ++i) {
        lo = {std::min(lo.x, points[i].x), std::min(lo.y, points[i].y), std::min(lo.z, points[i].z)};
        hi = {std::max(hi.x, points[i].x), std::max(hi.y, points[i].y), std::max(hi.z, points[i].z)};
    }
    Vec3 e0 = lo, e1 = hi;
    const Vec3 diagonal = hi - lo;
    const float diagonal2 = diagonal.Dot(diagonal);
    if (std::sqrt(diagonal2) >= FLT_MIN) {
        const Vec3 centre = (lo + hi) * 0.5f;
        float best = -1.0f;
        for (int flip = 0; flip < 4; ++flip) {
            const Vec3 a{lo.x, (flip & 1) ? hi.y : lo.y, (flip & 2) ? hi.z : lo.z};
            const Vec3 b{hi.x, (flip & 1) ? lo.y : hi.y, (flip & 2) ? lo.z : hi.z};
            const Vec3 axis = b - a;
            float sum = 0.0f;
            for (int i = 0; i < count; ++i) {
                const float p = (points[i] - centre).Dot(axis);
                sum += p * p;
            }
            if (sum > best) best = sum, e0 = a, e1 = b;
        }
        if (diagonal2 >= 1.0f / 4096.0f) {
            RefineEndpoints(e0, e1, points, count, entries, 1.0f / 65536.0f, 1.0f / 4096.0f, Dot3);
        }
    }

    // Step 4: endpoints to 5-6-5, ordered as the mode requires.
    WORD c0 = Pack565(Unscale(e0)), c1 = Pack565(Unscale(e1));
    if (entries == 4 ? c0 < c1 : c0 > c1) std::swap(c0, c1);
    StoreWord(block, c0);
    StoreWord(block + 2, c1);

    // Step 5: indices along the quantised endpoint line, with the error of each choice diffused.
    const Vec3 q0 = Unpack565(c0), q1 = Unpack565(c1);
    const Vec3 s0 = Scale(q0), axis = Scale(q1) - s0;
    const float length2 = axis.Dot(axis);
    const float steps = static_cast<float>(entries - 1);
    static constexpr int kFourCodes[4] = {0, 2, 3, 1};
    static constexpr int kThreeCodes[3] = {0, 2, 1};
    std::uint32_t indices = 0;
    Vec3 error[16] = {};
    for (int i = 0; i < 16; ++i) {
        int code = 0;
        if (transparent[i]) {
            code = 3;
        } else if (entries == 4 && c0 == c1) {
            code = 0;
        } else {
            const Vec3 v = Vec3{in[i].r, in[i].g, in[i].b} + error[i];
            float t = 0.0f;
            if (length2 > 0.0f) t = Position((Scale(v) - s0).Dot(axis) / length2 * steps, steps);
            code = entries == 4 ? kFourCodes[static_cast<int>(t)] : kThreeCodes[static_cast<int>(t)];
            const Vec3 chosen = q0 + (q1 - q0) * (t / steps);
            Diffuse(error, i, v - chosen);
        }
        indices |= static_cast<std::uint32_t>(code) << (2 * i);
    }
    for (int k = 0; k < 4; ++k) block[4 + k] = static_cast<BYTE>(indices >> (8 * k));
}

void EncodeDxtBlock(D3DFORMAT format, const Rgba in[16], BYTE* block) {
    Rgba pixels[16];
    for (int i = 0; i < 16; ++i) {
        pixels[i] = {Clamp01(in[i].r), Clamp01(in[i].g), Clamp01(in[i].b), Clamp01(in[i].a)};
        if (IsPremultiplied(format)) {
            pixels[i].r *= pixels[i].a, pixels[i].g *= pixels[i].a, pixels[i].b *= pixels[i].a;
        }
    }
    if (format == D3DFMT_DXT1) {
        EncodeDxtColorBlock(pixels, true, block);
        return;
    }
    if (format == D3DFMT_DXT2 || format == D3DFMT_DXT3) {
        EncodeDxt3Alpha(pixels, block);
    } else {
        EncodeDxt5Alpha(pixels, block);
    }
    EncodeDxtColorBlock(pixels, false, block + 8);
}

namespace {

class DxtCodec final : public FormatCodec {
public:
    DxtCodec(const CodecInfo& info, const PixelBox& box) : FormatCodec(info, box) {
        blockBytes_ = DxtBlockBytes(info.format);
        firstBlockColumn_ = box.box.left / 4;
        blockColumns_ = width_ == 0 ? 0 : (box.box.right - 1) / 4 - firstBlockColumn_ + 1;
        slices_.resize(depth_);
        for (SliceRow& slice : slices_) slice.pixels.resize(static_cast<std::size_t>(blockColumns_) * 16);
    }

private:
    struct SliceRow {
        long blockRow = -1;     // the block row held, or -1
        bool writing = false;
        unsigned present = 0;   // rows of the block row written (or outside the box)
        std::vector<Rgba> pixels;  // 4 rows of blockColumns_ x 4 pixels
    };

    UINT RowStride() const { return blockColumns_ * 4; }

    BYTE* BlockAddress(UINT z, UINT blockRow, UINT blockColumn) const {
        return box_.pixels + static_cast<std::size_t>(box_.box.front + z) * box_.slicePitch +
               static_cast<std::size_t>(blockRow) * box_.rowPitch + static_cast<std::size_t>(blockColumn) * blockBytes_;
    }

    void DecodeBlockRow(UINT z, SliceRow& slice, UINT blockRow) {
        Rgba block[16];
        for (UINT c = 0; c < blockColumns_; ++c) {
            DecodeDxtBlock(info_.format, BlockAddress(z, blockRow, firstBlockColumn_ + c), block);
            for (int i = 0; i < 16; ++i) slice.pixels[(i / 4) * RowStride() + c * 4 + (i % 4)] = block[i];
        }
    }

    void EncodeBlockRow(UINT z, SliceRow& slice) {
        const UINT blockRow = static_cast<UINT>(slice.blockRow);
        Rgba block[16];
        static constexpr int kRepeat[4] = {0, 0, 0, 1};
        for (UINT c = 0; c < blockColumns_; ++c) {
            for (int i = 0; i < 16; ++i) block[i] = slice.pixels[(i / 4) * RowStride() + c * 4 + (i % 4)];
            const UINT x0 = (firstBlockColumn_ + c) * 4, y0 = blockRow * 4;
            for (int col = 0; col < 4; ++col) {
                if (x0 + col < box_.extent.right) continue;
                for (int row = 0; row < 4; ++row) block[row * 4 + col] = block[row * 4 + kRepeat[col]];
            }
            for (int row = 0; row < 4; ++row) {
                if (y0 + row < box_.extent.bottom) continue;
                for (int col = 0; col < 4; ++col) block[row * 4 + col] = block[kRepeat[row] * 4 + col];
            }
            EncodeDxtBlock(info_.format, block, BlockAddress(z, blockRow, firstBlockColumn_ + c));
        }
        slice.blockRow = -1;
        slice.writing = false;
    }

    void DecodeRow(UINT y, UINT z, Rgba* out) override {
        SliceRow& slice = slices_[z];
        const UINT ay = box_.box.top + y;
        const long blockRow = static_cast<long>(ay / 4);
        if (slice.blockRow != blockRow || slice.writing) {
            if (slice.writing) EncodeBlockRow(z, slice);
            DecodeBlockRow(z, slice, static_cast<UINT>(blockRow));
            slice.blockRow = blockRow;
        }
        std::copy_n(&slice.pixels[(ay % 4) * RowStride() + (box_.box.left - firstBlockColumn_ * 4)], width_, out);
    }

    void EncodeRow(UINT y, UINT z, const Rgba* in, bool) override {
        SliceRow& slice = slices_[z];
        const UINT ay = box_.box.top + y;
        const long blockRow = static_cast<long>(ay / 4);
        if (slice.blockRow != blockRow || !slice.writing) {
            if (slice.writing) EncodeBlockRow(z, slice);  // an unfinished block row is not lost
            const UINT y0 = static_cast<UINT>(blockRow) * 4;
            slice.present = 0;
            bool partialRows = false;
            for (UINT r = 0; r < 4; ++r) {
                const UINT row = y0 + r;
                if (row < box_.box.top || row >= box_.box.bottom) {
                    slice.present |= 1u << r;
                    partialRows = partialRows || row < box_.extent.bottom;
                }
            }
            const bool partialColumns =
                box_.box.left % 4 != 0 || (box_.box.right % 4 != 0 && box_.box.right < box_.extent.right);
            if (partialRows || partialColumns) DecodeBlockRow(z, slice, static_cast<UINT>(blockRow));
            slice.blockRow = blockRow;
            slice.writing = true;
        }
        std::copy_n(in, width_, &slice.pixels[(ay % 4) * RowStride() + (box_.box.left - firstBlockColumn_ * 4)]);
        slice.present |= 1u << (ay % 4);
        if (slice.present == 0xF) EncodeBlockRow(z, slice);
    }

    Rgba QuantiseOne(const Rgba& value) override {
        Rgba c{Clamp01(value.r), Clamp01(value.g), Clamp01(value.b), Clamp01(value.a)};
        const D3DFORMAT f = info_.format;
        if (f == D3DFMT_DXT1) {
            if (c.a < 0.5f) return Rgba{};
            const Vec3 q = Unpack565(Pack565({c.r, c.g, c.b}));
            return {q.x, q.y, q.z, 1.0f};
        }
        const float alpha = (f == D3DFMT_DXT2 || f == D3DFMT_DXT3) ? RoundNonNegative(c.a * 15.0f) / 15.0f
                                                                   : RoundNonNegative(c.a * 255.0f) / 255.0f;
        const float premultiply = IsPremultiplied(f) ? c.a : 1.0f;
        Vec3 q = Unpack565(Pack565(Vec3{c.r, c.g, c.b} * premultiply));
        if (IsPremultiplied(f)) {
            const float inverse = alpha > 0.0f ? 1.0f / alpha : 0.0f;
            q = {Clamp01(q.x * inverse), Clamp01(q.y * inverse), Clamp01(q.z * inverse)};
        }
        return {q.x, q.y, q.z, alpha};
    }

    UINT blockBytes_ = 0;
    UINT firstBlockColumn_ = 0;
    UINT blockColumns_ = 0;
    std::vector<SliceRow> slices_;
};

}  // namespace

std::unique_ptr<FormatCodec> MakeDxtCodec(const CodecInfo& info, const PixelBox& box) {
    return std::make_unique<DxtCodec>(info, box);
}

}  // namespace qm
