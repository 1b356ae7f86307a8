// codepage.h: the system code page and conversions between it, UTF-16 and UTF-8 (iconv).
#pragma once

#include <string>

#include "platform/win/win_types.h"

constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;

// The system code page: 65001 (UTF-8) unless QUILLMERE_CODEPAGE names another (932: Shift-JIS).
UINT GetACP();

// As the platform: with output size 0, returns the length needed; returns 0 on failure.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR out, int outLength);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int length, LPSTR out, int outLength,
                        LPCSTR defaultChar, BOOL* usedDefault);

// Converts bytes in a code page (CP_ACP = the system one) to UTF-8; undecodable bytes become U+FFFD.
std::string CodePageToUtf8(UINT codePage, const std::string& text);
