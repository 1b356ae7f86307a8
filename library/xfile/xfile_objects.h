// xfile_objects.h: helpers over the X-file parser's objects shared by the mesh reader and the
// hierarchy loader: names, template types, child walking and bounds-checked reads of object data.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/xof/xof.h"

namespace qm {

// The object's name; empty for an unnamed object. The parser's failure code otherwise.
HRESULT ReadObjectName(IDirectXFileObject* object, std::string* name);

// True when the data object's template is `type` (false when the type cannot be read).
bool HasTemplate(IDirectXFileData* object, const GUID& type);

// Walks the children of a data object in file order.
class ChildWalker {
public:
    explicit ChildWalker(IDirectXFileData* parent) : parent_(parent) {}

    // The next child that is a data object. With resolveReferences, references are resolved to
    // their target, and a child that is neither data nor a reference, or a failing resolution, ends
    // the walk with *error set to the code; without it every child that is not a data object is
    // skipped. false at the end of the children (any failure of the parser's next-child call ends
    // them); *error is S_OK then. *wasReference tells whether the child was a reference.
    bool Next(bool resolveReferences, ComPtr<IDirectXFileData>* child, HRESULT* error, bool* wasReference = nullptr);

private:
    IDirectXFileData* parent_;
};

// Bounds-checked little-endian reads of one object's data as the parser lays it out.
class DataView {
public:
    DataView() = default;
    DataView(const void* data, DWORD size) : data_(static_cast<const BYTE*>(data)), size_(size) {}

    // The whole data of the object; the parser's failure code when it cannot be had.
    static HRESULT Of(IDirectXFileData* object, DataView* view);

    DWORD Size() const { return size_; }
    const BYTE* Bytes() const { return data_; }
    // True when bytes [offset, offset + count) lie inside the data; no overflow for any inputs.
    bool Has(std::uint64_t offset, std::uint64_t count) const { return offset <= size_ && count <= size_ - offset; }
    // Reads at an offset the caller has checked with Has.
    DWORD U32(std::uint64_t offset) const { return Load<DWORD>(offset); }
    WORD U16(std::uint64_t offset) const { return Load<WORD>(offset); }
    float F32(std::uint64_t offset) const { return Load<float>(offset); }

private:
    template <class T>
    T Load(std::uint64_t offset) const {
        T value;
        std::memcpy(&value, data_ + offset, sizeof(T));
        return value;
    }

    const BYTE* data_ = nullptr;
    DWORD size_ = 0;
};

// The text of a STRING member whose 4-byte index sits at `offset` of the object's data; empty text
// when the index names no string. false when the data does not hold the index.
bool ReadStringMember(IDirectXFileData* object, const DataView& data, std::uint64_t offset, std::string* text);

}  // namespace qm
