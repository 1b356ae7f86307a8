// objects.cpp: the parser, enumerator, data-object and data-reference objects over a parsed
// document, and DirectXFileCreate.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <new>
#include <vector>

#include "platform/xof/document.h"
#include "platform/xof/xof.h"

namespace qm::xof {
namespace {

using DocumentPtr = std::shared_ptr<const Document>;

HRESULT CopyName(const std::string& name, LPSTR buffer, DWORD* length) {
    if (length == nullptr) return DXFILEERR_BADVALUE;
    const DWORD needed = name.empty() ? 0 : DWORD(name.size() + 1);
    if (buffer == nullptr) {
        *length = needed;
        return S_OK;
    }
    if (*length < needed) {
        *length = needed;
        return DXFILEERR_BADVALUE;
    }
    if (needed > 0) std::memcpy(buffer, name.c_str(), needed);
    else if (*length > 0) buffer[0] = '\0';
    *length = needed;
    return S_OK;
}

// Data objects and references answer for IDirectXFileObject too, which the reference-counting
// base does not list.
template <class Self, class Interface>
HRESULT QueryWithObject(Self* self, REFIID riid, void** object) {
    if (object != nullptr && riid == IID_IDirectXFileObject) {
        self->AddRef();
        *object = static_cast<IDirectXFileObject*>(static_cast<Interface*>(self));
        return S_OK;
    }
    return self->RefCounted<Self, Interface>::QueryInterface(riid, object);
}

class FileData final : public RefCounted<FileData, IDirectXFileData> {
public:
    FileData(DocumentPtr doc, std::uint32_t node) : doc_(std::move(doc)), node_(&doc_->At(node)) {}

    HRESULT QueryInterface(REFIID riid, void** object) override {
        return QueryWithObject<FileData, IDirectXFileData>(this, riid, object);
    }
    HRESULT GetName(LPSTR name, DWORD* length) override { return CopyName(node_->name, name, length); }
    HRESULT GetId(GUID* id) override {
        if (id == nullptr) return DXFILEERR_BADVALUE;
        *id = node_->id;
        return S_OK;
    }
    HRESULT GetData(LPCSTR member, DWORD* size, void** data) override {
        if (size == nullptr || data == nullptr) return DXFILEERR_BADVALUE;
        const std::uint8_t* base = node_->data.data();
        if (member == nullptr) {
            *size = DWORD(node_->data.size());
            *data = const_cast<std::uint8_t*>(base);
            return S_OK;
        }
        if (*member == '\0') return DXFILEERR_NOTFOUND;  // unnamed members cannot be asked for
        const auto& members = node_->tmpl->members;
        for (std::size_t i = 0; i < members.size(); ++i) {
            if (members[i].name != member) continue;
            const std::uint32_t begin = node_->memberOffsets[i];
            *size = node_->memberOffsets[i + 1] - begin;
            *data = const_cast<std::uint8_t*>(base + begin);
            return S_OK;
        }
        return DXFILEERR_NOTFOUND;
    }
    HRESULT GetType(const GUID** type) override {
        if (type == nullptr) return DXFILEERR_BADVALUE;
        *type = &node_->tmpl->guid;
        return S_OK;
    }
    HRESULT GetNextObject(IDirectXFileObject** child) override;
    HRESULT AddDataObject(IDirectXFileData*) override { return E_NOTIMPL; }
    HRESULT AddDataReference(LPCSTR, const GUID*) override { return E_NOTIMPL; }
    HRESULT AddBinaryObject(LPCSTR, const GUID*, LPCSTR, LPVOID, DWORD) override { return E_NOTIMPL; }
    HRESULT GetString(DWORD index, LPCSTR* string) override {
        if (string == nullptr) return DXFILEERR_BADVALUE;
        if (index >= node_->strings.size()) {
            *string = nullptr;
            return DXFILEERR_BADVALUE;
        }
        *string = node_->strings[index].c_str();
        return S_OK;
    }

private:
    DocumentPtr doc_;
    const Node* node_;
    std::size_t nextChild_ = 0;
};

class FileReference final : public RefCounted<FileReference, IDirectXFileDataReference> {
public:
    FileReference(DocumentPtr doc, const ChildEntry* entry) : doc_(std::move(doc)), entry_(entry) {}

    HRESULT QueryInterface(REFIID riid, void** object) override {
        return QueryWithObject<FileReference, IDirectXFileDataReference>(this, riid, object);
    }
    HRESULT GetName(LPSTR name, DWORD* length) override { return CopyName(entry_->name, name, length); }
    HRESULT GetId(GUID* id) override {
        if (id == nullptr) return DXFILEERR_BADVALUE;
        *id = entry_->id;
        return S_OK;
    }
    HRESULT Resolve(IDirectXFileData** data) override {
        if (data == nullptr) return DXFILEERR_BADVALUE;
        ComPtr<FileData> target = MakeRef<FileData>(doc_, entry_->node);
        *data = target.Detach();
        return *data ? S_OK : DXFILEERR_BADALLOC;
    }

private:
    DocumentPtr doc_;
    const ChildEntry* entry_;
};

HRESULT FileData::GetNextObject(IDirectXFileObject** child) {
    if (child == nullptr) return DXFILEERR_BADVALUE;
    *child = nullptr;
    if (nextChild_ >= node_->children.size()) return DXFILEERR_NOMOREOBJECTS;
    const ChildEntry& entry = node_->children[nextChild_];
    if (entry.reference) {
        ComPtr<FileReference> ref = MakeRef<FileReference>(doc_, &entry);
        if (!ref) return DXFILEERR_BADALLOC;
        *child = static_cast<IDirectXFileDataReference*>(ref.Detach());
    } else {
        ComPtr<FileData> data = MakeRef<FileData>(doc_, entry.node);
        if (!data) return DXFILEERR_BADALLOC;
        *child = static_cast<IDirectXFileData*>(data.Detach());
    }
    ++nextChild_;
    return S_OK;
}

HRESULT HandOut(const DocumentPtr& doc, std::uint32_t node, IDirectXFileData** data) {
    ComPtr<FileData> object = MakeRef<FileData>(doc, node);
    if (!object) return DXFILEERR_BADALLOC;
    *data = object.Detach();
    return S_OK;
}

class FileEnum final : public RefCounted<FileEnum, IDirectXFileEnumObject> {
public:
    explicit FileEnum(DocumentPtr doc) : doc_(std::move(doc)) {}

    HRESULT GetNextDataObject(IDirectXFileData** data) override {
        if (data == nullptr) return DXFILEERR_BADVALUE;
        *data = nullptr;
        if (next_ >= doc_->topLevel.size()) return DXFILEERR_NOMOREOBJECTS;
        HRESULT hr = HandOut(doc_, doc_->topLevel[next_], data);
        if (SUCCEEDED(hr)) ++next_;
        return hr;
    }
    HRESULT GetDataObjectById(REFGUID id, IDirectXFileData** data) override {
        if (data == nullptr) return DXFILEERR_BADVALUE;
        *data = nullptr;
        auto it = doc_->byId.find(id);
        return it == doc_->byId.end() ? DXFILEERR_NOTFOUND : HandOut(doc_, it->second, data);
    }
    HRESULT GetDataObjectByName(LPCSTR name, IDirectXFileData** data) override {
        if (data == nullptr || name == nullptr) return DXFILEERR_BADVALUE;
        *data = nullptr;
        auto it = doc_->byName.find(std::string_view(name));
        return it == doc_->byName.end() ? DXFILEERR_NOTFOUND : HandOut(doc_, it->second, data);
    }

private:
    DocumentPtr doc_;
    std::size_t next_ = 0;
};

HRESULT ReadWholeFile(const char* path, std::vector<std::uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return DXFILEERR_FILENOTFOUND;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0) return DXFILEERR_FILENOTFOUND;
    if (static_cast<std::uint64_t>(size) > 0xFFFFFFFFull) return DXFILEERR_BADFILE;
    in.seekg(0, std::ios::beg);
    bytes.resize(std::size_t(size));
    if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), size)) return DXFILEERR_BADFILE;
    return S_OK;
}

// The bytes of a regular file, read straight into large-block storage (no clearing, no copy
// through a stream); anything else is read through a stream.
class FileImage {
public:
    HRESULT Open(const char* path) {
        const int fd = open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) return ReadWholeFile(path, copy_);
        struct stat info {};
        if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            close(fd);
            return ReadWholeFile(path, copy_);
        }
        if (static_cast<std::uint64_t>(info.st_size) > 0xFFFFFFFFull) {
            close(fd);
            return DXFILEERR_BADFILE;
        }
        HRESULT hr = S_OK;
        try {
            std::uint8_t* to = bytes_.extend(std::size_t(info.st_size));
            std::size_t done = 0;
            while (done < std::size_t(info.st_size)) {
                const ssize_t got = read(fd, to + done, std::size_t(info.st_size) - done);
                if (got < 0 && errno == EINTR) continue;
                if (got <= 0) break;
                done += std::size_t(got);
            }
            // A read error, or a file that shrank meanwhile.
            if (done != std::size_t(info.st_size)) hr = DXFILEERR_BADFILE;
        } catch (const std::bad_alloc&) {
            hr = DXFILEERR_BADALLOC;
        }
        close(fd);
        fromStream_ = false;
        return hr;
    }
    const std::uint8_t* Data() const { return fromStream_ ? copy_.data() : bytes_.data(); }
    std::size_t Size() const { return fromStream_ ? copy_.size() : bytes_.size(); }

private:
    ByteArray bytes_;
    std::vector<std::uint8_t> copy_;
    bool fromStream_ = true;
};

class FileParserObject final : public RefCounted<FileParserObject, IDirectXFile> {
public:
    HRESULT CreateEnumObject(LPVOID source, DXFILELOADOPTIONS options, IDirectXFileEnumObject** enumObject) override {
        if (enumObject == nullptr) return DXFILEERR_BADVALUE;
        *enumObject = nullptr;
        if (source == nullptr) return DXFILEERR_BADVALUE;
        FileImage file;
        const std::uint8_t* data = nullptr;
        std::size_t size = 0;
        switch (options) {
            case DXFILELOAD_FROMFILE: {
                HRESULT hr = file.Open(static_cast<const char*>(source));
                if (FAILED(hr)) return hr;
                data = file.Data();
                size = file.Size();
                break;
            }
            case DXFILELOAD_FROMMEMORY: {
                const auto* memory = static_cast<const DXFILELOADMEMORY*>(source);
                if (memory->lpMemory == nullptr) return DXFILEERR_BADVALUE;
                data = static_cast<const std::uint8_t*>(memory->lpMemory);
                size = memory->dSize;
                break;
            }
            case DXFILELOAD_FROMRESOURCE:
                return DXFILEERR_RESOURCENOTFOUND;
            default:
                return DXFILEERR_BADVALUE;
        }
        try {
            auto doc = std::make_shared<Document>();
            TemplateStore fileTemplates = templates_;
            HRESULT hr = ParseFile(data, size, fileTemplates, doc.get());
            if (FAILED(hr)) return hr;
            ComPtr<FileEnum> made = MakeRef<FileEnum>(DocumentPtr(std::move(doc)));
            if (!made) return DXFILEERR_BADALLOC;
            *enumObject = made.Detach();
            return S_OK;
        } catch (const std::bad_alloc&) {
            return DXFILEERR_BADALLOC;
        }
    }
    HRESULT CreateSaveObject(LPCSTR, DXFILEFORMAT, IDirectXFileSaveObject** saveObject) override {
        if (saveObject) *saveObject = nullptr;
        return E_NOTIMPL;
    }
    HRESULT RegisterTemplates(LPVOID data, DWORD size) override {
        if (data == nullptr) return DXFILEERR_BADVALUE;
        try {
            TemplateStore added = templates_;
            HRESULT hr = ParseFile(static_cast<const std::uint8_t*>(data), size, added, nullptr);
            if (FAILED(hr)) return hr;
            templates_ = std::move(added);
            return S_OK;
        } catch (const std::bad_alloc&) {
            return DXFILEERR_BADALLOC;
        }
    }

private:
    TemplateStore templates_;
};

}  // namespace
}  // namespace qm::xof

HRESULT DirectXFileCreate(IDirectXFile** parser) {
    if (parser == nullptr) return DXFILEERR_BADVALUE;
    ComPtr<qm::xof::FileParserObject> made = MakeRef<qm::xof::FileParserObject>();
    *parser = made.Detach();
    return *parser ? S_OK : DXFILEERR_BADALLOC;
}
