// jpeg_reader.cpp: the JPEG reader, driving libjpeg (6b API) over the file in memory with an error
// manager that jumps back to the reader.
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "library/math/math_dispatch.h"
#include "library/tex/image_readers.h"
#include "library/tex/reader_support.h"
#include "platform/win/results.h"

#if !defined(QM_FORCE_SCALAR) || !QM_FORCE_SCALAR
#if defined(__SSE2__)
#include <emmintrin.h>
#define QM_JPEG_SSE2 1
#endif
#endif

// After the platform headers: libjpeg's configuration defines TRUE and FALSE as macros.
#include <jpeglib.h>
#include <jerror.h>

namespace qm {

namespace {

struct JpegErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

// The memory source: starts empty; a refill hands libjpeg the whole file again from its first byte.
// libjpeg asks again only when the data ran out early; a file whose markers claim more bytes than it
// has could then consume its own copies forever (a marker segment swallowing the repeated file and
// ending in phase with it), so the file is handed over at most twice and a third request is an error.
struct JpegMemorySource {
    jpeg_source_mgr base;
    const BYTE* data;
    std::size_t size;
    int handovers;
};

constexpr int kMaxHandovers = 2;

void ErrorExit(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrorManager*>(info->err)->jump, 1);
}

void DiscardMessage(j_common_ptr) {}

void InitSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr info) {
    auto* source = reinterpret_cast<JpegMemorySource*>(info->src);
    if (source->handovers >= kMaxHandovers) ERREXIT(info, JERR_INPUT_EOF);
    ++source->handovers;
    source->base.next_input_byte = source->data;
    source->base.bytes_in_buffer = source->size;
    return TRUE;
}

// Skips within the bytes handed over; a skip past their end stops at the end of the data.
void SkipInputData(j_decompress_ptr info, long count) {
    if (count <= 0) return;
    jpeg_source_mgr* source = info->src;
    std::size_t skipped = static_cast<std::size_t>(count) < source->bytes_in_buffer ? static_cast<std::size_t>(count)
                                                                                   : source->bytes_in_buffer;
    source->next_input_byte += skipped;
    source->bytes_in_buffer -= skipped;
}

void TermSource(j_decompress_ptr) {}

// The decompression object and its managers; the object is destroyed on every path.
struct JpegDecoder {
    jpeg_decompress_struct info{};
    JpegErrorManager error{};
    JpegMemorySource source{};

    JpegDecoder(const BYTE* data, UINT size) {
        info.err = jpeg_std_error(&error.base);
        error.base.error_exit = ErrorExit;
        error.base.output_message = DiscardMessage;
        source.base.next_input_byte = nullptr;
        source.base.bytes_in_buffer = 0;
        source.base.init_source = InitSource;
        source.base.fill_input_buffer = FillInputBuffer;
        source.base.skip_input_data = SkipInputData;
        source.base.resync_to_restart = jpeg_resync_to_restart;
        source.base.term_source = TermSource;
        source.data = data;
        source.size = size;
        source.handovers = 0;
    }
    ~JpegDecoder() { jpeg_destroy_decompress(&info); }
    JpegDecoder(const JpegDecoder&) = delete;
    JpegDecoder& operator=(const JpegDecoder&) = delete;
};

// Copies `count` 4-byte pixels with their fourth byte set to 0.
void CopyClearingFourthBytesPortable(BYTE* out, const BYTE* pixels, UINT count) {
    for (UINT x = 0; x < count; ++x, pixels += 4, out += 4) {
        out[0] = pixels[0];
        out[1] = pixels[1];
        out[2] = pixels[2];
        out[3] = 0;
    }
}

#if QM_JPEG_SSE2
void CopyClearingFourthBytesSse2(BYTE* out, const BYTE* pixels, UINT count) {
    const __m128i mask = _mm_set1_epi32(0x00FFFFFF);  // little-endian: the fourth byte is the top one
    UINT x = 0;
    for (; x + 8 <= count; x += 8) {
        const __m128i* from = reinterpret_cast<const __m128i*>(pixels + 4 * static_cast<std::size_t>(x));
        __m128i* to = reinterpret_cast<__m128i*>(out + 4 * static_cast<std::size_t>(x));
        _mm_storeu_si128(to, _mm_and_si128(_mm_loadu_si128(from), mask));
        _mm_storeu_si128(to + 1, _mm_and_si128(_mm_loadu_si128(from + 1), mask));
    }
    CopyClearingFourthBytesPortable(out + 4 * static_cast<std::size_t>(x), pixels + 4 * static_cast<std::size_t>(x),
                                    count - x);
}
#endif

void CopyClearingFourthBytes(BYTE* out, const BYTE* pixels, UINT count) {
#if QM_JPEG_SSE2
    CopyClearingFourthBytesSse2(out, pixels, count);
#else
    CopyClearingFourthBytesPortable(out, pixels, count);
#endif
}

// Everything that may raise a libjpeg error. Holds no objects with destructors, so the jump back from
// the error manager skips nothing that needs cleaning up: the decoder and the record own everything.
HRESULT Decompress(JpegDecoder* decoder, SourceImage* image) {
    if (setjmp(decoder->error.jump) != 0) return E_FAIL;
    jpeg_decompress_struct* info = &decoder->info;
    jpeg_CreateDecompress(info, JPEG_LIB_VERSION, sizeof(jpeg_decompress_struct));
    info->src = &decoder->source.base;
    jpeg_read_header(info, TRUE);
    // Without MMX the fast integer transform is used; with it, libjpeg's default.
    if (MathHasMmx() == 0) info->dct_method = JDCT_IFAST;
    // The output layout, worked out without decoding any scan; decoding starts once the pixels have
    // somewhere to go.
    jpeg_calc_output_dimensions(info);

    const UINT width = info->output_width;
    const UINT height = info->output_height;
    const int components = info->output_components;
    std::uint64_t rowPitch = 0;
    if (components == 1) {
        image->format = D3DFMT_L8;
        rowPitch = width;
    } else if (components == 3) {
        image->format = D3DFMT_X8R8G8B8;
        rowPitch = std::uint64_t{width} * 4;
    } else {
        return E_FAIL;
    }
    image->width = width;
    image->height = height;
    image->depth = 1;
    image->rowPitch = static_cast<UINT>(rowPitch);
    image->slicePitch = 0;
    if (!image->decode) return S_OK;

#ifdef JCS_EXTENSIONS
    // Colour: libjpeg converts straight into blue, green, red, x bytes, which are the X8R8G8B8 pixels
    // once the fourth byte (left undefined by the library) is cleared. The layout is chosen only now,
    // after the component count above was taken from the file's own output colour space.
    const bool direct = components == 1 || info->out_color_space == JCS_RGB;
    if (direct && components == 3) {
        info->out_color_space = JCS_EXT_BGRX;
        jpeg_calc_output_dimensions(info);
        if (info->output_components != 4) return E_FAIL;
    }
#else
    const bool direct = components == 1;
#endif
    jpeg_start_decompress(info);
    if (info->output_width != width || info->output_height != height) return E_FAIL;
    // Every row is written in full below, so the block needs no zero-filling.
    BYTE* block = nullptr;
    HRESULT hr = AllocateWrittenPixels(image, rowPitch, height, &block);
    if (FAILED(hr)) return hr;
    if (direct) {
        // Grey rows are decoded in place. Colour rows go through a few rows of 4-byte pixels in the
        // decompressor's pool and are copied out with the fourth byte cleared. The buffer rows start
        // 4 bytes past a 16-byte boundary on purpose: libjpeg's vector colour conversion writes
        // aligned rows with stores that bypass the cache, while this copy (and the work that may
        // follow on the copied rows) wants them in the cache.
        constexpr JDIMENSION kRowsPerCall = 2;
        constexpr JDIMENSION kBufferOffset = 4;
        JSAMPROW rows[kRowsPerCall];
        JSAMPARRAY buffer = nullptr;
        if (components == 3) {
            buffer = (*info->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(info), JPOOL_IMAGE,
                                                width * 4 + 16, kRowsPerCall);
        }
        while (info->output_scanline < height) {
            const JDIMENSION first = info->output_scanline;
            const JDIMENSION count = height - first < kRowsPerCall ? height - first : kRowsPerCall;
            for (JDIMENSION i = 0; i < count; ++i) {
                rows[i] = buffer != nullptr ? buffer[i] + kBufferOffset
                                            : block + (std::uint64_t{first} + i) * rowPitch;
            }
            const JDIMENSION done = jpeg_read_scanlines(info, rows, count);
            if (done == 0) return E_FAIL;
            if (buffer != nullptr) {
                for (JDIMENSION i = 0; i < done; ++i) {
                    CopyClearingFourthBytes(block + (std::uint64_t{first} + i) * rowPitch, rows[i], width);
                }
            }
            if (image->InTarget() && image->target.rowsReady != nullptr) {
                image->target.rowsReady(image->target.context, info->output_scanline);
            }
        }
    } else {
        JSAMPARRAY row = (*info->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(info), JPOOL_IMAGE,
                                                    width * static_cast<JDIMENSION>(components), 1);
        while (info->output_scanline < height) {
            std::uint64_t y = info->output_scanline;
            if (jpeg_read_scanlines(info, row, 1) != 1) return E_FAIL;
            BYTE* target = block + y * rowPitch;
            const JSAMPLE* samples = row[0];
            for (UINT x = 0; x < width; ++x, samples += 3, target += 4) {
                target[0] = samples[2];
                target[1] = samples[1];
                target[2] = samples[0];
                target[3] = 0;
            }
        }
    }
    jpeg_finish_decompress(info);
    return S_OK;
}

}  // namespace

HRESULT ReadJpg(SourceImage* image, const BYTE* data, UINT size) {
    if (data == nullptr || size == 0) return E_FAIL;
    JpegDecoder decoder(data, size);
    return Decompress(&decoder, image);
}

}  // namespace qm
