// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for the Windows shell's notification area, for the tests of
// quorvel.exe's notification icon under Wine, which shows tray icons but
// draws no balloon. It owns a window of the shell's tray class before quorvel
// starts, so that Shell_NotifyIconW finds it and hands it each call as a
// WM_COPYDATA, and prints one line per call, as the shell would take it:
//
//   ready                               it owns the tray window
//   add tip=<tooltip> icon=<w>x<h>      (icon=none without an icon)
//   modify info=<balloon text> title=<title> infoflags=<hex>
//   delete
//
// With --logoff it then plays the session's end to the icon's window
// (WM_QUERYENDSESSION, then WM_ENDSESSION), as Windows does when the user
// logs off, and prints "logoff query=<answer>". It ends by itself after the
// given number of seconds (default 180).
//
//   traystandin.exe [--logoff] [SECONDS]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <windows.h>

// After windows.h, which it needs.
#include <shellapi.h>

namespace {

// The layout in which Wine's shell32 hands a NOTIFYICONDATAW to the tray
// window, the same for every caller (found by dumping what it sends): the
// window as a 32-bit value, then the fields in NOTIFYICONDATAW's order at
// their full sizes, then the icon's size and bits when NIF_ICON is set.
constexpr std::size_t at_hwnd = 0x000, at_flags = 0x008, at_tip = 0x010, at_info = 0x118,
                      at_infotitle = 0x31c, at_infoflags = 0x39c, at_iconwidth = 0x3b0,
                      at_iconheight = 0x3b4, traydatasize = 0x3c0;
constexpr UINT sendlogoff = WM_APP + 1;
bool logoff = false;
HWND iconwindow = nullptr;

std::string text(const unsigned char* data, std::size_t at, std::size_t chars) {
    wchar_t wide[257] = {};
    std::memcpy(wide, data + at, chars * sizeof(wchar_t));
    char narrow[1024] = {};
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, narrow, sizeof narrow - 1, nullptr, nullptr);
    return narrow;
}

DWORD word(const unsigned char* data, std::size_t at) {
    DWORD value = 0;
    std::memcpy(&value, data + at, sizeof value);
    return value;
}

void record(DWORD message, const unsigned char* data, std::size_t size) {
    if (size < traydatasize) {
        std::printf("short data: %zu bytes\n", size);
        return;
    }
    const DWORD flags = word(data, at_flags);
    iconwindow =
        reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<LONG>(word(data, at_hwnd))));
    if (message == NIM_ADD) {
        std::string icon = "none";
        if ((flags & NIF_ICON) != 0 && size > traydatasize) {
            icon = std::to_string(word(data, at_iconwidth)) + "x" +
                   std::to_string(word(data, at_iconheight));
        }
        std::printf("add tip=%s icon=%s\n", text(data, at_tip, 128).c_str(), icon.c_str());
        if (logoff) {
            PostMessageW(nullptr, sendlogoff, 0, 0);
        }
    } else if (message == NIM_MODIFY && (flags & NIF_INFO) != 0) {
        std::printf("modify info=%s title=%s infoflags=%lx\n", text(data, at_info, 256).c_str(),
                    text(data, at_infotitle, 64).c_str(),
                    static_cast<unsigned long>(word(data, at_infoflags)));
    } else if (message == NIM_DELETE) {
        std::printf("delete\n");
    } else {
        std::printf("message %lu flags=%lx\n", static_cast<unsigned long>(message),
                    static_cast<unsigned long>(flags));
    }
}

LRESULT CALLBACK trayevent(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_COPYDATA) {
        const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
        record(static_cast<DWORD>(copy->dwData), static_cast<const unsigned char*>(copy->lpData),
               copy->cbData);
        std::fflush(stdout);
        return TRUE;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

} // namespace

int main(int argc, char** argv) {
    int seconds = 180;
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--logoff") == 0) {
            logoff = true;
        } else {
            seconds = std::atoi(argv[k]);
        }
    }
    WNDCLASSW trayclass{};
    trayclass.lpfnWndProc = trayevent;
    trayclass.hInstance = GetModuleHandleW(nullptr);
    trayclass.lpszClassName = L"Shell_TrayWnd";
    RegisterClassW(&trayclass);
    const HWND tray = CreateWindowExW(0, L"Shell_TrayWnd", L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                      nullptr, trayclass.hInstance, nullptr);
    // Shell_NotifyIconW takes the first tray window it finds: it must be ours.
    if (tray == nullptr || FindWindowW(L"Shell_TrayWnd", nullptr) != tray) {
        std::printf("another tray window is there first\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    SetTimer(tray, 1, static_cast<UINT>(seconds) * 1000U, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER) {
            break;
        }
        if (msg.message == sendlogoff) {
            DWORD_PTR answer = 0;
            SendMessageTimeoutW(iconwindow, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL,
                                10000, &answer);
            std::printf("logoff query=%lu\n", static_cast<unsigned long>(answer));
            std::fflush(stdout);
            // Sent rather than waited for: the icon's removal comes back to
            // this loop as a WM_COPYDATA while the sender waits.
            SendMessageTimeoutW(iconwindow, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL,
                                10000, &answer);
            continue;
        }
        DispatchMessageW(&msg);
    }
    return 0;
}
