// module_loader.cpp: dlopen of the module by path and dlsym of the names in the public export list.
#include "host/module_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <vector>

namespace qm {

namespace {

#define QM_EXPORT_NAME(name) #name,
constexpr const char* kExportNames[] = {QM_EXPORT_LIST(QM_EXPORT_NAME)};
#undef QM_EXPORT_NAME
static_assert(std::size(kExportNames) == QM_EXPORT_COUNT, "the export list and its count disagree");

// Symbol addresses come back as void*; POSIX guarantees they convert to function pointers.
template <class Fn>
Fn Resolve(void* handle, const char* name) {
    return reinterpret_cast<Fn>(dlsym(handle, name));
}

}  // namespace

std::span<const char* const> ExportNames() { return kExportNames; }

int FindExport(std::string_view name) {
    auto found = std::find(std::begin(kExportNames), std::end(kExportNames), name);
    return found == std::end(kExportNames) ? -1 : static_cast<int>(found - std::begin(kExportNames));
}

std::string DefaultModulePath() {
    std::vector<char> buffer(4096);
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) return "./quillmere.hpi";
    std::string self(buffer.data(), static_cast<std::size_t>(length));
    std::size_t slash = self.rfind('/');
    return self.substr(0, slash + 1) + "quillmere.hpi";
}

bool LoadedModule::Open(const std::string& modulePath) {
    Close();
    path = modulePath;
    error.clear();
    // dlopen searches the library path for names without a slash; a module is always named by path.
    std::string openPath = modulePath.find('/') == std::string::npos ? "./" + modulePath : modulePath;
    handle = dlopen(openPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        error = why != nullptr ? why : "dlopen failed";
        return false;
    }
    for (std::size_t i = 0; i < QM_EXPORT_COUNT; ++i) exports[i] = Resolve<QmExportFn>(handle, kExportNames[i]);
    createWindow = Resolve<CreateHostWindowFn>(handle, "qmCreateHostWindow");
    destroyWindow = Resolve<DestroyHostWindowFn>(handle, "qmDestroyHostWindow");
    return true;
}

void LoadedModule::Close() {
    std::fill(std::begin(exports), std::end(exports), nullptr);
    createWindow = nullptr;
    destroyWindow = nullptr;
    if (handle != nullptr) dlclose(handle);
    handle = nullptr;
}

}  // namespace qm
