// dxt_codec_test.cpp: DXT block decoding against the S3TC layouts, and the encoder's exact cases,
// edge repetition, partial-block writes and error bounds on synthetic images.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "library/tex/convert_filter.h"
#include "library/tex/dxt_codec.h"
#include "platform/win/results.h"
#include "tests/tex/pixel_test_support.h"

namespace qm {
namespace {

using pixeltest::Image;
using pixeltest::Random;

void ExpectNear(const Rgba& v, const Rgba& e, float tolerance, int i) {
    EXPECT_NEAR(v.r, e.r, tolerance) << "pixel " << i;
    EXPECT_NEAR(v.g, e.g, tolerance) << "pixel " << i;
    EXPECT_NEAR(v.b, e.b, tolerance) << "pixel " << i;
    EXPECT_NEAR(v.a, e.a, tolerance) << "pixel " << i;
}

TEST(DxtBlocks, DecodeFollowsTheBlockLayouts) {
    Rgba out[16];
    // Red then blue (first greater): four colours. Indices 0, 1, 2, 3 for pixels 0-3, then zeros.
    const BYTE four[8] = {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0x00, 0x00, 0x00};
    DecodeDxtBlock(D3DFMT_DXT1, four, out);
    ExpectNear(out[0], {1, 0, 0, 1}, 1e-6f, 0);
    ExpectNear(out[1], {0, 0, 1, 1}, 1e-6f, 1);
    ExpectNear(out[2], {2 / 3.f, 0, 1 / 3.f, 1}, 1e-6f, 2);
    ExpectNear(out[3], {1 / 3.f, 0, 2 / 3.f, 1}, 1e-6f, 3);
    // Blue then red (first not greater): three colours and transparent black.
    const BYTE three[8] = {0x1F, 0x00, 0x00, 0xF8, 0xE4, 0x00, 0x00, 0x00};
    DecodeDxtBlock(D3DFMT_DXT1, three, out);
    ExpectNear(out[2], {0.5f, 0, 0.5f, 1}, 1e-6f, 2);
    ExpectNear(out[3], {0, 0, 0, 0}, 0, 3);
    // DXT3: explicit 4-bit alpha, low nibble first; the colour block always has four entries.
    BYTE dxt3[16] = {0x0F, 0x50};
    std::memcpy(dxt3 + 8, three, 8);
    DecodeDxtBlock(D3DFMT_DXT3, dxt3, out);
    EXPECT_FLOAT_EQ(out[0].a, 1.0f);
    EXPECT_FLOAT_EQ(out[1].a, 0.0f);
    EXPECT_FLOAT_EQ(out[3].a, 5 / 15.f);
    ExpectNear(out[3], {2 / 3.f, 0, 1 / 3.f, 5 / 15.f}, 1e-6f, 3);
    // DXT5: 255, 0 gives eight values (code 2 = 6/7); 0, 255 gives six plus 0 and 1.
    BYTE dxt5[16] = {255, 0, 0x0A};  // pixel 0 code 2, pixel 1 code 1
    std::memcpy(dxt5 + 8, four, 8);
    DecodeDxtBlock(D3DFMT_DXT5, dxt5, out);
    EXPECT_NEAR(out[0].a, 6 / 7.f, 1e-6);
    EXPECT_NEAR(out[1].a, 0.0f, 1e-6);
    dxt5[0] = 0, dxt5[1] = 255, dxt5[2] = 0x3E;  // pixel 0 code 6, pixel 1 code 7
    DecodeDxtBlock(D3DFMT_DXT5, dxt5, out);
    EXPECT_EQ(out[0].a, 0.0f);
    EXPECT_EQ(out[1].a, 1.0f);
    // DXT4 stores colour multiplied by alpha: red 1 at alpha 6/7 reads back 7/6 clamped to 1;
    // blue (index 1) at alpha 0 reads black.
    dxt5[0] = 255, dxt5[1] = 0, dxt5[2] = 0x0A;
    DecodeDxtBlock(D3DFMT_DXT4, dxt5, out);
    ExpectNear(out[0], {1, 0, 0, 6 / 7.f}, 1e-6f, 0);
    ExpectNear(out[1], {0, 0, 0, 0}, 0, 1);
}

TEST(DxtBlocks, EncoderExactCases) {
    // Two 565 colours in a checkerboard are represented exactly, in every format.
    const Rgba a{1, 0, 0, 1}, b{0, 32 / 63.f, 1, 1};
    Rgba in[16];
    for (int i = 0; i < 16; ++i) in[i] = ((i + i / 4) % 2 == 0) ? a : b;
    for (D3DFORMAT format : {D3DFMT_DXT1, D3DFMT_DXT2, D3DFMT_DXT3, D3DFMT_DXT4, D3DFMT_DXT5}) {
        BYTE block[16];
        Rgba out[16];
        EncodeDxtBlock(format, in, block);
        DecodeDxtBlock(format, block, out);
        const int g = (32 << 2) | (32 >> 4);  // 6-bit 32 widened to 8 bits
        for (int i = 0; i < 16; ++i) {
            const Rgba expected = ((i + i / 4) % 2 == 0) ? a : Rgba{0, g / 255.f, 1, 1};
            ExpectNear(out[i], expected, 1e-6f, i);
        }
    }
    // Alpha below 0.5 in DXT1: the transparent entry; all transparent gives the fixed block.
    for (int i = 0; i < 16; ++i) in[i] = i < 8 ? Rgba{0, 0, 0, 0} : a;
    BYTE block[16];
    Rgba out[16];
    EncodeDxtBlock(D3DFMT_DXT1, in, block);
    EXPECT_LE(block[0] | (block[1] << 8), block[2] | (block[3] << 8));
    DecodeDxtBlock(D3DFMT_DXT1, block, out);
    for (int i = 0; i < 16; ++i) ExpectNear(out[i], in[i], 1e-6f, i);
    for (Rgba& v : in) v = {0.3f, 0.6f, 0.9f, 0.0f};
    EncodeDxtBlock(D3DFMT_DXT1, in, block);
    const BYTE allTransparent[8] = {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(0, std::memcmp(block, allTransparent, 8));
    // DXT3 keeps multiples of 1/15 and DXT5 two alpha levels exactly.
    for (int i = 0; i < 16; ++i) in[i] = {1, 0, 0, static_cast<float>(i) / 15.0f};
    EncodeDxtBlock(D3DFMT_DXT3, in, block);
    DecodeDxtBlock(D3DFMT_DXT3, block, out);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(out[i].a, i / 15.0f, 1e-6) << i;
    for (int i = 0; i < 16; ++i) in[i].a = i % 3 == 0 ? 0.2f : 0.8f;
    EncodeDxtBlock(D3DFMT_DXT5, in, block);
    DecodeDxtBlock(D3DFMT_DXT5, block, out);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(out[i].a, in[i].a, 0.5f / 255.0f) << i;
    // An opaque DXT5 block stores 255, 255 and zero indices.
    for (Rgba& v : in) v.a = 1.0f;
    EncodeDxtBlock(D3DFMT_DXT5, in, block);
    EXPECT_EQ(block[0], 255);
    EXPECT_EQ(block[1], 255);
    for (int k = 2; k < 8; ++k) EXPECT_EQ(block[k], 0);
}

// Endpoint refinement stops as soon as each of the six gradient components, squared, is below 2^-16,
// even when their sum is not. Worked by hand, with the 5-6-5 codes as steps (8-bit values in brackets):
// pixel 0 = (3, 3, 3) [24, 12, 24], pixels 1-13 black, pixel 14 = (1, 2, 3) [8, 8, 24], pixel 15 =
// (2, 1, 2) [16, 4, 16]. Diffusion to 5-6-5 keeps these codes (the carried errors stay below 0.003).
// The box runs from black to (3, 3, 3); its main diagonal wins. In fitting space (red x 0.29704,
// blue x 0.10078) pixel 14 projects to position 1.77 -> 2 and pixel 15 to 1.29 -> 1 on the 0..3 line;
// their residuals against the palette are (+1, 0, -1) and (-1, 0, -1) steps, so both gradients are
// (-/+0.003194, 0, -0.003251): components squared 1.02e-5 and 1.06e-5, each below 2^-16 = 1.53e-5,
// their sum 2.08e-5 not. The endpoints stay the box corners: 0x1863 first (four entries), 0x0000.
// Indices from 0x1863: pixel 0 -> 0, black -> 1; pixel 14 projects to 1.22 -> palette (16, 8, 16),
// code 2, error (-8, 0, +8) / 255 with 7/16 of it reaching pixel 15, which becomes (12.5, 4, 19.5)
// and projects to 1.82 -> code 3. (A refinement step would move the blue end to code 4: 0x1864.)
TEST(DxtBlocks, RefinementStopsWhenEveryGradientComponentIsSmall) {
    auto colour = [](int r, int g, int b) {
        return Rgba{r / 255.0f, g / 255.0f, b / 255.0f, 1.0f};
    };
    Rgba in[16];
    for (Rgba& v : in) v = colour(0, 0, 0);
    in[0] = colour(24, 12, 24);
    in[14] = colour(8, 8, 24);
    in[15] = colour(16, 4, 16);
    const BYTE expected[8] = {0x63, 0x18, 0x00, 0x00, 0x54, 0x55, 0x55, 0xE5};
    BYTE block[16];
    EncodeDxtBlock(D3DFMT_DXT1, in, block);
    EXPECT_EQ(0, std::memcmp(block, expected, 8));
    // DXT5: the same colour half after an opaque alpha half (255, 255, zero indices).
    EncodeDxtBlock(D3DFMT_DXT5, in, block);
    const BYTE opaque[8] = {255, 255, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(block, opaque, 8));
    EXPECT_EQ(0, std::memcmp(block + 8, expected, 8));
}

// In three-colour mode the endpoints are fitted to all sixteen diffused points, the transparent
// pixels' colours included; only the indices leave them out. Pixels 0-7 are white with alpha 0,
// pixels 8-15 opaque black: the box runs from black to white (both exact in 5-6-5, so nothing is
// diffused), the refinement finds black at position 0 and white at 2 with no residual, and the
// endpoints are black and white, black first (not greater). The transparent pixels take index 3
// and black projects to position 0, code 0.
TEST(DxtBlocks, ThreeColourModeFitsAllSixteenPoints) {
    Rgba in[16];
    for (int i = 0; i < 16; ++i) in[i] = i < 8 ? Rgba{1, 1, 1, 0} : Rgba{0, 0, 0, 1};
    BYTE block[8];
    EncodeDxtBlock(D3DFMT_DXT1, in, block);
    const BYTE expected[8] = {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00};
    EXPECT_EQ(0, std::memcmp(block, expected, 8));
}

// Pixels from float formats can be NaN in any channel. Every format encodes such a block without
// undefined arithmetic (the sanitizer build checks the conversions) into a block that decodes to
// numbers.
TEST(DxtBlocks, NotANumberPixelsEncode) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (D3DFORMAT format : {D3DFMT_DXT1, D3DFMT_DXT2, D3DFMT_DXT3, D3DFMT_DXT4, D3DFMT_DXT5}) {
        for (int channel = 0; channel < 4; ++channel) {
            Rgba in[16];
            for (Rgba& v : in) v = {1, 0, 0, 1};
            for (int i = 0; i < 16; i += 5) (&in[i].r)[channel] = nan;
            BYTE block[16];
            EncodeDxtBlock(format, in, block);
            Rgba out[16];
            DecodeDxtBlock(format, block, out);
            for (const Rgba& v : out) {
                EXPECT_FALSE(std::isnan(v.r) || std::isnan(v.g) || std::isnan(v.b) || std::isnan(v.a));
            }
        }
    }
}

// RMS error over red, green and blue (and alpha where stored) on smooth gradients with noise.
TEST(DxtBlocks, EncodingErrorOnSyntheticImages) {
    Random random;
    const UINT size = 64;
    std::vector<Rgba> image(size * size);
    for (UINT y = 0; y < size; ++y) {
        for (UINT x = 0; x < size; ++x) {
            // A smooth luminance field with a tint, like a photograph's sky or skin, plus mild noise.
            auto noise = [&] { return (random.Unit() - 0.5f) * 0.02f; };
            const float t = 0.5f + 0.45f * std::sin(x * 0.07f + y * 0.05f);
            image[y * size + x] = {std::clamp(0.9f * t + 0.05f + noise(), 0.0f, 1.0f),
                                   std::clamp(0.8f * t + 0.1f + noise(), 0.0f, 1.0f),
                                   std::clamp(0.6f * t + 0.2f + noise(), 0.0f, 1.0f),
                                   std::clamp((x + y) / 126.0f, 0.0f, 1.0f)};
        }
    }
    struct Bound {
        D3DFORMAT format;
        double colour, alpha;
    };
    // Colour within 4/255 RMS (the 5-bit step is 8/255); DXT5 alpha, interpolated between 8-bit
    // endpoints, within 1/255; DXT3's diffused 4-bit alpha within half its step of 1/15.
    for (const Bound& bound : {Bound{D3DFMT_DXT1, 4 / 255.0, 1.0}, Bound{D3DFMT_DXT3, 4 / 255.0, 0.5 / 15.0},
                               Bound{D3DFMT_DXT5, 4 / 255.0, 1 / 255.0}}) {
        double colour = 0, alpha = 0;
        for (UINT by = 0; by < size; by += 4) {
            for (UINT bx = 0; bx < size; bx += 4) {
                Rgba in[16], out[16];
                for (int i = 0; i < 16; ++i) in[i] = image[(by + i / 4) * size + bx + i % 4];
                if (bound.format == D3DFMT_DXT1) for (Rgba& v : in) v.a = 1.0f;
                BYTE block[16];
                EncodeDxtBlock(bound.format, in, block);
                DecodeDxtBlock(bound.format, block, out);
                for (int i = 0; i < 16; ++i) {
                    colour += std::pow(out[i].r - in[i].r, 2) + std::pow(out[i].g - in[i].g, 2) +
                              std::pow(out[i].b - in[i].b, 2);
                    alpha += std::pow(out[i].a - in[i].a, 2);
                }
            }
        }
        EXPECT_LT(std::sqrt(colour / (3.0 * size * size)), bound.colour) << bound.format;
        EXPECT_LT(std::sqrt(alpha / (size * size)), bound.alpha) << bound.format;
    }
}

TEST(DxtCodec, EdgePixelsRepeatAndPartialBlocksSurvive) {
    // A 2 x 2 DXT1 image: the block's missing columns copy columns 0, 1 and its rows copy rows 0, 1.
    Image src(D3DFMT_A8R8G8B8, 2, 2, 4);
    src.Set<DWORD>(0, 0, 0xFFFF0000u);
    src.Set<DWORD>(1, 0, 0xFF0000FFu);
    src.Set<DWORD>(0, 1, 0xFF0000FFu);
    src.Set<DWORD>(1, 1, 0xFF0000FFu);
    Image dxt = Image::Blocks(D3DFMT_DXT1, 2, 2, 8);
    ASSERT_EQ(ConvertAndFilter(dxt.box, src.box, FILTER_NONE), S_OK);
    Rgba out[16];
    DecodeDxtBlock(D3DFMT_DXT1, dxt.bytes.data(), out);
    const Rgba red{1, 0, 0, 1}, blue{0, 0, 1, 1};
    for (int i = 0; i < 16; ++i) {
        const int x = i % 4, y = i / 4;
        ExpectNear(out[i], (x % 2 == 0 && y % 2 == 0) ? red : blue, 1e-6f, i);
    }

    // Writing the 2 x 2 box at (1, 1) of an 8 x 4 image keeps the pixels around it.
    Image wide(D3DFMT_A8R8G8B8, 8, 4, 4);
    for (UINT i = 0; i < 32; ++i) wide.Set<DWORD>(i % 8, i / 8, 0xFF00FF00u);
    Image target = Image::Blocks(D3DFMT_DXT1, 8, 4, 8);
    ASSERT_EQ(ConvertAndFilter(target.box, wide.box, FILTER_NONE), S_OK);
    Image patch(D3DFMT_A8R8G8B8, 2, 2, 4);
    for (UINT i = 0; i < 4; ++i) patch.Set<DWORD>(i % 2, i / 2, 0xFFFF0000u);
    target.box.box = {1, 1, 3, 3, 0, 1};
    ASSERT_EQ(ConvertAndFilter(target.box, patch.box, FILTER_NONE), S_OK);
    DecodeDxtBlock(D3DFMT_DXT1, target.bytes.data(), out);
    const Rgba green{0, 1, 0, 1};
    for (int i = 0; i < 16; ++i) {
        const int x = i % 4, y = i / 4;
        ExpectNear(out[i], (x >= 1 && x < 3 && y >= 1 && y < 3) ? red : green, 1e-6f, i);
    }
    DecodeDxtBlock(D3DFMT_DXT1, target.bytes.data() + 8, out);
    for (int i = 0; i < 16; ++i) ExpectNear(out[i], green, 1e-6f, i);
}

}  // namespace
}  // namespace qm
