// format.h: the 16-byte X-file header (magic, version 0302/0303, encoding, float size) and the
// expansion of compressed bodies (MSZIP blocks inflated with zlib).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/win/win_types.h"
#include "platform/win/large_blocks.h"

namespace qm::xof {

constexpr std::size_t kHeaderSize = 16;

struct FileHeader {
    bool binary = false;
    bool compressed = false;
    unsigned floatSize = 4;  // bytes of a binary float: 4 or 8
};

// Reads the header of a file image. DXFILEERR_BADFILETYPE (no "xof " or an unknown encoding),
// DXFILEERR_BADFILEVERSION, DXFILEERR_BADFILECOMPRESSIONTYPE, DXFILEERR_BADFILEFLOATSIZE.
HRESULT ReadHeader(const std::uint8_t* data, std::size_t size, FileHeader& header);

// Expands a compressed body (what follows the header): a 32-bit size of the expanded file (header
// included), then blocks of: 16-bit expanded size, 16-bit compressed size counting the "CK"
// signature, "CK", raw deflate data whose history is the output of the blocks before it.
// DXFILEERR_BADFILE for damaged or inconsistent blocks.
HRESULT ExpandBody(const std::uint8_t* data, std::size_t size, ByteArray& out);

}  // namespace qm::xof
