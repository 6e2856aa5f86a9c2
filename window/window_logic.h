// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/main_thread_queue.h"
#include "serial/port_error.h"
#include "window/window_design.h"
#include "serial/port_list.h"
#include "transfer/port_link.h"
#include "transfer/reply_delay.h"
#include "transfer/transfer.h"
#include "window/command_line.h"
#include "window/error_report.h"
#include "window/transfer_view.h"
#include "window/window_ops.h"

// The window's behaviour without a toolkit: everything it shows is one state
// value, everything a user or the system does is one call, and a face (Qt,
// Win32) draws the state and forwards the calls. The face decides nothing.
namespace zelk {

enum class TFlash : std::uint8_t { None, Success, Failure };

struct TRgb {
    std::uint8_t R = 0, G = 0, B = 0;
    bool operator==(const TRgb&) const = default;
};
// The status bar's flash; with TFlash::None it has the system's button-face colour.
inline constexpr TRgb kSuccessRgb{0, 128, 0};
inline constexpr TRgb kFailureRgb{255, 0, 0};

// The device behind the port number, as the label beside it shows it.
struct TDeviceView {
    std::string Path;     // the label's text
    bool Present = false; // greyed when not
    std::string Hint;     // the path, then every serial device present with its number
    bool operator==(const TDeviceView&) const = default;
};

// Everything the window shows, texts in UTF-8.
struct TWindowState {
    std::string PortCaption;   // the port button: "Открыть" or "Закрыть"
    std::string SendCaption;   // the send button: "РС -> ЗЕЛК" or "СТОП"
    bool SendEnabled = false;
    bool LoadEnabled = true;   // the load button, and whether a dropped file loads
    std::array<std::string, 3> Panels;  // status bar: port, operation, byte count
    TFlash Flash = TFlash::None;
    std::string FileName;      // the short name of the file loaded last
    std::string BlockCount;    // blocks to send
    std::string ErrorCount;    // checksum mismatches of the session
    int ProgressMax = design::kProgressMaximum;  // never below 1: an empty file shows an empty bar
    int ProgressPosition = 0;
    std::string StartText;     // the start address box
    int PortNumber = 1;        // 1..20
    int SpeedIndex = 0;        // the speed list's selected item, -1 for none
    std::string SpeedText;     // the speed box's text
    TDeviceView Device;
    bool operator==(const TWindowState&) const = default;
};

// Which parts of the state changed, for a face that redraws only those.
enum TChange : unsigned {
    kChangePortCaption = 1u << 0,
    kChangeSendButton = 1u << 1,  // caption and enabled
    kChangeLoadEnabled = 1u << 2,
    kChangePanels = 1u << 3,
    kChangeFlash = 1u << 4,
    kChangeFile = 1u << 5,  // file name and block count
    kChangeErrorCount = 1u << 6,
    kChangeProgress = 1u << 7,
    kChangeStartText = 1u << 8,
    kChangePortNumber = 1u << 9,
    kChangeSpeed = 1u << 10,
    kChangeDevice = 1u << 11,
    kChangeAll = (1u << 12) - 1,
};

// What a toolkit gives the logic.
class TWindowFace {
public:
    virtual ~TWindowFace() = default;
    // Draw these parts of state (a set of TChange bits).
    virtual void Show(const TWindowState& state, unsigned changes) = 0;
    // The modal error box: caption "ZELK", error icon, OK; Detail on a line of its own.
    virtual void ShowError(const TErrorReport& report) = 0;
    // The modal about box.
    virtual void ShowAbout() = 0;
    // The open-file dialog: the chosen path (UTF-8), or nothing when cancelled.
    virtual std::optional<std::string> ChooseFile() = 0;
    // The next open-file dialog starts with an empty name field (after a
    // load that did not fail with an error; after one that did, the dialog
    // shows the name again).
    virtual void ClearChosenFile() = 0;
    // Starts the five-second flash timer, from now on if it runs already;
    // when it runs out the face calls tmr1Timer().
    virtual void StartFlashTimer() = 0;
    virtual void StopFlashTimer() = 0;
};

// An open port as the window uses it; closing is destroying.
class TWindowPort {
public:
    virtual ~TWindowPort() = default;
    // Throws EComPortError when the port fails to take the bytes.
    virtual void Write(std::span<const std::uint8_t> bytes) = 0;
};

// Where an open port's news go; both run on the window's thread.
struct TPortCalls {
    std::function<void(std::span<const std::uint8_t> bytes)> OnRead;
    std::function<void(const EComPortError& error)> OnError;
};

// Opens port `number` at `baud`; throws EComPortError when it cannot.
using TPortFactory = std::function<std::unique_ptr<TWindowPort>(int number, int baud, TPortCalls calls)>;
// The serial port (TComPort), whose reader hands its calls to the window's
// thread through runOnMain.
TPortFactory ComPortFactory(TMainThreadInvoker runOnMain);

// Which serial devices are present. Watched: the face calls DevicesChanged()
// when one comes or goes; otherwise the list is looked at afresh whenever
// the port number changes.
struct TDeviceSource {
    std::function<std::vector<TSerialDevice>()> List;
    bool Watched = false;
};

// The first replies of an upload through port Number came DelayMs late.
struct TLateReplies {
    int Number = 0;
    double DelayMs = 0;
};

// The label's hint for the device at path: the path, every serial device
// present with its number and what is known of it, and, after replies came
// late through that port, its adapter's latency timer and where to set it.
std::string DeviceHint(const std::string& path, bool present, const std::vector<TSerialDevice>& devices,
                       const std::optional<TLateReplies>& late = std::nullopt);

// The window's logic. Every call runs on the window's thread. A call that
// fails shows the error box and changes nothing more; the state is drawn
// before the box opens.
class TWindowLogic final : private TWindowOps, private TPortLink {
public:
    TWindowLogic(TWindowFace& face, TPortFactory ports, TDeviceSource devices);
    ~TWindowLogic() override;
    TWindowLogic(const TWindowLogic&) = delete;
    TWindowLogic& operator=(const TWindowLogic&) = delete;

    const TWindowState& State() const { return state_; }
    // The program's one transfer, for observers.
    const TTransfer& Transfer() const { return transfer_; }
    bool PortIsOpen() const { return port_ != nullptr; }

    // Draws the whole state; the face calls it once its controls exist.
    void ShowAll();
    // Replaces where the device list comes from, and looks at it afresh.
    void SetDeviceSource(TDeviceSource devices);

    // The port button, with the number and the speed box as they stand.
    void BtnComClick(int number, int speedIndex, const std::string& speedText);
    void BtnComClick() { BtnComClick(state_.PortNumber, state_.SpeedIndex, state_.SpeedText); }
    // The load button: the open-file dialog, then LoadChosen.
    void FileOpen1Execute();
    // A file chosen (a path) or the dialog cancelled (nothing).
    void LoadChosen(const std::optional<std::string>& path);
    // Whether a file may be loaded now: not while a transfer runs.
    bool CanLoad() const { return state_.LoadEnabled; }
    // A file dropped on the window: loads as if chosen, unless CanLoad() is
    // false; returns whether it was taken.
    bool FileDropped(const std::string& path);
    // Each change of the start box's text, typed or chosen (not the initial text).
    void StartBoxChange(const std::string& text);
    // The send button: starts an upload, or stops the one that runs.
    void Btn_z_zelkClick();
    // The "?" button.
    void HelpAbout1Execute();
    // The flash timer ran out.
    void tmr1Timer();
    // The port number stepped (1..20; others are brought into range).
    void PortNumberChanged(int number);
    // The speed box: its selected item (-1 for none) and its text.
    void SpeedChanged(int index, const std::string& text);
    // Serial devices came or went.
    void DevicesChanged();
    // The window closes: the port is released.
    void Closing();
    // The command line's options, through the intents above, as a user would
    // set the controls: the start text is checked, the file loads.
    void ApplyOptions(const TWindowOptions& options);

private:
    // TWindowOps: how the transfer's view reaches the state.
    std::string StartBoxText() const override { return state_.StartText; }
    void SetStatusText(int panel, const std::string& text) override;
    std::string ZelkCaption() const override { return state_.SendCaption; }
    void SetZelkCaption(const std::string& caption) override;
    void SetPBarMax(int max) override;
    void SetPBarPosition(int position) override;
    void SetErrCountText(const std::string& text) override;
    void FlashStatus(bool failed) override;
    // TPortLink
    bool Write(std::span<const std::uint8_t> bytes) override;

    // Runs one intent: an error ends it and shows the error box; the state
    // is drawn after it either way.
    void Guarded(const std::function<void()>& action);
    void Publish();
    void ClosePort();
    void PortFailed(const std::exception& error);
    void Load(const std::optional<std::string>& path);  // throws what reading throws
    void OnRead(std::span<const std::uint8_t> bytes);
    void UpdateSendEnabled();
    void RefreshDevices();
    void ShowDevice();
    void TimeReply();

    TWindowFace& face_;
    TPortFactory ports_;
    TDeviceSource devices_;
    std::vector<TSerialDevice> present_;  // at the last look

    TWindowState state_;
    TWindowState shown_;  // as the face last drew it
    bool shownOnce_ = false;

    bool FileLoaded = false;  // the last load succeeded
    int portBaud_ = 0;        // the open port's rate
    std::optional<TReplyDelayMeter> replyDelay_;  // times the running upload's first replies
    std::optional<TLateReplies> late_;           // what the last upload timed, when late
    TTransferView view_{*this};
    TTransfer transfer_{view_, *this};
    // Last, so it goes first: its calls reach into the members above.
    std::unique_ptr<TWindowPort> port_;
};

}  // namespace zelk
