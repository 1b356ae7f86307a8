// module_entry.cpp: the module's own entry points beside the exports: host windows for the script host.
// Nothing runs at load beyond the engine state's static initialisation; there is no per-thread
// notification to switch off on this platform.
#include "quillmere/quillmere.h"

#include "platform/win/host_window.h"

extern "C" QM_API int32_t qmCreateHostWindow(QmPresentFn callback, void* user) {
    return CreateHostWindow(callback, user);
}

extern "C" QM_API void qmDestroyHostWindow(int32_t id) { DestroyHostWindow(id); }
