// SPDX-License-Identifier: GPL-3.0-or-later
// On Windows a program announces through an icon of its own in the
// notification area: the icon's balloon (NIF_INFO) is what Windows 10 and 11
// show as a toast and keep in the notification centre. The icon belongs to a
// hidden top-level window of ours, which GDK's message loop serves like every
// window of this thread; being top-level, it also hears of a log-off
// (WM_ENDSESSION), after which no EXIT comes and the process is simply ended.
// An icon left behind by an ended process lingers until the pointer passes
// over it, so it is taken away on every road out.
#include "notify.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <windows.h>

// After windows.h, which it needs.
#include <shellapi.h>

namespace {

constexpr UINT iconid = 1;
constexpr int iconresource = 1; // quorvel.rc: the window's icon
HWND owner = nullptr;
bool added = false;      // the icon is in the notification area now
bool complained = false; // the user was told it is missing
UINT taskbarcreated = 0; // Explorer restarted: every icon must be added anew

NOTIFYICONDATAW icondata() {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = owner;
    data.uID = iconid;
    return data;
}

template <std::size_t size> void copywide(wchar_t (&into)[size], const std::wstring& text) {
    std::size_t length = text.size() < size ? text.size() : size - 1;
    // Never half a surrogate pair at the cut.
    if (length > 0 && length < text.size() && text[length - 1] >= 0xd800 &&
        text[length - 1] < 0xdc00) {
        --length;
    }
    text.copy(into, length);
    into[length] = L'\0';
}

std::wstring widen(const char* text) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (length <= 1) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), length);
    wide.resize(static_cast<std::size_t>(length - 1));
    return wide;
}

void addicon() {
    NOTIFYICONDATAW data = icondata();
    data.uFlags = NIF_ICON | NIF_TIP;
    data.hIcon = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(iconresource), IMAGE_ICON,
                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    copywide(data.szTip, L"quorvel");
    added = Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
    if (!added && !complained) {
        complained = true;
        std::fputs("quorvel: no notification area (Shell_NotifyIconW failed); changes are not "
                   "announced\n",
                   stderr);
    }
}

void removeicon() {
    if (added) {
        NOTIFYICONDATAW data = icondata();
        Shell_NotifyIconW(NIM_DELETE, &data);
        added = false;
    }
}

LRESULT CALLBACK ownerevent(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_ENDSESSION && wparam != FALSE) {
        removeicon();
        return 0;
    }
    if (taskbarcreated != 0 && message == taskbarcreated && added) {
        addicon();
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

} // namespace

void notifystart() {
    if (owner != nullptr) {
        return;
    }
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowclass{};
    windowclass.lpfnWndProc = ownerevent;
    windowclass.hInstance = instance;
    windowclass.lpszClassName = L"quorvelnotify";
    RegisterClassW(&windowclass);
    // Top-level but never shown: a message-only window would not hear of the
    // session's end.
    owner = CreateWindowExW(0, L"quorvelnotify", L"quorvel", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                            nullptr, instance, nullptr);
    if (owner == nullptr) {
        complained = true;
        std::fputs("quorvel: no window for the notification icon; changes are not announced\n",
                   stderr);
        return;
    }
    taskbarcreated = RegisterWindowMessageW(L"TaskbarCreated");
    addicon();
    std::atexit(removeicon);
}

void notifydesktop(const char* text) {
    notifystart();
    if (owner == nullptr) {
        return;
    }
    if (!added) {
        addicon(); // the notification area may have come since; told once only
        if (!added) {
            return;
        }
    }
    NOTIFYICONDATAW data = icondata();
    data.uFlags = NIF_INFO;
    copywide(data.szInfo, widen(text));
    copywide(data.szInfoTitle, L"quorvel");
    data.dwInfoFlags = NIIF_USER;
    Shell_NotifyIconW(NIM_MODIFY, &data);
}
