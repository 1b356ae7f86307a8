// lua_bindings.h: the qm library of qmhost scripts: every export as qm.Name(w1, w2, w3, w4), the host
// buffers, number helpers and the host window.
#pragma once

#include <lua.hpp>

namespace qm {

class LoadedModule;
class FrameRecorder;

// What the bindings reach; both outlive the Lua state.
struct HostBindings {
    LoadedModule* module;
    FrameRecorder* frames;
};

// Opens the qm library into L as the global qm (also package.loaded.qm) and replaces os.exit so that
// it ends the script through the host, which then still writes its frames and unloads the module.
void OpenQmLibrary(lua_State* L, HostBindings* host);

// True when the error object at index asks the host to end the script without failing it (os.exit,
// or the frame window closed by the user); *exitCode receives the code to exit with.
bool IsStopRequest(lua_State* L, int index, int* exitCode);

}  // namespace qm
