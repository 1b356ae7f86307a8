// registry.cpp: registry reads answered from QUILLMERE_REG_<ValueName> environment variables.
#include "platform/win/registry.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/win/results.h"

namespace {

// The one key handle handed out: every path opens and values are found by name alone.
HKEY const kOpenKey = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x51));

// Parses a whole decimal or 0x-hexadecimal number that fits 32 bits.
bool ParseDword(const char* text, DWORD* value) {
    if (text == nullptr || *text == '\0') return false;
    errno = 0;
    char* end = nullptr;
    long long parsed = std::strtoll(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0') return false;
    if (parsed < -2147483648LL || parsed > 0xFFFFFFFFLL) return false;
    *value = static_cast<DWORD>(parsed);
    return true;
}

}  // namespace

LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = kOpenKey;
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataSize) {
    if (key == nullptr || valueName == nullptr) return ERROR_INVALID_PARAMETER;
    std::string variable = std::string("QUILLMERE_REG_") + valueName;
    const char* text = std::getenv(variable.c_str());
    if (text == nullptr) return ERROR_FILE_NOT_FOUND;

    DWORD number = 0;
    bool isDword = ParseDword(text, &number);
    DWORD needed = isDword ? sizeof(DWORD) : static_cast<DWORD>(std::strlen(text) + 1);
    if (type != nullptr) *type = isDword ? REG_DWORD : REG_SZ;
    if (data == nullptr) {
        if (dataSize != nullptr) *dataSize = needed;
        return ERROR_SUCCESS;
    }
    if (dataSize == nullptr) return ERROR_INVALID_PARAMETER;
    if (*dataSize < needed) {
        *dataSize = needed;
        return ERROR_MORE_DATA;
    }
    *dataSize = needed;
    if (isDword)
        std::memcpy(data, &number, sizeof number);
    else
        std::memcpy(data, text, needed);
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) { return key == nullptr ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS; }

bool ReadRegistryDword(LPCSTR subKey, LPCSTR valueName, DWORD* value) {
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, subKey, &key) != ERROR_SUCCESS) return false;
    DWORD type = REG_NONE;
    DWORD data = 0;
    DWORD size = sizeof data;
    LONG status = RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_DWORD) return false;
    *value = data;
    return true;
}
