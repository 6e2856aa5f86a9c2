#include "uploader.h"

#include <memory>
#include <optional>
#include <string>

#include "main_loop.h"
#include "progress.h"
#include "serial/com_port.h"
#include "transfer/texts.h"
#include "transfer/transfer.h"

namespace zelk::upload {

namespace {

constexpr int kStatusPanels = 2;

// The transfer's view of a window, kept as plain state for the command line.
class TConsoleWindow final : public TWindowOps {
public:
    TConsoleWindow(std::string startText, TProgressPrinter* progress)
        : startText_(std::move(startText)), progress_(progress) {}

    std::string StartBoxText() const override { return startText_; }
    void SetStatusText(int panel, const std::string& text) override {
        if (panel >= 0 && panel < kStatusPanels) status[panel] = text;
    }
    std::string ZelkCaption() const override { return caption_; }
    void SetZelkCaption(const std::string& caption) override { caption_ = caption; }
    void SetPBarMax(int max) override {
        if (progress_) progress_->Start(max);
    }
    void SetPBarPosition(int position) override {
        position_ = position;
        if (progress_) progress_->Update(position_, errors_);
    }
    void SetErrCountText(const std::string& text) override {
        errors_ = std::stoi(text);
        if (progress_) progress_->Update(position_, errors_);
    }
    void FlashStatus(bool failed) override { outcome = failed; }

    std::string status[kStatusPanels];
    std::optional<bool> outcome;  // set when the transfer reports success or failure

private:
    std::string startText_;
    TProgressPrinter* progress_;
    std::string caption_ = texts::kSendCaption;
    int position_ = 0;
    int errors_ = 0;
};

class TConsolePort final : public TPortLink {
public:
    bool Write(std::span<const std::uint8_t> bytes) override {
        if (!port) return false;
        port->Write(bytes);
        return true;
    }
    std::unique_ptr<TComPort> port;
};

std::string PortErrorText(const EComPortError& e) {
    std::string text = e.what();
    if (!e.Detail.empty()) text += ": " + e.Detail;
    return text;
}

}  // namespace

int RunUpload(const TUploadOptions& options, std::ostream& err, bool errIsTerminal) {
    TMainLoop loop;  // first: it blocks SIGINT/SIGTERM before the reader thread starts
    TProgressPrinter progress(err, errIsTerminal);
    TConsoleWindow window(options.Start, options.Quiet ? nullptr : &progress);
    TConsolePort port;
    auto transfer = std::make_unique<TTransfer>(window, port);

    const auto fileError = [&](const std::string& why) {
        err << texts::kFileNotRead << ' ' << options.File << ": " << why << '\n';
        return kExitUsageOrFile;
    };
    try {
        const TLoadResult loaded = LoadImage(options.File, transfer->Image);
        switch (loaded.Status) {
        case TLoadStatus::Missing:
            return fileError("no such file");
        case TLoadStatus::TooLarge:
            return fileError("the file holds 65536 bytes or more; at most 65535 fit");
        case TLoadStatus::Loaded:
            break;
        }
        // The device would ask for a first page that never comes: the
        // upload could not end, so an empty file is refused here.
        if (loaded.FileLen == 0) return fileError("the file is empty");
        transfer->FileLen = loaded.FileLen;
        if (!options.Quiet)
            err << texts::kFileRead << ' ' << loaded.ShortName << ", " << loaded.FileLen << texts::kBytesSuffix << '\n';
    } catch (const EInOutError& e) {
        return fileError(e.what());
    }

    if (!ValidStartText(options.Start))
        err << texts::kAddressError << " '" << options.Start << "' (the upload goes on with start page "
            << static_cast<int>(StartPage(options.Start)) << ")\n";

    std::optional<EComPortError> writeError;
    try {
        port.port = options.Device.empty()
                        ? std::make_unique<TComPort>(options.Port, options.Baud, loop.Invoker())
                        : std::make_unique<TComPort>(options.Device, options.Device, options.Baud, loop.Invoker());
        port.port->SetOnRead([&](TReadThread*, std::vector<std::uint8_t> bytes) {
            if (writeError) return;
            try {
                transfer->OnRead(bytes);
            } catch (const EComPortError& e) {
                writeError = e;
            }
        });
        transfer->Btn_z_zelkClick();
    } catch (const EComPortError& e) {
        err << PortErrorText(e) << '\n';
        return kExitPortError;
    }

    const auto timeout = std::chrono::duration_cast<TMainLoop::TClock::duration>(
        std::chrono::duration<double>(options.TimeoutSeconds));
    auto deadline = TMainLoop::TClock::now() + timeout;
    int exitCode = kExitUploaded;
    for (;;) {
        const auto wake = loop.RunOnce(options.TimeoutSeconds > 0 ? std::optional(deadline) : std::nullopt);
        if (wake == TMainLoop::TWake::Calls) {
            deadline = TMainLoop::TClock::now() + timeout;
            if (writeError) {
                progress.Finish();
                err << PortErrorText(*writeError) << '\n';
                exitCode = kExitPortError;
                break;
            }
            if (window.outcome) {
                progress.Finish();
                exitCode = *window.outcome ? kExitTransferFailed : kExitUploaded;
                if (!options.Quiet || exitCode != kExitUploaded) err << window.status[1] << '\n';
                break;
            }
            continue;
        }
        transfer->Btn_z_zelkClick();  // stop: replies from now on are ignored
        progress.Finish();
        if (wake == TMainLoop::TWake::Signal) {
            err << window.status[1] << '\n';
            exitCode = kExitTransferFailed;
        } else if (const auto lost = port.port->ReaderError()) {
            // The reader thread ends without a word (an unplugged adapter, say);
            // the silence it leaves is its only trace.
            err << window.status[1] << ' ' << PortErrorText(*lost) << '\n';
            exitCode = kExitPortError;
        } else {
            err << window.status[1] << " No reply from the device for " << options.TimeoutSeconds << " s\n";
            exitCode = kExitTimeout;
        }
        break;
    }
    port.port.reset();
    return exitCode;
}

}  // namespace zelk::upload
