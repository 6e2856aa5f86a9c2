// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <optional>
#include <string>

#include "common/main_thread_queue.h"
#include "ui_win32/main_thread_pump.h"
#include "window/window_logic.h"

namespace zelk::win32 {

// The controls' ids (GetDlgItem on the window, or Control()), in the order
// of the design's table.
enum TControlId : int {
    kIdPanel1 = 1000,
    kIdLabel4,
    kIdEdtCom,
    kIdUDCom,
    kIdCBSpeed,
    kIdBtnCom,
    kIdLblDevice,
    kIdBtnH,
    kIdPageControl1,
    kIdTabSheet1,
    kIdTabSheet2,
    kIdEdtName,
    kIdBtnOpen,
    kIdBtnZelk,
    kIdLabel1,
    kIdStartBox,
    kIdLabel2,
    kIdEdtKol,
    kIdGBErr,
    kIdLabel5,
    kIdEdtErrKs,
    kIdPBar,
    kIdLabel3,
    kIdStat1,
};

inline constexpr wchar_t kMainWindowClass[] = L"ZelkVector06C";
// The message that runs the main-thread queue's calls.
inline constexpr UINT kRunPendingMessage = WM_APP + 1;
// The flash timer's id.
inline constexpr UINT_PTR kFlashTimer = 1;

// The main window's Win32 face: the controls as the window was designed,
// drawing the state of the window's logic and forwarding to it what the
// user and the system do. It decides nothing itself.
class TMainWindow final : private TWindowFace {
public:
    // Creates the window (hidden); Show() shows it.
    explicit TMainWindow(HINSTANCE instance);
    ~TMainWindow() override;
    TMainWindow(const TMainWindow&) = delete;
    TMainWindow& operator=(const TMainWindow&) = delete;

    HWND Handle() const { return hwnd_; }
    // A control by its id, wherever it sits.
    HWND Control(int id) const;
    TWindowLogic& Logic() { return *logic_; }
    void Show(int showCommand);
    // The status bar's background as last set: the system's face colour
    // unless flashing.
    COLORREF StatusColor() const { return statusColor_; }
    // Whether the flash timer runs.
    bool FlashTimerRunning() const { return flashRunning_; }
    // Signalled while the port's reader has calls waiting; a message loop
    // that waits on it as well runs them with RunCalls() without the
    // round trip through the posted message (which modal loops rely on).
    HANDLE CallsWaiting() const { return static_cast<HANDLE>(queue_.WaitHandle()); }
    void RunCalls() { queue_.RunPending(); }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ContainerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK AboutProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    void Command(int id, int code, HWND control);
    void Layout(int width, int height);
    void SelectSheet(int index);
    HWND Make(HWND parent, int id, const wchar_t* cls, const std::string& text, DWORD style, int left, int top,
              int width, int height, DWORD exStyle = 0);
    void Hint(HWND control, const std::string& text);
    int Px(int designPixels) const;
    std::string TextOf(HWND control) const;

    // TWindowFace
    void Show(const TWindowState& state, unsigned changes) override;
    void ShowError(const TErrorReport& report) override;
    void ShowAbout() override;
    std::optional<std::string> ChooseFile() override;
    void ClearChosenFile() override;
    void StartFlashTimer() override;
    void StopFlashTimer() override;

    HINSTANCE instance_;
    int dpi_ = 0;  // the screen's, read at the start
    HWND hwnd_ = nullptr;
    HWND tips_ = nullptr;
    HFONT boldFont_ = nullptr;
    HFONT plainFont_ = nullptr;
    HBRUSH windowBrush_ = nullptr;  // system brush: not deleted
    bool devicePresent_ = false;
    COLORREF statusColor_ = CLR_DEFAULT;
    bool flashRunning_ = false;
    std::wstring chosen_;  // the dialog's name field
    bool drawing_ = false;  // Show() runs: the controls' own notifications are no user's

    TMainThreadQueue queue_;
    std::unique_ptr<TMainThreadPump> pump_;
    // Last, so it goes first: its port hands calls to the queue.
    std::unique_ptr<TWindowLogic> logic_;
};

// The window's message loop until WM_QUIT; returns its exit code.
int RunMessageLoop(TMainWindow& window);

}  // namespace zelk::win32
