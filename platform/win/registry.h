// registry.h: registry reads, answered from the environment: the value "Name" under any key reads
// the variable QUILLMERE_REG_Name as a REG_DWORD (decimal or 0x hexadecimal); absent otherwise.
#pragma once

#include "platform/win/win_types.h"

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u));

// Opens a key. Every key path opens; values are looked up by name alone.
LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result);
// Reads a value. A variable whose text is not a whole number reads as REG_SZ with that text.
LONG RegQueryValueExA(HKEY key, LPCSTR valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataSize);
LONG RegCloseKey(HKEY key);

// Reads a REG_DWORD value under HKEY_LOCAL_MACHINE\subKey. Returns false when it is absent or has
// another type.
bool ReadRegistryDword(LPCSTR subKey, LPCSTR valueName, DWORD* value);
