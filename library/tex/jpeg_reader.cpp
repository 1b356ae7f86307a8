// jpeg_reader.cpp: the JPEG reader, driving libjpeg (6b API) over the file in memory with an error
// manager that jumps back to the reader.
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "library/math/math_dispatch.h"
#include "library/tex/image_readers.h"
#include "platform/win/results.h"

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
    if (image->decode) {
        jpeg_start_decompress(info);
    } else {
        // Only the header is wanted: work out the output layout without decoding any scan.
        jpeg_calc_output_dimensions(info);
    }

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

    BYTE* block = nullptr;
    HRESULT hr = AllocatePixels(image, rowPitch, height, &block);
    if (FAILED(hr)) return hr;
    JSAMPARRAY row = (*info->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(info), JPOOL_IMAGE,
                                                width * static_cast<JDIMENSION>(components), 1);
    while (info->output_scanline < height) {
        std::uint64_t y = info->output_scanline;
        if (jpeg_read_scanlines(info, row, 1) != 1) return E_FAIL;
        BYTE* target = block + y * rowPitch;
        const JSAMPLE* samples = row[0];
        if (components == 1) {
            std::memcpy(target, samples, width);
        } else {
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
