// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// The window's error box, word for word, with Wine in the ru_RU locale
// (scripts/test-windows.sh runs it so): the message, then the system's
// reason in Russian, fetched as UTF-16, never in the ANSI code page. The
// window runs as zelk.exe runs it (RunWindowProgram); a thread timer, which
// every message loop of the thread dispatches, the error box's included,
// presses the buttons and reads the box. COM1 is a pseudo-terminal with
// zelk-emu behind it; the script makes it hang up when the test prints
// HANGUP, and answers "ok".
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/wide_text.h"
#include "ui_win32/main_window.h"
#include "ui_win32/program.h"

namespace zelk::test {
namespace {

using namespace zelk::win32;

constexpr UINT kTickMs = 50;
constexpr int kBoundTicks = 20 * 1000 / kTickMs;  // generous: Wine on a loaded machine

// What one run of the window saw: the error box's caption and text.
struct TRun {
    bool HangUp = false;  // ask the script to hang the device up once the port is open
    int Ticks = 0;
    bool Opened = false;
    std::string Caption;
    std::string Text;
};
TRun* gRun = nullptr;

std::string TextOf(HWND window) {
    std::wstring text(2048, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return WideToUtf8(text);
}

HWND FindControl(HWND main, int id) {
    HWND found = ::GetDlgItem(main, id);
    for (const int container : {kIdPanel1, kIdTabSheet1})
        if (found == nullptr) found = ::GetDlgItem(::GetDlgItem(main, container), id);
    return found;
}

// The visible dialog box of this thread with the window's caption, if any.
HWND ErrorBox() {
    HWND box = nullptr;
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND w, LPARAM found) -> BOOL {
            std::array<wchar_t, 16> cls{};
            ::GetClassNameW(w, cls.data(), static_cast<int>(cls.size()));
            if (std::wstring(cls.data()) != L"#32770" || !::IsWindowVisible(w)) return TRUE;
            *reinterpret_cast<HWND*>(found) = w;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&box));
    return box;
}

bool AskScript(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
    std::string answer;
    char c = 0;
    DWORD got = 0;
    while (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), &c, 1, &got, nullptr) && got == 1 && c != '\n') answer += c;
    return answer.rfind("ok", 0) == 0;
}

void CALLBACK Tick(HWND, UINT, UINT_PTR id, DWORD) {
    TRun& run = *gRun;
    const HWND main = ::FindWindowW(kMainWindowClass, nullptr);
    if (main == nullptr) return;
    if (++run.Ticks > kBoundTicks) {
        ::KillTimer(nullptr, id);
        ::PostMessageW(main, WM_CLOSE, 0, 0);
        return;
    }
    if (const HWND box = ErrorBox()) {
        run.Caption = TextOf(box);
        for (HWND child = ::GetWindow(box, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
            std::array<wchar_t, 16> cls{};
            ::GetClassNameW(child, cls.data(), static_cast<int>(cls.size()));
            if (std::wstring(cls.data()) == L"Static" && !TextOf(child).empty()) run.Text = TextOf(child);
        }
        ::KillTimer(nullptr, id);
        ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        ::PostMessageW(main, WM_CLOSE, 0, 0);
        return;
    }
    if (!run.Opened) {
        run.Opened = true;
        // Opens the port, or brings the error box (whose loop runs this timer on).
        ::SendMessageW(FindControl(main, kIdBtnCom), BM_CLICK, 0, 0);
        if (run.HangUp && !AskScript("HANGUP")) ADD_FAILURE() << "the script did not hang the device up";
    }
}

TRun RunWindow(const std::string& port, bool hangUp) {
    TRun run;
    run.HangUp = hangUp;
    gRun = &run;
    ::SetTimer(nullptr, 0, kTickMs, &Tick);
    EXPECT_EQ(RunWindowProgram(::GetModuleHandleW(nullptr), {"zelk", "-p", port}, SW_SHOWNORMAL), 0);
    gRun = nullptr;
    EXPECT_LE(run.Ticks, kBoundTicks) << "no error box came";
    return run;
}

class ErrorBoxText : public ::testing::Test {
protected:
    void SetUp() override {
        if (::GetUserDefaultUILanguage() != MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT))
            GTEST_SKIP() << "needs a Russian display language (Wine: LANG=ru_RU.UTF-8)";
    }
};

TEST_F(ErrorBoxText, MissingPortInRussian) {
    const TRun run = RunWindow("11", false);
    EXPECT_EQ(run.Caption, "ZELK");
    EXPECT_EQ(run.Text, "Error opening port COM11.\n\\\\.\\COM11: Файл не найден.");
}

TEST_F(ErrorBoxText, HangUpInRussian) {
    if (std::getenv("ZELK_TEST_DRIVER") == nullptr) GTEST_SKIP() << "needs the script to hang the device up";
    const TRun run = RunWindow("1", true);
    EXPECT_EQ(run.Caption, "ZELK");
    // Wine answers for a terminal whose other side has gone with
    // ERROR_NOT_READY or, when a read sees it first, ERROR_BROKEN_PIPE.
    const std::string head = "Error reading port COM1.\n\\\\.\\COM1: ";
    EXPECT_TRUE(run.Text == head + "Устройство не готово." || run.Text == head + "Канал закрыт.") << run.Text;
}

}  // namespace
}  // namespace zelk::test
