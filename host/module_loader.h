// module_loader.h: loads quillmere.hpi with dlopen by path and resolves every export by name.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "quillmere/quillmere.h"

namespace qm {

// The export names in the order of the public header's list.
std::span<const char* const> ExportNames();
// Position of name in ExportNames(), or -1 when it is not an export.
int FindExport(std::string_view name);

// quillmere.hpi beside the running executable (found through /proc/self/exe); "quillmere.hpi" in
// the working folder when the executable's path cannot be read.
std::string DefaultModulePath();

using CreateHostWindowFn = std::int32_t (*)(QmPresentFn callback, void* user);
using DestroyHostWindowFn = void (*)(std::int32_t id);

// One loaded module. A failed Open leaves it closed with Error() saying why; exports the module does
// not have stay null, so a partial module (a test double, an older build) can still be used.
class LoadedModule {
public:
    LoadedModule() = default;
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;
    ~LoadedModule() { Close(); }

    // Loads the shared object at path (a bare file name is taken from the working folder, not from
    // the library search path) and resolves the exports. Returns false when it cannot be loaded.
    bool Open(const std::string& path);
    // dlcloses the module; every resolved address becomes null.
    void Close();

    bool IsOpen() const { return handle != nullptr; }
    const std::string& Path() const { return path; }
    const std::string& Error() const { return error; }

    // The export at position index of ExportNames(), or null when the module lacks it.
    QmExportFn Export(std::size_t index) const { return index < QM_EXPORT_COUNT ? exports[index] : nullptr; }
    CreateHostWindowFn CreateHostWindowEntry() const { return createWindow; }
    DestroyHostWindowFn DestroyHostWindowEntry() const { return destroyWindow; }

private:
    void* handle = nullptr;
    std::string path;
    std::string error;
    QmExportFn exports[QM_EXPORT_COUNT] = {};
    CreateHostWindowFn createWindow = nullptr;
    DestroyHostWindowFn destroyWindow = nullptr;
};

}  // namespace qm
