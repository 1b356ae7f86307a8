// debug_mute.cpp: MuteDebugOutput over the debug runtime's DebugSetMute entries.
#include "library/tex/debug_mute.h"

#include "platform/win/registry.h"

namespace qm {

namespace {

constexpr char kDirect3DKey[] = "Software\\Platform\\Direct3D";
constexpr char kDoNotMuteValue[] = "LibraryDoNotMute";

DebugSetMuteProc FindDebugSetMute(LPCSTR moduleName) {
    HMODULE module = GetModuleHandleA(moduleName);
    if (module == nullptr) return nullptr;
    return reinterpret_cast<DebugSetMuteProc>(GetProcAddress(module, "DebugSetMute"));
}

}  // namespace

void DebugOutputMuter::Mute(bool mute) {
    if (release_ == nullptr && debug_ == nullptr) {
        release_ = FindDebugSetMute("d3d9.dll");
        debug_ = FindDebugSetMute("d3d9d.dll");
    }
    if (!registryRead_) {
        registryRead_ = true;
        DWORD value = 0;
        disabled_ = ReadRegistryDword(kDirect3DKey, kDoNotMuteValue, &value) && value != 0;
    }
    if (disabled_) return;
    if (release_ != nullptr) release_(mute ? TRUE : FALSE);
    if (debug_ != nullptr) debug_(mute ? TRUE : FALSE);
}

void MuteDebugOutput(bool mute) {
    static DebugOutputMuter muter;
    muter.Mute(mute);
}

}  // namespace qm
