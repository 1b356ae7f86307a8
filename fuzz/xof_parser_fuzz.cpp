// xof_parser_fuzz.cpp: libFuzzer target for the X-file parser: the input is a whole file image in
// any encoding, parsed as a file and as a template block; everything parsed is walked and released.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/xof/xof.h"

namespace {

// Touches every byte an object hands out and every child, reference target and string.
void Walk(IDirectXFileData* data, int depth) {
    DWORD length = 0;
    if (SUCCEEDED(data->GetName(nullptr, &length)) && length > 0) {
        std::vector<char> name(length);
        data->GetName(name.data(), &length);
    }
    GUID id;
    data->GetId(&id);
    const GUID* type = nullptr;
    data->GetType(&type);
    DWORD size = 0;
    void* bytes = nullptr;
    volatile std::uint8_t sink = 0;
    if (SUCCEEDED(data->GetData(nullptr, &size, &bytes)))
        for (DWORD i = 0; i < size; ++i) sink = sink ^ static_cast<const std::uint8_t*>(bytes)[i];
    LPCSTR text = nullptr;
    for (DWORD i = 0; SUCCEEDED(data->GetString(i, &text)); ++i)
        for (const char* p = text; *p; ++p) sink = sink ^ std::uint8_t(*p);
    for (;;) {
        ComPtr<IDirectXFileObject> child;
        if (FAILED(data->GetNextObject(child.ReleaseAndGetAddressOf()))) break;
        ComPtr<IDirectXFileData> childData;
        if (SUCCEEDED(child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(childData.ReleaseAndGetAddressOf())))) {
            Walk(childData.Get(), depth + 1);
            continue;
        }
        ComPtr<IDirectXFileDataReference> ref;
        if (SUCCEEDED(child->QueryInterface(IID_IDirectXFileDataReference, reinterpret_cast<void**>(ref.ReleaseAndGetAddressOf())))) {
            ComPtr<IDirectXFileData> target;
            // A target is walked one level only: references may form cycles.
            if (SUCCEEDED(ref->Resolve(target.ReleaseAndGetAddressOf())) && depth == 0) Walk(target.Get(), 1);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ComPtr<IDirectXFile> parser;
    if (FAILED(DirectXFileCreate(parser.ReleaseAndGetAddressOf()))) return 0;
    std::vector<std::uint8_t> copy(data, data + size);  // exact bounds for the sanitizer
    parser->RegisterTemplates(copy.data(), DWORD(copy.size()));
    DXFILELOADMEMORY memory{copy.data(), DWORD(copy.size())};
    ComPtr<IDirectXFileEnumObject> enumObject;
    if (FAILED(parser->CreateEnumObject(&memory, DXFILELOAD_FROMMEMORY, enumObject.ReleaseAndGetAddressOf()))) return 0;
    for (;;) {
        ComPtr<IDirectXFileData> object;
        if (FAILED(enumObject->GetNextDataObject(object.ReleaseAndGetAddressOf()))) break;
        Walk(object.Get(), 0);
    }
    return 0;
}
