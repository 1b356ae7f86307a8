// object_name.cpp: reading an X-file object's name.
#include "platform/xof/object_name.h"

#include <cstring>

namespace qm::xof {

HRESULT ReadObjectName(IDirectXFileObject* object, std::optional<std::string>* name) {
    name->reset();
    DWORD length = 0;
    HRESULT hr = object->GetName(nullptr, &length);
    if (FAILED(hr)) return hr;
    if (length == 0) return S_OK;
    std::string buffer(length, '\0');
    hr = object->GetName(buffer.data(), &length);
    if (FAILED(hr)) return hr;
    // The length counts the terminating zero; the text ends at the first zero in any case.
    buffer.resize(std::strlen(buffer.c_str()));
    *name = std::move(buffer);
    return S_OK;
}

}  // namespace qm::xof
