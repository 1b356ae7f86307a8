// format.cpp: X-file header reading and MSZIP block expansion (each block a raw deflate stream,
// RFC 1951, whose dictionary is the previous 32 KiB of output).
#include "platform/xof/format.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "platform/xof/xof.h"

namespace qm::xof {
namespace {

bool Same(const std::uint8_t* p, const char* text) { return std::memcmp(p, text, 4) == 0; }

struct EncodingName {
    const char* tag;
    bool binary;
    bool compressed;
};
constexpr EncodingName kEncodings[] = {
    {"txt ", false, false}, {"bin ", true, false}, {"tzip", false, true}, {"bzip", true, true}};

constexpr std::size_t kWindow = 32768;

// Inflates one block: in/inSize from just after the "CK" signature; the block must be one whole
// deflate stream giving exactly `expected` bytes, written straight into out's next bytes, with the
// previous 32 KiB of output as its dictionary. `consumed` tells how much input the stream used.
HRESULT InflateBlock(z_stream& stream, const std::uint8_t* in, std::size_t inSize, ByteArray& out,
                     std::size_t expected, std::size_t& consumed) {
    if (inflateReset(&stream) != Z_OK) return DXFILEERR_BADFILE;
    const std::size_t history = std::min(out.size(), kWindow);
    if (history > 0 && inflateSetDictionary(&stream, out.data() + out.size() - history, uInt(history)) != Z_OK)
        return DXFILEERR_BADFILE;
    // Not cleared first: inflate writes every byte of it, or the block fails.
    std::uint8_t* to = out.extend(expected);
    stream.next_in = const_cast<Bytef*>(in);
    stream.avail_in = uInt(inSize);
    stream.next_out = to;
    stream.avail_out = uInt(expected);
    const int rc = inflate(&stream, Z_FINISH);
    consumed = inSize - stream.avail_in;
    return rc == Z_STREAM_END && stream.avail_out == 0 ? S_OK : DXFILEERR_BADFILE;
}

}  // namespace

HRESULT ReadHeader(const std::uint8_t* data, std::size_t size, FileHeader& header) {
    if (data == nullptr || size < kHeaderSize || !Same(data, "xof ")) return DXFILEERR_BADFILETYPE;
    if (!Same(data + 4, "0302") && !Same(data + 4, "0303")) return DXFILEERR_BADFILEVERSION;
    const EncodingName* encoding = nullptr;
    for (const EncodingName& e : kEncodings)
        if (Same(data + 8, e.tag)) encoding = &e;
    if (encoding == nullptr) return Same(data + 8, "com ") ? DXFILEERR_BADFILECOMPRESSIONTYPE : DXFILEERR_BADFILETYPE;
    if (Same(data + 12, "0032")) {
        header.floatSize = 4;
    } else if (Same(data + 12, "0064")) {
        header.floatSize = 8;
    } else {
        return DXFILEERR_BADFILEFLOATSIZE;
    }
    header.binary = encoding->binary;
    header.compressed = encoding->compressed;
    return S_OK;
}

HRESULT ExpandBody(const std::uint8_t* data, std::size_t size, ByteArray& out) {
    out.clear();
    if (size < 4) return DXFILEERR_BADFILE;
    const std::uint32_t total = std::uint32_t(data[0]) | std::uint32_t(data[1]) << 8 | std::uint32_t(data[2]) << 16 |
                                std::uint32_t(data[3]) << 24;
    // The stated size is only a hint: reserve no more than a modest multiple of the input, and
    // let the vector grow if the blocks really expand further.
    out.reserve(std::min<std::size_t>(total, size * 16));
    z_stream stream{};
    if (inflateInit2(&stream, -15) != Z_OK) return DXFILEERR_BADALLOC;
    struct Closer {
        z_stream* s;
        ~Closer() { inflateEnd(s); }
    } closer{&stream};

    std::size_t pos = 4;
    HRESULT hr = S_OK;
    while (pos < size) {
        if (size - pos < 6) return DXFILEERR_BADFILE;
        const std::size_t expected = std::size_t(data[pos]) | std::size_t(data[pos + 1]) << 8;
        const std::size_t packed = std::size_t(data[pos + 2]) | std::size_t(data[pos + 3]) << 8;
        if (data[pos + 4] != 'C' || data[pos + 5] != 'K' || packed < 2) return DXFILEERR_BADFILE;
        const std::size_t streamStart = pos + 6;
        // The stream is allowed two bytes past the stated size, for writers whose size leaves
        // the signature out.
        const std::size_t available = std::min(size - streamStart, packed);
        std::size_t consumed = 0;
        hr = InflateBlock(stream, data + streamStart, available, out, expected, consumed);
        if (FAILED(hr)) return hr;
        pos = streamStart + (consumed <= packed - 2 ? packed - 2 : packed);
        if (pos > size) return DXFILEERR_BADFILE;
    }
    if (out.empty() || (out.size() + kHeaderSize != total && out.size() != total)) return DXFILEERR_BADFILE;
    return S_OK;
}

}  // namespace qm::xof
