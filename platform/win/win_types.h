// win_types.h: the platform's basic integer, handle and record types, spelled as the platform spells them.
#pragma once

#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using INT = std::int32_t;
using UINT = std::uint32_t;
using BOOL = std::int32_t;
using FLOAT = float;
using HRESULT = std::int32_t;
using UINT_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using SIZE_T = std::size_t;
using LPVOID = void*;
using LPCVOID = const void*;
using LPSTR = char*;
using LPCSTR = const char*;
using WCHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using HANDLE = void*;

// A window handle is the 32-bit id of a host window (see host_window.h), carried in a pointer-sized
// handle as the platform does.
struct HWND__;
using HWND = HWND__*;

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;

struct HDC__;
using HDC = HDC__*;
struct HGDIOBJ__;
using HGDIOBJ = HGDIOBJ__*;

struct HMONITOR__;
using HMONITOR = HMONITOR__*;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

struct POINT {
    LONG x;
    LONG y;
};

struct SIZE {
    LONG cx;
    LONG cy;
};

struct RGNDATA;  // clip regions are never passed by this module; only the null pointer is used

struct PALETTEENTRY {
    BYTE peRed;
    BYTE peGreen;
    BYTE peBlue;
    BYTE peFlags;
};

// Handle <-> 32-bit window id, as HostWindowInfo word 13 carries it.
inline HWND HwndFromId(std::int32_t id) { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(static_cast<std::uint32_t>(id))); }
inline std::int32_t IdFromHwnd(HWND hwnd) { return static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(hwnd)); }
