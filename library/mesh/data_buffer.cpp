// data_buffer.cpp: the reference-counted byte block.
#include "library/mesh/data_buffer.h"

#include <new>
#include <vector>

namespace qm {
namespace {

class ByteBlock final : public RefCounted<ByteBlock, DataBuffer> {
public:
    explicit ByteBlock(std::vector<BYTE> bytes) : bytes_(std::move(bytes)) {}
    void* GetBufferPointer() override { return bytes_.empty() ? nullptr : bytes_.data(); }
    DWORD GetBufferSize() override { return static_cast<DWORD>(bytes_.size()); }

private:
    std::vector<BYTE> bytes_;
};

}  // namespace

HRESULT CreateDataBuffer(DWORD size, DataBuffer** out) {
    if (out == nullptr) return D3DERR_INVALIDCALL;
    *out = nullptr;
    std::vector<BYTE> bytes;
    try {
        bytes.resize(size);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    ComPtr<ByteBlock> block = MakeRef<ByteBlock>(std::move(bytes));
    if (!block) return E_OUTOFMEMORY;
    *out = block.Detach();
    return S_OK;
}

}  // namespace qm
