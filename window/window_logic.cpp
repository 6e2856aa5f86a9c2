// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "window/window_logic.h"

#include <algorithm>
#include <sstream>
#include <utility>

#include "serial/com_port.h"
#include "serial/port_range.h"
#include "transfer/file_image.h"
#include "transfer/transfer.h"
#include "window/texts.h"

namespace zelk {

namespace {

class TComPortAdapter final : public TWindowPort {
public:
    TComPortAdapter(int number, int baud, TMainThreadInvoker runOnMain, TPortCalls calls)
        : port_(number, baud, std::move(runOnMain), TPortOptions{kRequest}) {
        port_.SetOnRead([onRead = std::move(calls.OnRead)](std::vector<std::uint8_t> bytes) { onRead(bytes); });
        port_.SetOnError(std::move(calls.OnError));
    }
    void Write(std::span<const std::uint8_t> bytes) override { port_.Write(bytes); }

private:
    TComPort port_;
};

unsigned Changes(const TWindowState& a, const TWindowState& b) {
    unsigned c = 0;
    if (a.PortCaption != b.PortCaption) c |= kChangePortCaption;
    if (a.SendCaption != b.SendCaption || a.SendEnabled != b.SendEnabled) c |= kChangeSendButton;
    if (a.LoadEnabled != b.LoadEnabled) c |= kChangeLoadEnabled;
    if (a.Panels != b.Panels) c |= kChangePanels;
    if (a.Flash != b.Flash) c |= kChangeFlash;
    if (a.FileName != b.FileName || a.BlockCount != b.BlockCount) c |= kChangeFile;
    if (a.ErrorCount != b.ErrorCount) c |= kChangeErrorCount;
    if (a.ProgressMax != b.ProgressMax || a.ProgressPosition != b.ProgressPosition) c |= kChangeProgress;
    if (a.StartText != b.StartText) c |= kChangeStartText;
    if (a.PortNumber != b.PortNumber) c |= kChangePortNumber;
    if (a.SpeedIndex != b.SpeedIndex || a.SpeedText != b.SpeedText) c |= kChangeSpeed;
    if (a.Device != b.Device) c |= kChangeDevice;
    return c;
}

}  // namespace

TPortFactory ComPortFactory(TMainThreadInvoker runOnMain) {
    return [runOnMain = std::move(runOnMain)](int number, int baud, TPortCalls calls) -> std::unique_ptr<TWindowPort> {
        return std::make_unique<TComPortAdapter>(number, baud, runOnMain, std::move(calls));
    };
}

namespace {

std::string LatencyText(int ms) {
    return std::string(texts::kLatencyTimer) + ' ' + std::to_string(ms) + ' ' + texts::kMilliseconds;
}

// One device: its number and path, then what is known of it.
std::string DeviceLine(const TSerialDevice& d) {
    std::string line = (d.Number > 0 ? PortName(d.Number) : std::string("-")) + "  " + d.Path;
    // The description is the product, else the first of the others known.
    const std::string what = DeviceDescription(d);
    if (!what.empty()) line += "  " + what;
    for (const std::string* part : {&d.VendorProduct, &d.Serial, &d.Driver, &d.Location})
        if (!part->empty() && *part != what) line += "  " + *part;
    if (d.LatencyMs) line += "  " + LatencyText(*d.LatencyMs);
    if (d.Number > kHighestPortNumber) line += std::string("  ") + texts::kPortAboveRange + " zelk-upload -d " + d.Path;
    return line;
}

// What to do about replies that came late through the adapter d (null when
// none is listed for the port) at path.
std::string LateAdvice(const TLateReplies& late, const TSerialDevice* d, const std::string& path) {
    std::ostringstream delay;
    delay.precision(1);
    delay << std::fixed << late.DelayMs;
    std::string text = std::string(texts::kRepliesLate) + ' ' + delay.str() + ' ' + texts::kMilliseconds + ' ' +
                       texts::kRepliesLateOf;
    // Where the timer is set follows the system the device's path is of.
#ifdef _WIN32
    const bool windows = d == nullptr || !d->Path.starts_with('/');
#else
    const bool windows = d != nullptr && d->Path.starts_with("\\\\.\\");
#endif
    if (windows) {
        const std::string name = d != nullptr && !d->Product.empty() ? d->Product : PortName(late.Number);
        const std::string place = std::string(texts::kDeviceManagerPorts) + ' ' + name + ' ' + texts::kPortAdvanced;
        if (d != nullptr && d->LatencyMs)
            text += std::string(" ") + texts::kAdapterHolds + ' ' + LatencyText(*d->LatencyMs) + ". " +
                    texts::kSetTimerTo1 + ' ' + place + ' ' + texts::kLatencySetting;
        else
            text += std::string(" ") + texts::kSetTimerIfAny + ' ' + place;
        return text;
    }
    if (d != nullptr && d->LatencyMs)
        text += std::string(" ") + texts::kAdapterHolds + ' ' + LatencyText(*d->LatencyMs) + '.';
    text += std::string(" ") + texts::kSetTimerLinux + ' ' + LatencyTimerFile(d != nullptr ? d->Path : path);
    return text;
}

}  // namespace

std::string DeviceHint(const std::string& path, bool present, const std::vector<TSerialDevice>& devices,
                       const std::optional<TLateReplies>& late) {
    // The path alone on the first line, whatever follows.
    std::string hint = path;
    if (!present) hint += std::string("\n") + texts::kDeviceAbsent;
    if (late) {
        const auto d = std::ranges::find(devices, late->Number, &TSerialDevice::Number);
        hint += '\n' + LateAdvice(*late, d != devices.end() ? &*d : nullptr, path);
    }
    hint += std::string("\n\n") + (devices.empty() ? texts::kNoSerialDevices : texts::kSerialDevices);
    for (const TSerialDevice& d : devices) hint += '\n' + DeviceLine(d);
    return hint;
}

TWindowLogic::TWindowLogic(TWindowFace& face, TPortFactory ports, TDeviceSource devices)
    : face_(face), ports_(std::move(ports)), devices_(std::move(devices)) {
    state_.PortCaption = texts::kOpen;
    state_.SendCaption = texts::kSendCaption;
    state_.Panels = {texts::kPortClosed, "", ""};
    state_.BlockCount = "0";
    state_.ErrorCount = "0";
    state_.StartText = texts::kStartItems[texts::kDefaultStartIndex];
    state_.SpeedIndex = texts::kDefaultSpeedIndex;
    state_.SpeedText = texts::kSpeedItems[texts::kDefaultSpeedIndex];
    try {
        RefreshDevices();
    } catch (const std::exception&) {
        // No list to be had: the label shows the path as absent.
        present_.clear();
        ShowDevice();
    }
}

TWindowLogic::~TWindowLogic() { port_.reset(); }

void TWindowLogic::ShowAll() {
    shown_ = state_;
    shownOnce_ = true;
    face_.Show(state_, kChangeAll);
}

void TWindowLogic::Publish() {
    if (!shownOnce_) return;  // the face draws everything once it is ready
    const unsigned changes = Changes(shown_, state_);
    if (changes == 0) return;
    shown_ = state_;
    face_.Show(state_, changes);
}

void TWindowLogic::Guarded(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& error) {
        Publish();
        face_.ShowError(ErrorReportFor(error));
    }
    Publish();
}

void TWindowLogic::SetDeviceSource(TDeviceSource devices) {
    devices_ = std::move(devices);
    Guarded([this] { RefreshDevices(); });
}

void TWindowLogic::RefreshDevices() {
    present_ = devices_.List ? devices_.List() : std::vector<TSerialDevice>{};
    ShowDevice();
}

// The device behind the number; it follows adapters plugged in and out.
void TWindowLogic::ShowDevice() {
    const int number = state_.PortNumber;
    TDeviceView view;
    view.Path = DevicePathForPort(number);
    view.Present = PortPresence(number, view.Path, present_) == TPresence::Present;
    view.Hint = DeviceHint(view.Path, view.Present, present_,
                           late_ && late_->Number == number ? late_ : std::nullopt);
    state_.Device = std::move(view);
}

void TWindowLogic::UpdateSendEnabled() { state_.SendEnabled = FileLoaded && port_ != nullptr; }

void TWindowLogic::BtnComClick(int number, int speedIndex, const std::string& speedText) {
    Guarded([&] {
        if (number != state_.PortNumber) PortNumberChanged(number);
        state_.SpeedIndex = speedIndex;
        state_.SpeedText = speedText;
        if (state_.PortCaption != texts::kOpen) {
            ClosePort();
            return;
        }
        // The rate comes from the selected item alone, and only while the
        // box shows that item: a typed rate that is no item opens nothing.
        if (speedIndex < 0 || speedIndex >= static_cast<int>(texts::kSpeedItems.size()) ||
            speedText != texts::kSpeedItems[static_cast<std::size_t>(speedIndex)]) {
            SetStatusText(1, texts::kSpeedNotInList);
            FlashStatus(true);
            return;
        }
        port_ = ports_(state_.PortNumber, kBaudRates[speedIndex],
                       TPortCalls{[this](std::span<const std::uint8_t> bytes) { OnRead(bytes); },
                                  [this](const EComPortError& error) { PortFailed(error); }});
        portBaud_ = kBaudRates[speedIndex];
        SetStatusText(0, texts::kPortOpened);
        state_.PortCaption = texts::kClose;
        FlashStatus(false);
        UpdateSendEnabled();
    });
}

void TWindowLogic::ClosePort() {
    port_.reset();
    SetStatusText(0, texts::kPortClosed);
    state_.PortCaption = texts::kOpen;
    UpdateSendEnabled();
    FlashStatus(true);
}

void TWindowLogic::PortFailed(const std::exception& error) {
    // A transfer that runs fails; with none running the operation status
    // stays as it was.
    transfer_.PortFailed();
    if (port_) ClosePort();
    Publish();
    face_.ShowError(ErrorReportFor(error));
    Publish();
}

// Once an upload's first replies are timed: whether they came late, shown
// in the device's hint until an upload through that port times them again.
void TWindowLogic::TimeReply() {
    if (!replyDelay_ || replyDelay_->Decided()) return;
    const std::optional<double> late = replyDelay_->Replied(TReplyDelayMeter::TClock::now());
    if (!replyDelay_->Decided()) return;
    late_.reset();
    if (late) late_ = TLateReplies{state_.PortNumber, *late};
    ShowDevice();
}

void TWindowLogic::OnRead(std::span<const std::uint8_t> bytes) {
    TimeReply();
    try {
        transfer_.OnRead(bytes);
    } catch (const std::exception& error) {
        // A packet the port refused while replies came in.
        PortFailed(error);
        return;
    }
    Publish();
}

void TWindowLogic::FileOpen1Execute() {
    Guarded([this] {
        if (!CanLoad()) return;
        const std::optional<std::string> path = face_.ChooseFile();
        Load(path);
        face_.ClearChosenFile();
    });
}

void TWindowLogic::LoadChosen(const std::optional<std::string>& path) {
    Guarded([&] { Load(path); });
}

void TWindowLogic::Load(const std::optional<std::string>& path) {
    // A transfer that runs keeps its bytes: no load meanwhile (the
    // dialog may have been open when one started from elsewhere).
    if (!CanLoad()) return;
    // An error while reading changes nothing: the file loaded before
    // stays loaded, with its length, texts and send button.
    TLoadResult result;
    if (path) result = LoadImage(*path, transfer_.Image());
    const bool failed = result.Status != TLoadStatus::Loaded;
    transfer_.SetFileLen(failed ? 0 : result.FileLen);
    if (!failed) state_.FileName = result.ShortName;
    state_.ProgressPosition = 0;
    if (failed) {
        SetStatusText(1, texts::kFileNotRead);
        SetStatusText(2, "");
        FileLoaded = false;
    } else {
        SetStatusText(1, texts::kFileRead);
        SetStatusText(2, std::to_string(transfer_.FileLen()) + texts::kBytesSuffix);
        FileLoaded = true;
    }
    UpdateSendEnabled();
    state_.BlockCount = std::to_string(BlockCount(transfer_.FileLen()));
    FlashStatus(failed);
}

bool TWindowLogic::FileDropped(const std::string& path) {
    if (!CanLoad() || path.empty()) return false;
    LoadChosen(path);
    return true;
}

void TWindowLogic::StartBoxChange(const std::string& text) {
    Guarded([&] {
        state_.StartText = text;
        if (ValidStartText(text)) {
            SetStatusText(1, "");
        } else {
            SetStatusText(1, texts::kAddressError);
            FlashStatus(true);
        }
    });
}

void TWindowLogic::Btn_z_zelkClick() {
    Guarded([this] {
        // The button is off without a file and an open port; a press that
        // comes anyway (a face that lags) starts nothing.
        if (!state_.SendEnabled) return;
        if (transfer_.Running()) {
            transfer_.Stop();
        } else {
            replyDelay_.emplace(portBaud_);
            transfer_.Start();
        }
    });
}

void TWindowLogic::HelpAbout1Execute() {
    Guarded([this] { face_.ShowAbout(); });
}

void TWindowLogic::tmr1Timer() {
    Guarded([this] {
        face_.StopFlashTimer();
        state_.Flash = TFlash::None;
    });
}

void TWindowLogic::PortNumberChanged(int number) {
    Guarded([&] {
        state_.PortNumber = std::clamp(number, kFirstPortNumber, kLastPortNumber);
        if (devices_.Watched)
            ShowDevice();
        else
            RefreshDevices();
    });
}

void TWindowLogic::SpeedChanged(int index, const std::string& text) {
    state_.SpeedIndex = index;
    state_.SpeedText = text;
    Publish();
}

void TWindowLogic::DevicesChanged() {
    Guarded([this] { RefreshDevices(); });
}

void TWindowLogic::Closing() { port_.reset(); }

void TWindowLogic::ApplyOptions(const TWindowOptions& options) {
    if (options.Port) PortNumberChanged(*options.Port);
    if (options.Baud) {
        for (std::size_t i = 0; i < std::size(kBaudRates); ++i)
            if (kBaudRates[i] == *options.Baud) SpeedChanged(static_cast<int>(i), texts::kSpeedItems[i]);
    }
    // A text like the one there already is no change, as in the box itself.
    if (options.Start && *options.Start != state_.StartText) StartBoxChange(*options.Start);
    if (options.File) LoadChosen(*options.File);
}

void TWindowLogic::SetStatusText(int panel, const std::string& text) {
    state_.Panels.at(static_cast<std::size_t>(panel)) = text;
}

void TWindowLogic::SetZelkCaption(const std::string& caption) {
    state_.SendCaption = caption;
    // A load while a transfer runs would change the bytes it sends.
    state_.LoadEnabled = caption != texts::kStopCaption;
}

void TWindowLogic::SetPBarMax(int max) { state_.ProgressMax = std::max(max, 1); }

void TWindowLogic::SetPBarPosition(int position) { state_.ProgressPosition = position; }

void TWindowLogic::SetErrCountText(const std::string& text) { state_.ErrorCount = text; }

void TWindowLogic::FlashStatus(bool failed) {
    face_.StopFlashTimer();
    state_.Flash = failed ? TFlash::Failure : TFlash::Success;
    face_.StartFlashTimer();
}

bool TWindowLogic::Write(std::span<const std::uint8_t> bytes) {
    if (!port_) return false;
    port_->Write(bytes);
    if (replyDelay_ && bytes.size() == kPacketSize) replyDelay_->Sent(TReplyDelayMeter::TClock::now(), bytes.size());
    return true;
}

}  // namespace zelk
