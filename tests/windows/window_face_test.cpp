// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// What only the Win32 face has, in process under Wine on a virtual display
// (the scenarios every face shares are the contract suite's, tests/faces,
// built into this program with the Win32 driver): the up-down's buddy, the
// icon from the template, the flash after opening COM1, the whole upload
// against zelk-emu behind COM1, a device that hangs up, and zelk.exe's own
// path from its UTF-16 command line. COM7 has nothing behind it
// (scripts/test-windows.sh).
#include <memory>
#include <string>
#include <vector>

#include "ui_win32/program.h"
#include "ui_win32/resource.h"
#include "win32_test_support.h"
#include "window/texts.h"

namespace zelk::test {
namespace {

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
    COLORREF StatusPixel() const { return zelk::test::StatusPixel(Control(kIdStat1)); }
    bool OpenPort(int number) {
        ::SendMessageW(Control(kIdUDCom), UDM_SETPOS32, 0, number);
        Click(kIdBtnCom);
        return Text(kIdBtnCom) == texts::kClose;
    }

    std::unique_ptr<TMainWindow> window;
};

TEST_F(FaceTest, UpDownStepsItsBuddyEdit) {
    EXPECT_EQ(::SendMessageW(Control(kIdUDCom), UDM_GETBUDDY, 0, 0), reinterpret_cast<LRESULT>(Control(kIdEdtCom)));
    EXPECT_NE(::GetWindowLongPtrW(Control(kIdUDCom), GWL_STYLE) & UDS_SETBUDDYINT, 0);
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

// The template's icon, which the about box of the Qt face leaves empty.
TEST_F(FaceTest, AboutBoxShowsTheProgramsIcon) {
    bool icon = false;
    TDialogWatch watch([&](HWND dialog) {
        icon = ::SendDlgItemMessageW(dialog, ZELK_IDC_ABOUT_ICON, STM_GETICON, 0, 0) != 0;
        PressOk(dialog);
    });
    Click(kIdBtnH);
    EXPECT_EQ(watch.Seen(), 1);
    EXPECT_TRUE(icon);
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
    EXPECT_EQ(RunWindowProgram(::GetModuleHandleW(nullptr), {"zelk", "--help=x"}, SW_HIDE), 2);
}

}  // namespace
}  // namespace zelk::test
