// results.h: every 32-bit result code the platform layers and the library return, defined once.
#pragma once

#include "platform/win/win_types.h"

constexpr HRESULT MakeResult(std::uint32_t code) { return static_cast<HRESULT>(code); }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_FAIL = MakeResult(0x80004005u);
constexpr HRESULT E_OUTOFMEMORY = MakeResult(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = MakeResult(0x80070057u);
constexpr HRESULT E_NOINTERFACE = MakeResult(0x80004002u);
constexpr HRESULT E_NOTIMPL = MakeResult(0x80004001u);
constexpr HRESULT E_POINTER = MakeResult(0x80004003u);

// Direct3D 9 results.
constexpr HRESULT D3D_OK = S_OK;
constexpr HRESULT D3DERR_INVALIDCALL = MakeResult(0x8876086Cu);
constexpr HRESULT D3DERR_NOTAVAILABLE = MakeResult(0x8876086Au);
constexpr HRESULT D3DERR_OUTOFVIDEOMEMORY = MakeResult(0x8876017Cu);
constexpr HRESULT D3DERR_WASSTILLDRAWING = MakeResult(0x8876021Cu);
constexpr HRESULT D3DERR_NOTFOUND = MakeResult(0x88760866u);
constexpr HRESULT D3DERR_MOREDATA = MakeResult(0x88760867u);
constexpr HRESULT D3DERR_DEVICELOST = MakeResult(0x88760868u);

// The utility library's own results, in the Direct3D facility.
constexpr HRESULT ERR_INVALID_DATA = MakeResult(0x88760B59u);      // no readable file or image
constexpr HRESULT ERR_MESH_HAS_NO_DATA = MakeResult(0x88760B5Au);  // no vertices, faces or usable triangles

// Registry results (Win32 error codes, not HRESULTs).
constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_MORE_DATA = 234;

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }
