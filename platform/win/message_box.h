// message_box.h: MessageBoxA: the text goes to standard error as UTF-8 and to the host hook if one is set.
#pragma once

#include <functional>
#include <string>

#include "platform/win/win_types.h"

constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_ICONERROR = 0x00000010;
constexpr UINT MB_ICONHAND = MB_ICONERROR;
constexpr int IDOK = 1;

// text and caption are in the system code page; they are converted to UTF-8 before display.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// Receives every message box as UTF-8 text and caption with its style. An empty function removes it.
using MessageBoxHook = std::function<void(const std::string& text, const std::string& caption, UINT type)>;
void SetMessageBoxHook(MessageBoxHook hook);
