// debug_output.h: finding entry points of modules already loaded in the process (GetModuleHandleA,
// GetProcAddress), which is how the library reaches the Direct3D debug runtime's DebugSetMute.
#pragma once

#include "platform/win/win_types.h"

struct HINSTANCE__;
using HMODULE = HINSTANCE__*;
using FARPROC = void (*)();

// The debug runtime's switch for its messages: nonzero mutes, zero speaks again.
using DebugSetMuteProc = void (*)(BOOL mute);

// The handle of a loaded module whose name matches moduleName without regard to case, or null.
// Nothing is loaded by this call. A module counts as loaded while at least one of its entry points
// is registered.
HMODULE GetModuleHandleA(LPCSTR moduleName);
// The entry point procName of a loaded module, or null.
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);

// Makes an entry point visible as an export of a loaded module of that name, as a debug runtime
// (or a stand-in for one) does when it comes into the process; a null proc takes it away again.
// Module handles stay valid for the process's life.
void RegisterModuleEntry(LPCSTR moduleName, LPCSTR procName, FARPROC proc);
