// data_buffer.cpp: the reference-counted byte block.
#include "library/mesh/data_buffer.h"

#include <new>
#include <vector>

#include "platform/win/large_blocks.h"

namespace qm {
namespace {

class ByteBlock final : public RefCounted<ByteBlock, DataBuffer> {
public:
    // Large blocks (adjacency and remap tables of big meshes) sit in huge pages.
    using Bytes = ByteArray;
    explicit ByteBlock(Bytes bytes) : bytes_(std::move(bytes)) {}
    void* GetBufferPointer() override { return bytes_.empty() ? nullptr : bytes_.data(); }
    DWORD GetBufferSize() override { return static_cast<DWORD>(bytes_.size()); }

private:
    Bytes bytes_;
};

}  // namespace

namespace {

HRESULT MakeDataBuffer(DWORD size, bool clear, DataBuffer** out) {
    if (out == nullptr) return D3DERR_INVALIDCALL;
    *out = nullptr;
    ByteBlock::Bytes bytes;
    try {
        if (clear)
            bytes.resize(size);
        else
            bytes.extend(size);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    ComPtr<ByteBlock> block = MakeRef<ByteBlock>(std::move(bytes));
    if (!block) return E_OUTOFMEMORY;
    *out = block.Detach();
    return S_OK;
}

}  // namespace

HRESULT CreateDataBuffer(DWORD size, DataBuffer** out) { return MakeDataBuffer(size, true, out); }

HRESULT CreateUnclearedDataBuffer(DWORD size, DataBuffer** out) { return MakeDataBuffer(size, false, out); }

}  // namespace qm
