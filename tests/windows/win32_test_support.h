// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// What the Win32 face's tests share: pumping the window's messages and its
// waiting calls, watching the dialog boxes it opens, reading controls, and
// talking to the script that runs them (ZELK_TEST_DRIVER=1): a line such as
// "SHOT name x y w h" for a screenshot of that part of the screen or
// "HANGUP" to have the device go away, answered with "ok" on standard input
// while the window goes on drawing.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <pthread.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/unique_handle.h"
#include "common/wide_text.h"
#include "ui_win32/main_window.h"

namespace zelk::test {

using namespace std::chrono_literals;
using namespace zelk::win32;
using TClock = std::chrono::steady_clock;

inline constexpr auto kBound = 20s;            // generous: Wine on a loaded 2-core machine
inline constexpr auto kUploadBound = 240s;     // 64 KiB at 115200 baud is about 8 s on Windows
inline constexpr auto kScriptBound = 60s;

inline std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

inline bool Driven() { return Env("ZELK_TEST_DRIVER") == "1"; }

inline std::string TextOf(HWND control) {
    std::wstring text(1024, L'\0');
    const LRESULT n = ::SendMessageW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(n));
    return WideToUtf8(text);
}

inline std::string PanelText(HWND status, int panel) {
    const LRESULT length = LOWORD(::SendMessageW(status, SB_GETTEXTLENGTHW, static_cast<WPARAM>(panel), 0));
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    ::SendMessageW(status, SB_GETTEXTW, static_cast<WPARAM>(panel), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return WideToUtf8(text);
}

// The status bar's colour as drawn, where the third panel is empty.
inline COLORREF StatusPixel(HWND status) {
    ::RedrawWindow(status, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    RECT r{};
    ::GetClientRect(status, &r);
    const HDC dc = ::GetDC(status);
    const COLORREF pixel = ::GetPixel(dc, r.right - 40, (r.top + r.bottom) / 2);
    ::ReleaseDC(status, dc);
    return pixel;
}

// The window under test, whose waiting calls the loops below run as its
// own message loop does.
inline TMainWindow* gWindow = nullptr;

// Dispatches messages (and the window's waiting calls) until done() holds;
// false when the bound passed first.
template <typename TDone>
bool PumpUntil(TDone done, std::chrono::milliseconds bound, HANDLE also = nullptr) {
    const auto deadline = TClock::now() + bound;
    for (;;) {
        MSG msg{};
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
            if (done()) return true;
        }
        if (done()) return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now());
        if (left <= 0ms) return false;
        std::array<HANDLE, 2> handles{};
        DWORD count = 0;
        if (gWindow != nullptr) handles[count++] = gWindow->CallsWaiting();
        if (also != nullptr) handles[count++] = also;
        const DWORD woke = ::MsgWaitForMultipleObjectsEx(count, handles.data(), static_cast<DWORD>(left.count()),
                                                         QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (gWindow != nullptr && woke == WAIT_OBJECT_0) gWindow->RunCalls();
    }
}

// Prints a line for the script and waits, drawing, for its answer.
inline bool AskScript(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    TUniqueHandle answered(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::string answer;
    std::jthread reader([&answer, event = answered.Get()] {
        const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
        char c = 0;
        DWORD got = 0;
        while (::ReadFile(in, &c, 1, &got, nullptr) && got == 1 && c != '\n') answer += c;
        ::SetEvent(event);
    });
    const HANDLE event = answered.Get();
    const bool ok = PumpUntil([event] { return ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0; },
                              std::chrono::duration_cast<std::chrono::milliseconds>(kScriptBound), event);
    if (!ok) {
        ::CancelSynchronousIo(static_cast<HANDLE>(::pthread_gethandle(reader.native_handle())));
        ADD_FAILURE() << "the script did not answer " << line;
    }
    return ok && answer.rfind("ok", 0) == 0;
}

// A screenshot of window (and what lies on it), taken by the script.
inline void Screenshot(const char* name, HWND window) {
    if (!Driven()) return;
    // A dialog box shows itself once its message queue has nothing waiting.
    EXPECT_TRUE(PumpUntil([window] { return ::IsWindowVisible(window) != FALSE; },
                          std::chrono::duration_cast<std::chrono::milliseconds>(kBound)));
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    RECT r{};
    ::GetWindowRect(window, &r);
    EXPECT_TRUE(AskScript("SHOT " + std::string(name) + " " + std::to_string(r.left) + " " + std::to_string(r.top) +
                          " " + std::to_string(r.right - r.left) + " " + std::to_string(r.bottom - r.top)));
}

// Calls onDialog with each dialog box this thread opens (the about box, the
// error box, the file dialog), from inside its modal loop, once it is up.
class TDialogWatch {
public:
    explicit TDialogWatch(std::function<void(HWND)> onDialog) : onDialog_(std::move(onDialog)) {
        WNDCLASSW cls{};
        cls.lpfnWndProc = &HelperProc;
        cls.hInstance = ::GetModuleHandleW(nullptr);
        cls.lpszClassName = L"ZelkTestDialogWatch";
        ::RegisterClassW(&cls);  // fails harmlessly the second time
        helper_ = ::CreateWindowExW(0, cls.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, cls.hInstance,
                                    nullptr);
        ::SetWindowLongPtrW(helper_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        current_ = this;
        hook_ = ::SetWindowsHookExW(WH_CALLWNDPROCRET, &HookProc, nullptr, ::GetCurrentThreadId());
    }
    ~TDialogWatch() {
        ::UnhookWindowsHookEx(hook_);
        current_ = nullptr;
        ::DestroyWindow(helper_);
    }
    TDialogWatch(const TDialogWatch&) = delete;
    TDialogWatch& operator=(const TDialogWatch&) = delete;

    int Seen() const { return seen_; }

private:
    static constexpr UINT kDialogUp = WM_APP + 7;
    // A dialog box shows itself only once its modal loop finds nothing
    // waiting: the watch acts when a window that had WM_INITDIALOG is shown.
    static LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam) {
        const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
        if (code == HC_ACTION && current_ != nullptr) {
            if (call->message == WM_INITDIALOG) current_->dialogs_.push_back(call->hwnd);
            if (call->message == WM_SHOWWINDOW && call->wParam != FALSE &&
                std::find(current_->dialogs_.begin(), current_->dialogs_.end(), call->hwnd) != current_->dialogs_.end())
                ::PostMessageW(current_->helper_, kDialogUp, reinterpret_cast<WPARAM>(call->hwnd), 0);
        }
        return ::CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static LRESULT CALLBACK HelperProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<TDialogWatch*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (msg == kDialogUp && self != nullptr) {
            ++self->seen_;
            self->onDialog_(reinterpret_cast<HWND>(wParam));
            return 0;
        }
        return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    }

    static inline TDialogWatch* current_ = nullptr;
    std::function<void(HWND)> onDialog_;
    HWND helper_ = nullptr;
    HHOOK hook_ = nullptr;
    std::vector<HWND> dialogs_;
    int seen_ = 0;
};

// Every static text of a dialog, one a line.
inline std::string DialogTexts(HWND dialog) {
    std::string texts;
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        std::array<wchar_t, 32> cls{};
        ::GetClassNameW(child, cls.data(), static_cast<int>(cls.size()));
        if (std::wstring(cls.data()) == L"Static") {
            const std::string text = TextOf(child);
            if (!text.empty()) texts += text + "\n";
        }
    }
    return texts;
}

inline void PressOk(HWND dialog) {
    ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDOK)));
}

// A file dropped on the window, as the shell hands it over.
inline void DropFile(HWND window, const std::string& path) {
    const std::wstring wide = Utf8ToWide(path);
    const std::size_t bytes = sizeof(DROPFILES) + (wide.size() + 2) * sizeof(wchar_t);
    const HGLOBAL drop = ::GlobalAlloc(GHND, bytes);
    ASSERT_NE(drop, nullptr);
    auto* files = static_cast<DROPFILES*>(::GlobalLock(drop));
    files->pFiles = sizeof(DROPFILES);
    files->fWide = TRUE;
    std::copy(wide.begin(), wide.end(), reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(files) + sizeof(DROPFILES)));
    ::GlobalUnlock(drop);
    ::SendMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);  // the window lets go of it
}

}  // namespace zelk::test
