// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "uploader.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#ifdef _WIN32
#include "common/wide_text.h"
#endif
#include "main_loop.h"
#include "messages.h"
#include "port_choice.h"
#include "progress.h"
#include "serial/com_port.h"
#include "serial/port_list.h"
#include "trace.h"
#include "transfer/reply_delay.h"
#include "transfer/transfer.h"

namespace zelk::upload {

namespace {

// The port's messages as the system words them in English, whatever the
// language of the run: the system's reason in Detail follows LC_MESSAGES
// (on Windows the user's display language).
std::string PortErrorText(const EComPortError& e) {
    std::string text = e.what();
    std::string detail = e.Detail;
#ifdef ZELK_NLS
    if (e.Errno != 0) {
        const std::string local = std::generic_category().message(e.Errno);
        if (const char* english = ::strerrordesc_np(e.Errno); english != nullptr && detail.ends_with(local))
            detail.replace(detail.size() - local.size(), local.size(), english);
    }
#elif defined(_WIN32)
    // The system's English text where it has one (Wine has every language;
    // a Russian Windows may have only its own), else the user's.
    if (e.Errno != 0) {
        constexpr std::uint16_t kEnglish = 0x0409;  // MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)
        const auto code = static_cast<std::uint32_t>(e.Errno);
        if (const std::string local = SystemMessage(code); detail.ends_with(local))
            detail.replace(detail.size() - local.size(), local.size(), SystemMessage(code, kEnglish));
    }
#endif
    if (!detail.empty()) text += ": " + detail;
    if (e.PermissionDenied() && !PermissionHint().empty()) text += '\n' + PermissionHint();
    return text;
}

const char* OutcomeText(TOutcome outcome) {
    switch (outcome) {
    case TOutcome::Done:
        return _("Upload complete.");
    case TOutcome::Failed:
        return _("Upload failed!");
    case TOutcome::Stopped:
        return _("Upload stopped!");
    }
    return _("Upload failed!");
}

// One upload from the command line: the transfer's events drive the progress
// lines and the outcome; the port is its link.
class TConsoleUpload final : public TTransferEvents, public TPortLink {
public:
    TConsoleUpload(const TUploadOptions& options, std::ostream& err, bool errIsTerminal, TTracer& tracer)
        : options_(options), err_(err), progress_(err, errIsTerminal), tracer_(tracer) {}

    // Each step returns the exit code that ends the upload, or nothing to go on.
    std::optional<int> Load();
    std::optional<int> Open();
    int Run();

private:
    std::string StartText() const override { return options_.Start; }
    void Starting() override {}
    void Started(std::int32_t total) override {
        if (!options_.Quiet) progress_.Start(total);
    }
    void Progress(std::int32_t sent) override {
        sent_ = sent;
        if (!options_.Quiet) progress_.Update(sent_, errors_);
    }
    void ChecksumMismatch(std::int32_t total, std::int32_t inARow) override;
    void Finished(TOutcome outcome) override { outcome_ = outcome; }
    void NoPort() override {}
    bool Write(std::span<const std::uint8_t> bytes) override {
        if (!port_) return false;
        tracer_.Sent(bytes);
        port_->Write(bytes);
        if (bytes.size() == kPacketSize) replyDelay_.Sent(TReplyDelayMeter::TClock::now(), bytes.size());
        return true;
    }

    void OnRead(std::span<const std::uint8_t> bytes);
    void NameSlowReplies(double delayMs);
    std::string OpenedDevice() const;
    int Report(int exitCode, const std::string& message);

    const TUploadOptions& options_;
    std::ostream& err_;
    TProgressPrinter progress_;
    TTracer& tracer_;
    TMainLoop loop_;  // before the port: it blocks the signals before the reader thread starts
    TTransfer transfer_{*this, *this};
    std::unique_ptr<TComPort> port_;
    TReplyDelayMeter replyDelay_{options_.Baud};

    std::int32_t sent_ = 0;
    std::int32_t errors_ = 0;
    std::optional<TOutcome> outcome_;
    std::optional<EComPortError> portError_;  // the port failed while replies came in
    std::string rejected_;                    // the packet rejected too often, when one was
};

std::optional<int> TConsoleUpload::Load() {
    const auto fileError = [&](const std::string& why) {
        err_ << _("File NOT read!") << ' ' << options_.File << ": " << why << '\n';
        return kExitUsageOrFile;
    };
    try {
        const TLoadResult loaded = LoadImage(options_.File, transfer_.Image());
        switch (loaded.Status) {
        case TLoadStatus::Missing:
            return fileError(_("no such file"));
        case TLoadStatus::TooLarge:
            return fileError(_("the file holds 65536 bytes or more; at most 65535 fit"));
        case TLoadStatus::Loaded:
            break;
        }
        // The device would ask for a first page that never comes: the
        // upload could not end, so an empty file is refused here.
        if (loaded.FileLen == 0) return fileError(_("the file is empty"));
        transfer_.SetFileLen(loaded.FileLen);
        if (!options_.Quiet)
            err_ << _("File read.") << ' ' << loaded.ShortName << ", " << loaded.FileLen << _(" bytes.") << '\n';
    } catch (const EInOutError& e) {
        return fileError(e.what());
    }
    return std::nullopt;
}

std::optional<int> TConsoleUpload::Open() {
    try {
        port_ = options_.Device.empty()
                    ? std::make_unique<TComPort>(options_.Port, options_.Baud, loop_.Invoker(), TPortOptions{kRequest})
                    : std::make_unique<TComPort>(options_.Device, options_.Device, options_.Baud, loop_.Invoker(),
                                                 TPortOptions{kRequest});
    } catch (const EComPortError& e) {
        err_ << PortErrorText(e) << '\n';
        return kExitPortError;
    }
    port_->SetOnRead([this](std::vector<std::uint8_t> bytes) { OnRead(bytes); });
    port_->SetOnError([this](const EComPortError& e) {
        portError_ = e;
        transfer_.PortFailed();
    });
    return std::nullopt;
}

void TConsoleUpload::OnRead(std::span<const std::uint8_t> bytes) {
    tracer_.Received(bytes);
    if (const auto late = replyDelay_.Replied(TReplyDelayMeter::TClock::now())) NameSlowReplies(*late);
    try {
        transfer_.OnRead(bytes);
    } catch (const EComPortError& e) {
        portError_ = e;
        transfer_.PortFailed();
    }
    // Rejected too often: stop before the packet goes out once more.
    if (!rejected_.empty()) transfer_.Stop();
}

// The device the port opened, a link (/dev/serial/by-id/...) resolved to it.
std::string TConsoleUpload::OpenedDevice() const {
    std::string path = port_->DevicePath();
#ifndef _WIN32
    std::error_code error;
    if (const auto real = std::filesystem::canonical(path, error); !error) path = real.string();
#endif
    return path;
}

// Said once, when the first replies come late: the user can fix the cause.
void TConsoleUpload::NameSlowReplies(double delayMs) {
    const auto seconds = [](double s) {
        std::ostringstream text;
        text << static_cast<long>(s + 0.5);
        return text.str();
    };
    std::ostringstream late;
    late.precision(1);
    late << std::fixed << delayMs;
    progress_.Finish();
    err_ << Fill(_("Replies come {1} ms late (median of the first {2} packets): a 64 KiB upload takes about {3} s "
                   "instead of {4} s. The serial adapter holds back what it receives."),
                 {late.str(), std::to_string(TReplyDelayMeter::kPackets), seconds(replyDelay_.UploadSeconds(delayMs)),
                  seconds(replyDelay_.UploadSeconds(0))})
         << ' '
         << LatencyAdvice(DeviceOfPort(ListSerialDevices(), options_.Port, options_.Device), OpenedDevice())
         << '\n';
}

void TConsoleUpload::ChecksumMismatch(std::int32_t total, std::int32_t inARow) {
    errors_ = total;
    if (!options_.Quiet) progress_.Update(sent_, errors_);
    if (options_.Retries <= 0 || inARow < options_.Retries || !rejected_.empty()) return;
    // Called before the machine moves on: State still names the packet that was out.
    const int page = transfer_.Offset() / kPageSize + 1;
    if (transfer_.State() == TState::WaitHeaderAck)
        rejected_ = Fill(_("the header of page {1}"), {std::to_string(page)});
    else
        rejected_ = Fill(_("data packet {1} of page {2} (file bytes {3}-{4})"),
                         {std::to_string(transfer_.Piece() + 1), std::to_string(page), std::to_string(transfer_.Offset()),
                          std::to_string(transfer_.Offset() + kPieceSize - 1)});
}

int TConsoleUpload::Run() {
    try {
        transfer_.Start();
    } catch (const EComPortError& e) {
        err_ << PortErrorText(e) << '\n';
        return kExitPortError;
    }
    const TMainLoop::TClock::duration timeout = TimeoutDuration(options_.TimeoutSeconds);
    auto deadline = TMainLoop::TClock::now() + timeout;
    for (;;) {
        const auto wake = loop_.RunOnce(options_.TimeoutSeconds > 0 ? std::optional(deadline) : std::nullopt);
        if (wake == TMainLoop::TWake::Calls) {
            deadline = TMainLoop::TClock::now() + timeout;
            if (portError_) return Report(kExitPortError, OutcomeText(TOutcome::Failed) + (' ' + PortErrorText(*portError_)));
            if (!rejected_.empty())
                return Report(kExitTransferFailed,
                              std::string(OutcomeText(TOutcome::Failed)) + ' ' +
                                  Fill(P_("The device rejected {1} {2} time in a row (checksum mismatch). Check the "
                                          "cable and that the device runs at {3} baud.",
                                          "The device rejected {1} {2} times in a row (checksum mismatch). Check the "
                                          "cable and that the device runs at {3} baud.",
                                          options_.Retries),
                                       {rejected_, std::to_string(options_.Retries), std::to_string(options_.Baud)}));
            if (outcome_) {
                const int code = *outcome_ == TOutcome::Done ? kExitUploaded : kExitTransferFailed;
                return Report(code, code == kExitUploaded && options_.Quiet ? std::string() : OutcomeText(*outcome_));
            }
            continue;
        }
        transfer_.Stop();  // replies from now on are ignored
        if (wake == TMainLoop::TWake::Signal) return Report(kExitTransferFailed, OutcomeText(TOutcome::Stopped));
        std::ostringstream seconds;
        seconds << options_.TimeoutSeconds;
        return Report(kExitTimeout, std::string(OutcomeText(TOutcome::Stopped)) + ' ' +
                                        Fill(_("No reply from the device for {1} s"), {seconds.str()}));
    }
}

int TConsoleUpload::Report(int exitCode, const std::string& message) {
    progress_.Finish();
    if (!message.empty()) err_ << message << '\n';
    port_.reset();
    return exitCode;
}

}  // namespace

int RunUpload(const TUploadOptions& options, std::ostream& err, bool errIsTerminal) {
    // The trace: on err for --verbose, in a file for --log.
    std::vector<std::ostream*> traceTo;
    if (options.Verbose) traceTo.push_back(&err);
    std::ofstream log;
    if (!options.LogFile.empty()) {
        log.open(options.LogFile);
        if (!log) {
            err << Fill(_("Cannot open log file {1}: {2}"),
                        {options.LogFile, std::generic_category().message(errno)})
                << '\n';
            return kExitUsageOrFile;
        }
        traceTo.push_back(&log);
    }
    TTracer tracer(std::move(traceTo));
    // Trace lines and a progress line redrawn in place would overwrite each other.
    TConsoleUpload upload(options, err, errIsTerminal && !options.Verbose, tracer);
    if (const auto code = upload.Load()) return *code;
    if (const auto code = upload.Open()) return *code;
    return upload.Run();
}

}  // namespace zelk::upload
