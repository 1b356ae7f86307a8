// xof_test_util.cpp: helpers for the X-file parser tests.
#include "tests/platform/xof/xof_test_util.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace xoftest {

HRESULT Open(std::string_view file, ComPtr<IDirectXFileEnumObject>& enumObject, std::string_view templates) {
    ComPtr<IDirectXFile> parser;
    HRESULT hr = DirectXFileCreate(parser.ReleaseAndGetAddressOf());
    if (FAILED(hr)) return hr;
    if (!templates.empty()) {
        hr = parser->RegisterTemplates(const_cast<char*>(templates.data()), DWORD(templates.size()));
        if (FAILED(hr)) return hr;
    }
    DXFILELOADMEMORY memory{const_cast<char*>(file.data()), DWORD(file.size())};
    return parser->CreateEnumObject(&memory, DXFILELOAD_FROMMEMORY, enumObject.ReleaseAndGetAddressOf());
}

std::string NameOf(IDirectXFileObject* object) {
    DWORD length = 0;
    if (FAILED(object->GetName(nullptr, &length))) return "<error>";
    if (length == 0) return "";
    std::string name(length, '\0');
    if (FAILED(object->GetName(name.data(), &length))) return "<error>";
    name.resize(length - 1);
    return name;
}

std::vector<std::uint8_t> DataOf(IDirectXFileData* data, const char* member) {
    DWORD size = 0;
    void* bytes = nullptr;
    if (FAILED(data->GetData(member, &size, &bytes))) return {};
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    return std::vector<std::uint8_t>(p, p + size);
}

namespace {

std::string GuidText(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

void DumpInto(IDirectXFileData* data, std::ostringstream& out, int depth) {
    const GUID* type = nullptr;
    GUID id{};
    data->GetType(&type);
    data->GetId(&id);
    out << std::string(std::size_t(depth), ' ') << GuidText(*type) << " '" << NameOf(data) << "' " << GuidText(id) << " [";
    for (std::uint8_t b : DataOf(data)) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x", b);
        out << hex;
    }
    out << "]";
    LPCSTR text = nullptr;
    for (DWORD i = 0; SUCCEEDED(data->GetString(i, &text)); ++i) out << " \"" << text << "\"";
    out << "\n";
    for (;;) {
        ComPtr<IDirectXFileObject> child;
        if (FAILED(data->GetNextObject(child.ReleaseAndGetAddressOf()))) break;
        ComPtr<IDirectXFileData> childData;
        if (SUCCEEDED(child->QueryInterface(IID_IDirectXFileData, reinterpret_cast<void**>(childData.ReleaseAndGetAddressOf())))) {
            DumpInto(childData.Get(), out, depth + 1);
            continue;
        }
        ComPtr<IDirectXFileDataReference> ref;
        child->QueryInterface(IID_IDirectXFileDataReference, reinterpret_cast<void**>(ref.ReleaseAndGetAddressOf()));
        ComPtr<IDirectXFileData> target;
        ref->Resolve(target.ReleaseAndGetAddressOf());
        const GUID* targetType = nullptr;
        target->GetType(&targetType);
        out << std::string(std::size_t(depth) + 1, ' ') << "ref -> '" << NameOf(target.Get()) << "' " << GuidText(*targetType) << "\n";
    }
}

}  // namespace

std::string Dump(IDirectXFileData* data) {
    std::ostringstream out;
    DumpInto(data, out, 0);
    return out.str();
}

std::vector<std::string> DumpAll(IDirectXFileEnumObject* enumObject) {
    std::vector<std::string> dumps;
    for (;;) {
        ComPtr<IDirectXFileData> data;
        if (FAILED(enumObject->GetNextDataObject(data.ReleaseAndGetAddressOf()))) break;
        dumps.push_back(Dump(data.Get()));
    }
    return dumps;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string SamplePath(const std::string& name) { return std::string(QM_XFILE_SAMPLES) + "/" + name; }

void BinaryWriter::Token(std::uint16_t code) { bytes.append(reinterpret_cast<const char*>(&code), 2); }
void BinaryWriter::U32(std::uint32_t v) { bytes.append(reinterpret_cast<const char*>(&v), 4); }
void BinaryWriter::Name(std::string_view name) {
    Token(1);
    U32(std::uint32_t(name.size()));
    bytes.append(name);
}
void BinaryWriter::String(std::string_view text) {
    Token(2);
    U32(std::uint32_t(text.size()));
    bytes.append(text);
    U32(kSemicolon);
}
void BinaryWriter::Integer(std::uint32_t v) {
    Token(3);
    U32(v);
}
void BinaryWriter::IntegerList(const std::vector<std::uint32_t>& values) {
    Token(6);
    U32(std::uint32_t(values.size()));
    for (std::uint32_t v : values) U32(v);
}
void BinaryWriter::FloatList(const std::vector<double>& values) {
    Token(7);
    U32(std::uint32_t(values.size()));
    for (double v : values) {
        if (floatSize == 4) {
            float f = float(v);
            bytes.append(reinterpret_cast<const char*>(&f), 4);
        } else {
            bytes.append(reinterpret_cast<const char*>(&v), 8);
        }
    }
}
void BinaryWriter::Guid(const GUID& guid) {
    Token(5);
    bytes.append(reinterpret_cast<const char*>(&guid), 16);
}

}  // namespace xoftest
