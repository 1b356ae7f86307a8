// xfile_objects.cpp: names, template types, child walking and string members of X-file objects.
#include "library/xfile/xfile_objects.h"

#include <new>
#include <optional>

#include "platform/xof/object_name.h"

namespace qm {

HRESULT ReadObjectName(IDirectXFileObject* object, std::string* name) {
    std::optional<std::string> read;
    const HRESULT hr = xof::ReadObjectName(object, &read);
    *name = read.value_or(std::string());
    return hr;
}

bool HasTemplate(IDirectXFileData* object, const GUID& type) {
    const GUID* found = nullptr;
    return SUCCEEDED(object->GetType(&found)) && found != nullptr && *found == type;
}

bool ChildWalker::Next(bool resolveReferences, ComPtr<IDirectXFileData>* child, HRESULT* error, bool* wasReference) {
    *error = S_OK;
    for (;;) {
        child->Reset();
        ComPtr<IDirectXFileObject> object;
        if (FAILED(parent_->GetNextObject(object.ReleaseAndGetAddressOf())) || !object) return false;
        if (SUCCEEDED(object->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(child->ReleaseAndGetAddressOf())))) {
            if (wasReference != nullptr) *wasReference = false;
            return true;
        }
        if (!resolveReferences) continue;
        ComPtr<IDirectXFileDataReference> reference;
        HRESULT hr = object->QueryInterface(IID_IDirectXFileDataReference, reinterpret_cast<void**>(reference.ReleaseAndGetAddressOf()));
        if (FAILED(hr)) {
            *error = hr;
            return false;
        }
        if (FAILED(hr = reference->Resolve(child->ReleaseAndGetAddressOf()))) {
            *error = hr;
            return false;
        }
        if (wasReference != nullptr) *wasReference = true;
        return true;
    }
}

HRESULT DataView::Of(IDirectXFileData* object, DataView* view) {
    DWORD size = 0;
    void* data = nullptr;
    HRESULT hr = object->GetData(nullptr, &size, &data);
    if (FAILED(hr)) return hr;
    *view = DataView(data, data == nullptr ? 0 : size);
    return S_OK;
}

bool ReadStringMember(IDirectXFileData* object, const DataView& data, std::uint64_t offset, std::string* text) {
    text->clear();
    if (!data.Has(offset, 4)) return false;
    LPCSTR found = nullptr;
    if (SUCCEEDED(object->GetString(data.U32(offset), &found)) && found != nullptr) *text = found;
    return true;
}

}  // namespace qm
