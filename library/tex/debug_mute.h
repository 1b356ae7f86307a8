// debug_mute.h: switching the Direct3D debug runtime's messages off around the library's probing
// calls (format checks and lock attempts that are expected to fail).
#pragma once

#include "platform/win/debug_output.h"
#include "platform/win/win_types.h"

namespace qm {

// Calls DebugSetMute(mute) of d3d9.dll and of d3d9d.dll, each when it is loaded in the process,
// unless the registry value LibraryDoNotMute (HKEY_LOCAL_MACHINE "Software\Platform\Direct3D") is a
// nonzero DWORD, which disables muting for the process's life.
void MuteDebugOutput(bool mute);

// The state behind MuteDebugOutput: the entries found so far and the registry's answer, read once.
// Entries are looked up again on every call until at least one is found.
class DebugOutputMuter {
public:
    void Mute(bool mute);

private:
    DebugSetMuteProc release_ = nullptr;
    DebugSetMuteProc debug_ = nullptr;
    bool registryRead_ = false;
    bool disabled_ = false;
};

// Mutes the debug output for the guard's lifetime.
class ScopedDebugMute {
public:
    ScopedDebugMute() { MuteDebugOutput(true); }
    ~ScopedDebugMute() { MuteDebugOutput(false); }
    ScopedDebugMute(const ScopedDebugMute&) = delete;
    ScopedDebugMute& operator=(const ScopedDebugMute&) = delete;
};

}  // namespace qm
