// file_view.h: a read-only view of one whole file, mapped into memory for the length of a load.
#pragma once

#include "platform/win/win_types.h"

namespace qm {

// Holds one file open and mapped read-only. A missing, unreadable or non-regular file, or one of 4 GiB
// or more, gives ERR_INVALID_DATA. An empty file opens successfully with a null view and size 0.
class FileView {
public:
    FileView() = default;
    ~FileView();
    FileView(const FileView&) = delete;
    FileView& operator=(const FileView&) = delete;

    // Opens a file named in the system code page (converted to the file system's UTF-8 when the code
    // page is another). Closes any file already open first. Returns S_OK or ERR_INVALID_DATA.
    HRESULT Open(LPCSTR path);
    // Opens a file named in UTF-16.
    HRESULT Open(LPCWSTR path);
    // Unmaps the view and closes the file; the view becomes null and the size 0.
    void Close();

    const BYTE* Data() const { return view_; }
    UINT Size() const { return size_; }

private:
    HRESULT OpenUtf8(const char* path);

    int file_ = -1;
    const BYTE* view_ = nullptr;
    UINT size_ = 0;
};

}  // namespace qm
