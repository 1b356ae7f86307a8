// diagnostics.h: the recording backend for tests: a process-wide CallRecorder that receives one line
// per Direct3D call, and failure injection for Direct3D object and device creation.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/d3d9/d3d9caps.h"

// While a CallRecorder exists it receives one line for every call made on any Direct3D object,
// device or resource, and for Direct3DCreate9, in the order the calls are made, whether they
// succeed or not. AddRef, Release and QueryInterface are not recorded.
//
// A line is `Name(arg, arg, ...)`: the method's platform name and its arguments in order.
// - Integers are written in decimal: INT, LONG and BOOL signed; every other integer - DWORD, UINT,
//   enumerations, D3DCOLOR values, flag words - unsigned. So a light index of -1 is written
//   LightEnable(4294967295, 1) and a clear to opaque black Clear(0, null, 3, 4278190080, 1, 0).
// - Floats are written with printf's %.9g (1.0 is "1", 0.125 is "0.125").
// - Pointers are written `null` or `ptr`: output parameters, arrays (rectangles, vertex and index
//   data, shader programs and constants), objects and window handles alike: two float constants set
//   from register 4 are written SetVertexShaderConstantF(4, ptr, 2).
// - Input records passed by address - D3DMATRIX, D3DLIGHT9, D3DMATERIAL9, D3DVIEWPORT9 and
//   D3DPRESENT_PARAMETERS (as the caller passed it, before the device fills it in) - are written as
//   `{member, member, ...}` in declaration order with the same rules, a nested record in its own
//   braces (a light's colours and vectors, a material's colours); a null one is written `null`.
// - GUIDs are written in registry form, {81BDCBCA-64D4-426D-AE8D-AD0147F4275C}.
//
// Only one recorder receives lines: the most recently constructed one still alive. A recorder
// destroyed out of order is simply taken out of the chain.
class CallRecorder {
public:
    CallRecorder();
    ~CallRecorder();
    CallRecorder(const CallRecorder&) = delete;
    CallRecorder& operator=(const CallRecorder&) = delete;

    std::vector<std::string> Lines() const;
    // Returns the lines recorded so far and forgets them.
    std::vector<std::string> TakeLines();
    void Clear();

    // Failure injection. Direct3DCreate9 returns null; GetAdapterDisplayMode returns
    // D3DERR_NOTAVAILABLE; CreateDevice returns D3DERR_NOTAVAILABLE for exactly this device type and
    // behaviour-flag word. Each call is still recorded.
    void FailDirect3DCreate9(bool fail);
    void FailGetAdapterDisplayMode(bool fail);
    void RefuseCreateDevice(D3DDEVTYPE type, DWORD behaviorFlags);
    // GetDeviceCaps of the Direct3D object reports this vertex shader version instead of the
    // device's own, so that callers' choices for shader-capable adapters can be tested.
    void ReportVertexShaderVersion(DWORD version);
    // Devices created from now on (and GetDeviceCaps of the Direct3D object) report this capability
    // record instead of the software device's own, and the device enforces it (texture sizes, powers
    // of two, squareness, aspect ratio, mipmaps, cube and volume textures, dynamic and autogen
    // textures), so that callers' fallbacks for weaker adapters can be tested. Typically the record
    // is the device's own with bits taken away.
    void ReplaceDeviceCaps(const D3DCAPS9& caps);

    // Used by the Direct3D objects.
    void Append(std::string line);
    bool Direct3DCreate9Fails() const;
    bool GetAdapterDisplayModeFails() const;
    bool CreateDeviceRefused(D3DDEVTYPE type, DWORD behaviorFlags) const;
    // True, with the version, when ReportVertexShaderVersion was called.
    bool ReportedVertexShaderVersion(DWORD* version) const;
    // True, with the record, when ReplaceDeviceCaps was called.
    bool ReplacedDeviceCaps(D3DCAPS9* caps) const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    bool failCreate_ = false;
    bool failDisplayMode_ = false;
    std::vector<std::pair<D3DDEVTYPE, DWORD>> refusedDevices_;
    bool reportVertexShaderVersion_ = false;
    DWORD vertexShaderVersion_ = 0;
    bool replaceCaps_ = false;
    D3DCAPS9 caps_{};
    CallRecorder* previous_ = nullptr;
};

// The recorder receiving lines now, or null.
CallRecorder* InstalledCallRecorder();
