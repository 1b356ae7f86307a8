// file_view.cpp: the read-only file view over open/fstat/mmap.
#include "library/tex/file_view.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "platform/win/codepage.h"
#include "platform/win/results.h"

namespace qm {

FileView::~FileView() {
    if (file_ != -1) Close();
}

HRESULT FileView::Open(LPCSTR path) {
    Close();
    if (path == nullptr) return ERR_INVALID_DATA;
    if (GetACP() == CP_UTF8) return OpenUtf8(path);
    return OpenUtf8(CodePageToUtf8(CP_ACP, path).c_str());
}

HRESULT FileView::Open(LPCWSTR path) {
    Close();
    if (path == nullptr) return ERR_INVALID_DATA;
    int length = WideCharToMultiByte(CP_UTF8, 0, path, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return ERR_INVALID_DATA;
    std::string utf8(static_cast<std::size_t>(length), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, path, -1, utf8.data(), length, nullptr, nullptr) != length) {
        return ERR_INVALID_DATA;
    }
    return OpenUtf8(utf8.c_str());
}

HRESULT FileView::OpenUtf8(const char* path) {
    // Non-blocking, so that naming a FIFO cannot hang the load; such files are refused below.
    file_ = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (file_ == -1) return ERR_INVALID_DATA;
    struct stat status {};
    if (::fstat(file_, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 0 ||
        static_cast<std::uint64_t>(status.st_size) > 0xFFFFFFFFu) {
        Close();
        return ERR_INVALID_DATA;
    }
    size_ = static_cast<UINT>(status.st_size);
    if (size_ == 0) return S_OK;
    void* mapping = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, file_, 0);
    if (mapping == MAP_FAILED) {
        Close();
        return ERR_INVALID_DATA;
    }
    view_ = static_cast<const BYTE*>(mapping);
    return S_OK;
}

void FileView::Close() {
    if (view_ != nullptr) ::munmap(const_cast<BYTE*>(view_), size_);
    view_ = nullptr;
    size_ = 0;
    if (file_ != -1) ::close(file_);
    file_ = -1;
}

}  // namespace qm
