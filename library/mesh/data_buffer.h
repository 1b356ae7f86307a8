// data_buffer.h: DataBuffer, the library's reference-counted block of bytes that carries materials,
// adjacency, remap tables, effect instances and compiler messages between operations.
#pragma once

#include "platform/win/unknown.h"

namespace qm {

// Slot 3: the first byte (null for an empty buffer); slot 4: the size in bytes.
struct DataBuffer : IUnknown {
    static constexpr IID iid = {0x8BA5FB08, 0x5195, 0x40E2, {0xAC, 0x58, 0x0D, 0x98, 0x9C, 0x3A, 0x01, 0x02}};
    virtual void* GetBufferPointer() = 0;
    virtual DWORD GetBufferSize() = 0;

protected:
    ~DataBuffer() = default;
};

// Makes a zero-filled buffer of size bytes. D3DERR_INVALIDCALL when out is null, E_OUTOFMEMORY when
// the bytes cannot be had; *out is null on failure.
HRESULT CreateDataBuffer(DWORD size, DataBuffer** out);
// The same without clearing the bytes first, for callers that write every byte themselves before
// the buffer is handed on.
HRESULT CreateUnclearedDataBuffer(DWORD size, DataBuffer** out);

}  // namespace qm
