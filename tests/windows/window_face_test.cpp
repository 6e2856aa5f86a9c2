// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// The window's Win32 face, in process, under Wine on a virtual display:
// buttons pressed with BM_CLICK, texts read back with WM_GETTEXT and
// SB_GETTEXTW, colours read off the screen. COM1 is a pseudo-terminal with
// zelk-emu behind it and COM7 has nothing (scripts/test-windows.sh).
//
// Some tests talk to the script that runs them (ZELK_TEST_DRIVER=1): they
// print a line ("SHOT name x y w h" for a screenshot of that part of the
// screen, "HANGUP" to have the device go away) and wait for the script's
// "ok" on standard input, while the window goes on drawing.
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
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/unique_handle.h"
#include "common/wide_text.h"
#include "ui_win32/main_window.h"
#include "ui_win32/program.h"
#include "ui_win32/resource.h"
#include "window/texts.h"

namespace zelk::test {
namespace {

using namespace std::chrono_literals;
using namespace zelk::win32;
using TClock = std::chrono::steady_clock;

constexpr auto kBound = 20s;            // generous: Wine on a loaded 2-core machine
constexpr auto kUploadBound = 240s;     // 64 KiB at 115200 baud is about 8 s on Windows
constexpr auto kScriptBound = 60s;

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool Driven() { return Env("ZELK_TEST_DRIVER") == "1"; }

std::string TextOf(HWND control) {
    std::wstring text(1024, L'\0');
    const LRESULT n = ::SendMessageW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(n));
    return WideToUtf8(text);
}

std::string PanelText(HWND status, int panel) {
    const LRESULT length = LOWORD(::SendMessageW(status, SB_GETTEXTLENGTHW, static_cast<WPARAM>(panel), 0));
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    ::SendMessageW(status, SB_GETTEXTW, static_cast<WPARAM>(panel), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return WideToUtf8(text);
}

// The window under test, whose waiting calls the loops below run as its
// own message loop does.
TMainWindow* gWindow = nullptr;

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
bool AskScript(const std::string& line) {
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
void Screenshot(const char* name, HWND window) {
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
std::string DialogTexts(HWND dialog) {
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

void PressOk(HWND dialog) {
    ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDOK)));
}

// A file dropped on the window, as the shell hands it over.
void DropFile(HWND window, const std::string& path) {
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

// A file of random bytes in the temp folder, under a Cyrillic name.
class TTempFile {
public:
    TTempFile(const std::wstring& name, std::size_t size) {
        std::wstring folder(MAX_PATH + 1, L'\0');
        folder.resize(::GetTempPathW(static_cast<DWORD>(folder.size()), folder.data()));
        path_ = folder + name;
        bytes_.resize(size);
        std::srand(static_cast<unsigned>(::GetTickCount()));
        for (auto& b : bytes_) b = static_cast<char>(std::rand());
        TUniqueHandle file(::CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        if (!file || !::WriteFile(file.Get(), bytes_.data(), static_cast<DWORD>(size), &written, nullptr))
            throw std::runtime_error("cannot write the test file");
    }
    ~TTempFile() { ::DeleteFileW(path_.c_str()); }
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;
    std::string Path() const { return WideToUtf8(path_); }

private:
    std::wstring path_;
    std::string bytes_;
};

class FaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<TMainWindow>(::GetModuleHandleW(nullptr));
        gWindow = window.get();
        window->Show(SW_SHOWNORMAL);
        // Let it draw before anything is read off the screen.
        PumpUntil([] { return false; }, 200ms);
    }
    void TearDown() override {
        gWindow = nullptr;
        window.reset();
    }

    HWND Control(int id) const { return window->Control(id); }
    std::string Text(int id) const { return TextOf(Control(id)); }
    bool Enabled(int id) const { return ::IsWindowEnabled(Control(id)) != FALSE; }
    std::string Panel(int panel) const { return PanelText(Control(kIdStat1), panel); }
    void Click(int id) { ::SendMessageW(Control(id), BM_CLICK, 0, 0); }
    // The status bar's colour where the third panel is empty.
    COLORREF StatusPixel() const {
        const HWND status = Control(kIdStat1);
        ::RedrawWindow(status, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        RECT r{};
        ::GetClientRect(status, &r);
        const HDC dc = ::GetDC(status);
        const COLORREF pixel = ::GetPixel(dc, r.right - 40, (r.top + r.bottom) / 2);
        ::ReleaseDC(status, dc);
        return pixel;
    }
    // Where a control sits in its parent's client area.
    RECT Place(int id) const {
        RECT r{};
        const HWND control = Control(id);
        ::GetWindowRect(control, &r);
        ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&r), 2);
        return RECT{r.left, r.top, r.right - r.left, r.bottom - r.top};  // left, top, width, height
    }
    bool OpenPort(int number) {
        ::SendMessageW(Control(kIdUDCom), UDM_SETPOS32, 0, number);
        Click(kIdBtnCom);
        return Text(kIdBtnCom) == texts::kClose;
    }

    std::unique_ptr<TMainWindow> window;
};

::testing::AssertionResult SameRect(const RECT& got, int left, int top, int width, int height) {
    if (got.left == left && got.top == top && got.right == width && got.bottom == height)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "at " << got.left << "," << got.top << " " << got.right << "x"
                                         << got.bottom << ", designed " << left << "," << top << " " << width << "x"
                                         << height;
}

TEST_F(FaceTest, StartsWithTheDesignedTextsAndStates) {
    using namespace texts;
    EXPECT_EQ(TextOf(window->Handle()), kWindowCaption);
    RECT client{};
    ::GetClientRect(window->Handle(), &client);
    EXPECT_EQ(client.right, TMainWindow::kClientWidth);
    EXPECT_EQ(client.bottom, TMainWindow::kClientHeight);

    EXPECT_EQ(Text(kIdLabel4), kComLabel);
    EXPECT_EQ(Text(kIdEdtCom), "1");
    EXPECT_EQ(Text(kIdCBSpeed), "br115200");
    EXPECT_EQ(::SendMessageW(Control(kIdCBSpeed), CB_GETCOUNT, 0, 0), 10);
    EXPECT_EQ(Text(kIdBtnCom), kOpen);
    EXPECT_EQ(Text(kIdLblDevice), "\\\\.\\COM1");
    EXPECT_EQ(Text(kIdBtnH), "?");
    EXPECT_EQ(Text(kIdEdtName), "");
    EXPECT_EQ(Text(kIdBtnOpen), kOpenFileCaption);
    EXPECT_EQ(Text(kIdBtnZelk), kSendCaption);
    EXPECT_EQ(Text(kIdLabel1), kStartLabel);
    EXPECT_EQ(Text(kIdStartBox), "0100h");
    EXPECT_EQ(Text(kIdLabel2), kBlocksLabel);
    EXPECT_EQ(Text(kIdEdtKol), "0");
    EXPECT_EQ(Text(kIdGBErr), kErrorsGroup);
    EXPECT_EQ(Text(kIdLabel5), kChecksumLabel);
    EXPECT_EQ(Text(kIdEdtErrKs), "0");
    EXPECT_EQ(Text(kIdLabel3), kReserved);
    EXPECT_EQ(Panel(0), kPortClosed);
    EXPECT_EQ(Panel(1), "");
    EXPECT_EQ(Panel(2), "");

    const HWND tabs = Control(kIdPageControl1);
    ASSERT_EQ(::SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0), 2);
    for (int i = 0; i < 2; ++i) {
        std::wstring caption(64, L'\0');
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = caption.data();
        item.cchTextMax = static_cast<int>(caption.size());
        ::SendMessageW(tabs, TCM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
        EXPECT_EQ(WideToUtf8(caption.c_str()), i == 0 ? kLoaderTab : kZelkTab);
    }
    EXPECT_TRUE(::IsWindowVisible(Control(kIdTabSheet1)));
    EXPECT_FALSE(::IsWindowVisible(Control(kIdTabSheet2)));

    EXPECT_FALSE(Enabled(kIdBtnZelk));
    for (const int id : {kIdEdtCom, kIdUDCom, kIdCBSpeed, kIdBtnCom, kIdBtnH, kIdBtnOpen, kIdStartBox})
        EXPECT_TRUE(Enabled(id)) << id;
    for (const int id : {kIdEdtCom, kIdEdtName, kIdEdtKol, kIdEdtErrKs})
        EXPECT_NE(::GetWindowLongPtrW(Control(id), GWL_STYLE) & ES_READONLY, 0) << id;
    EXPECT_EQ(::SendMessageW(Control(kIdUDCom), UDM_GETBUDDY, 0, 0), reinterpret_cast<LRESULT>(Control(kIdEdtCom)));
    int low = 0, high = 0;
    ::SendMessageW(Control(kIdUDCom), UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low), reinterpret_cast<LPARAM>(&high));
    EXPECT_EQ(low, 1);
    EXPECT_EQ(high, 20);
    EXPECT_NE(::GetWindowLongPtrW(Control(kIdUDCom), GWL_STYLE) & UDS_SETBUDDYINT, 0);

    // Where the design put them (96 DPI under Wine), in their parents' client areas.
    EXPECT_TRUE(SameRect(Place(kIdEdtCom), 88, 0, 25, 24));
    EXPECT_TRUE(SameRect(Place(kIdUDCom), 113, 0, 24, 24));
    EXPECT_TRUE(SameRect(Place(kIdBtnCom), 272, 0, 81, 25));
    EXPECT_TRUE(SameRect(Place(kIdBtnH), 456, 0, 25, 25));
    EXPECT_TRUE(SameRect(Place(kIdPageControl1), 0, 32, 481, 174));
    EXPECT_TRUE(SameRect(Place(kIdBtnZelk), 352, 8, 113, 41));
    EXPECT_TRUE(SameRect(Place(kIdEdtName), 24, 16, 169, 24));
    EXPECT_TRUE(SameRect(Place(kIdGBErr), 320, 64, 145, 49));
    EXPECT_TRUE(SameRect(Place(kIdPBar), 8, 120, 457, 17));
    EXPECT_EQ(Place(kIdStat1).top + Place(kIdStat1).bottom, TMainWindow::kClientHeight);

    EXPECT_EQ(StatusPixel(), ::GetSysColor(COLOR_BTNFACE));
    Screenshot("idle", window->Handle());
}

TEST_F(FaceTest, ArrowKeyStepsThePortNumberAndTheDevice) {
    ::SendMessageW(Control(kIdEdtCom), WM_KEYDOWN, VK_UP, 0);
    EXPECT_EQ(Text(kIdEdtCom), "2");
    EXPECT_EQ(window->Logic().State().PortNumber, 2);
    EXPECT_EQ(Text(kIdLblDevice), "\\\\.\\COM2");
    ::SendMessageW(Control(kIdEdtCom), WM_KEYDOWN, VK_DOWN, 0);
    ::SendMessageW(Control(kIdEdtCom), WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(Text(kIdEdtCom), "1");
    EXPECT_EQ(window->Logic().State().PortNumber, 1);
}

TEST_F(FaceTest, TypedSpeedOpensNothingAndFlashesRed) {
    ::SetWindowTextW(Control(kIdCBSpeed), L"br100");
    Click(kIdBtnCom);
    EXPECT_EQ(Text(kIdBtnCom), texts::kOpen);
    EXPECT_EQ(Panel(1), texts::kSpeedNotInList);
    EXPECT_EQ(StatusPixel(), RGB(255, 0, 0));
    EXPECT_EQ(window->StatusColor(), RGB(255, 0, 0));
}

TEST_F(FaceTest, OpeningFlashesGreenForFiveSeconds) {
    ASSERT_TRUE(OpenPort(1)) << Panel(0) << " " << Panel(1);
    EXPECT_EQ(Panel(0), texts::kPortOpened);
    EXPECT_EQ(StatusPixel(), RGB(0, 128, 0));
    EXPECT_FALSE(Enabled(kIdBtnZelk));  // no file yet
    const auto opened = TClock::now();
    ASSERT_TRUE(PumpUntil([this] { return window->StatusColor() == CLR_DEFAULT; }, kBound));
    EXPECT_GE(TClock::now() - opened, 4500ms);
    EXPECT_EQ(StatusPixel(), ::GetSysColor(COLOR_BTNFACE));
    Click(kIdBtnCom);
    EXPECT_EQ(Text(kIdBtnCom), texts::kOpen);
    EXPECT_EQ(Panel(0), texts::kPortClosed);
    EXPECT_FALSE(window->Logic().PortIsOpen());
}

TEST_F(FaceTest, AboutBoxComesFromItsTemplate) {
    std::string shown;
    std::string caption;
    TDialogWatch watch([&](HWND dialog) {
        caption = TextOf(dialog);
        shown = DialogTexts(dialog);
        EXPECT_NE(::SendDlgItemMessageW(dialog, ZELK_IDC_ABOUT_ICON, STM_GETICON, 0, 0), 0);
        Screenshot("about", dialog);
        PressOk(dialog);
    });
    Click(kIdBtnH);
    EXPECT_EQ(watch.Seen(), 1);
    EXPECT_EQ(caption, texts::kAboutCaption);
    for (const char* line : {texts::kAboutProductName, texts::kAboutVersion, texts::kAboutComments,
                             texts::kAboutLine1, texts::kAboutLine2})
        EXPECT_NE(shown.find(line), std::string::npos) << line << " in\n" << shown;
}

TEST_F(FaceTest, PortWithNothingBehindBringsTheErrorBox) {
    std::string caption;
    std::string shown;
    TDialogWatch watch([&](HWND box) {
        caption = TextOf(box);
        shown = DialogTexts(box);
        PressOk(box);
    });
    EXPECT_FALSE(OpenPort(7));
    EXPECT_EQ(watch.Seen(), 1);
    EXPECT_EQ(caption, "ZELK");
    // The message, then the system's detail on a line of its own.
    EXPECT_EQ(shown.rfind("Error opening port COM7.\n\\\\.\\COM7: ", 0), 0u) << shown;
    EXPECT_EQ(Text(kIdBtnCom), texts::kOpen);
    EXPECT_EQ(Panel(0), texts::kPortClosed);
}

// The whole upload, started by a click: the script compares what the
// emulator rebuilt with ZELK_TEST_UPLOAD_FILE and made it reject as many
// packets as ZELK_TEST_REJECTS says.
TEST_F(FaceTest, ClickStartedUploadRunsToTheEnd) {
    const std::string path = Env("ZELK_TEST_UPLOAD_FILE");
    if (path.empty()) GTEST_SKIP() << "needs ZELK_TEST_UPLOAD_FILE and zelk-emu behind COM1";
    // No box may come up; one that does fails the test and is closed.
    TDialogWatch noBox([](HWND box) {
        ADD_FAILURE() << "a dialog came up: " << DialogTexts(box);
        PressOk(box);
    });
    DropFile(window->Handle(), path);
    ASSERT_EQ(Panel(1), texts::kFileRead);
    EXPECT_EQ(Panel(2), "65536" + std::string(texts::kBytesSuffix));
    EXPECT_EQ(Text(kIdEdtKol), "256");
    ASSERT_TRUE(OpenPort(1));
    ASSERT_TRUE(Enabled(kIdBtnZelk));
    Click(kIdBtnZelk);
    EXPECT_EQ(Text(kIdBtnZelk), texts::kStopCaption);
    EXPECT_FALSE(Enabled(kIdBtnOpen));
    EXPECT_EQ(Panel(1), texts::kSending);

    bool shot = false;
    const HWND bar = Control(kIdPBar);
    const auto started = TClock::now();
    const bool done = PumpUntil(
        [&] {
            const auto position = ::SendMessageW(bar, PBM_GETPOS, 0, 0);
            const auto max = ::SendMessageW(bar, PBM_GETRANGE, FALSE, 0);
            if (!shot && position * 4 >= max && Panel(1) == texts::kSending) {
                shot = true;
                Screenshot("upload", window->Handle());
            }
            return Panel(1) != texts::kSending;
        },
        kUploadBound);
    ASSERT_TRUE(done) << "still sending after " << kUploadBound.count() << " s";
    std::printf("upload took %.1f s\n", std::chrono::duration<double>(TClock::now() - started).count());
    EXPECT_EQ(Panel(1), texts::kSendDone);
    EXPECT_EQ(Text(kIdEdtErrKs), Env("ZELK_TEST_REJECTS"));
    EXPECT_EQ(::SendMessageW(bar, PBM_GETPOS, 0, 0), ::SendMessageW(bar, PBM_GETRANGE, FALSE, 0));
    EXPECT_EQ(Text(kIdBtnZelk), texts::kSendCaption);
    EXPECT_TRUE(Enabled(kIdBtnOpen));
    EXPECT_EQ(StatusPixel(), RGB(0, 128, 0));
}

// The device goes away half way: the error box, and the port closed by the
// time it shows.
TEST_F(FaceTest, HangUpMidUploadBringsTheErrorBoxAndClosesThePort) {
    const std::string path = Env("ZELK_TEST_UPLOAD_FILE");
    if (path.empty() || !Driven()) GTEST_SKIP() << "needs ZELK_TEST_UPLOAD_FILE and the script";
    DropFile(window->Handle(), path);
    ASSERT_EQ(Panel(1), texts::kFileRead);
    ASSERT_TRUE(OpenPort(1));
    Click(kIdBtnZelk);
    const HWND bar = Control(kIdPBar);
    ASSERT_TRUE(PumpUntil([&] { return ::SendMessageW(bar, PBM_GETPOS, 0, 0) * 10 >= ::SendMessageW(bar, PBM_GETRANGE, FALSE, 0); },
                          kUploadBound))
        << Panel(1);
    std::string shown;
    bool closedWhileShown = false;
    TDialogWatch watch([&](HWND box) {
        shown = DialogTexts(box);
        closedWhileShown = !window->Logic().PortIsOpen() && Text(kIdBtnCom) == texts::kOpen;
        PressOk(box);
    });
    const auto asked = TClock::now();
    ASSERT_TRUE(AskScript("HANGUP"));
    ASSERT_TRUE(PumpUntil([&] { return watch.Seen() > 0; }, kBound));
    EXPECT_LE(TClock::now() - asked, 10s);
    EXPECT_TRUE(shown.rfind("Error reading port COM1.\n", 0) == 0 || shown.rfind("Error writing port COM1.\n", 0) == 0)
        << shown;
    EXPECT_TRUE(closedWhileShown);
    EXPECT_EQ(Panel(0), texts::kPortClosed);
    EXPECT_EQ(Panel(1), texts::kSendError);
    EXPECT_EQ(Text(kIdBtnZelk), texts::kSendCaption);
    EXPECT_FALSE(Enabled(kIdBtnZelk));
}

// zelk.exe's own path: UTF-16 arguments, a Cyrillic file name that loads.
TEST(Program, CyrillicFileNameOnTheCommandLineLoads) {
    const TTempFile file(L"Программа.rom", 1000);
    const std::wstring wideArguments[] = {L"zelk.exe", L"-p", L"7", Utf8ToWide(file.Path())};
    const wchar_t* argv[] = {wideArguments[0].c_str(), wideArguments[1].c_str(), wideArguments[2].c_str(),
                             wideArguments[3].c_str()};
    const std::vector<std::string> arguments = Utf8Arguments(4, argv);
    ASSERT_EQ(arguments[3], file.Path());

    TDialogWatch noBox([](HWND box) {
        ADD_FAILURE() << "a dialog came up: " << DialogTexts(box);
        PressOk(box);
    });
    // A thread timer, dispatched by the program's own message loop once the
    // window has taken its options: reads the window, then closes it.
    static std::vector<std::string> seen;
    seen.clear();
    ::SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR id, DWORD) {
        ::KillTimer(nullptr, id);
        const HWND main = ::FindWindowW(kMainWindowClass, nullptr);
        if (main == nullptr) return;
        const auto find = [main](int control) {
            HWND found = ::GetDlgItem(main, control);
            for (const int container : {kIdPanel1, kIdTabSheet1})
                if (found == nullptr) found = ::GetDlgItem(::GetDlgItem(main, container), control);
            return found;
        };
        seen = {TextOf(find(kIdEdtName)), TextOf(find(kIdEdtKol)), PanelText(find(kIdStat1), 1),
                TextOf(find(kIdEdtCom))};
        ::PostMessageW(main, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(RunWindowProgram(::GetModuleHandleW(nullptr), arguments, SW_SHOWNORMAL), 0);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0], "Программ.rom");  // eight letters before the dot, as the window shows names
    EXPECT_EQ(seen[1], "4");
    EXPECT_EQ(seen[2], texts::kFileRead);
    EXPECT_EQ(seen[3], "7");
}

TEST(Program, HelpAndVersionNeedNoWindow) {
    EXPECT_EQ(RunWindowProgram(::GetModuleHandleW(nullptr), {"zelk", "--version"}, SW_HIDE), 0);
    EXPECT_EQ(::FindWindowW(kMainWindowClass, nullptr), nullptr);
    EXPECT_EQ(RunWindowProgram(::GetModuleHandleW(nullptr), {"zelk", "--bogus"}, SW_HIDE), 2);
}

}  // namespace
}  // namespace zelk::test
