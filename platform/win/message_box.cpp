// message_box.cpp: MessageBoxA on a host without a desktop: standard error and the host hook.
#include "platform/win/message_box.h"

#include <cstdio>
#include <mutex>

#include "platform/win/codepage.h"

namespace {

std::mutex hookMutex;
MessageBoxHook& Hook() {
    static MessageBoxHook hook;
    return hook;
}

}  // namespace

void SetMessageBoxHook(MessageBoxHook hook) {
    std::lock_guard<std::mutex> lock(hookMutex);
    Hook() = std::move(hook);
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    std::string utf8Text = CodePageToUtf8(CP_ACP, text != nullptr ? text : "");
    std::string utf8Caption = CodePageToUtf8(CP_ACP, caption != nullptr ? caption : "Error");
    std::fprintf(stderr, "[%s] %s\n", utf8Caption.c_str(), utf8Text.c_str());
    MessageBoxHook hook;
    {
        std::lock_guard<std::mutex> lock(hookMutex);
        hook = Hook();
    }
    if (hook) hook(utf8Text, utf8Caption, type);
    return IDOK;
}
