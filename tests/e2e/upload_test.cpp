// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// Whole uploads as a user makes them: the window offscreen, driven through
// its widgets, the real port with its reader thread, and the emulated
// controller behind a pseudo-terminal.
#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QFile>
#include <QProgressBar>
#include <QSocketNotifier>
#include <QTest>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <random>
#include <set>

#include "serial/com_port.h"
#include "ui_test_support.h"
#include "tools/emulator/device_emulator.h"
#include "transfer/file_image.h"
#include "window/texts.h"

namespace zelk::test {
namespace {

using emu::TDeviceEmulator;
using emu::TEmulatorOptions;
using emu::TOutcome;
using emu::TUploadResult;
using TBytes = std::vector<std::uint8_t>;

// The bound of every wait on an upload; a 64 KiB one under ThreadSanitizer
// takes a good part of it.
constexpr std::chrono::milliseconds kUploadLimit{120000};

QString Utf8(const char* text) { return QString::fromUtf8(text); }

// Runs the event loop until done() holds or limit passes. done() is checked
// each time the loop is about to sleep, so every delivery it depends on has run.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = kUploadLimit) {
    if (done()) return true;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &loop, [&] {
        if (done()) loop.quit();
    });
    timer.start(limit);
    loop.exec();
    return done();
}

class EndToEnd : public ::testing::Test {
protected:
    EndToEnd() { w.SetPortNumber(7); }

    ~EndToEnd() override {
        w.form1.close();  // closes the port, which joins its reader thread
        notifier_.reset();
    }

    // Starts the controller behind COM7 and opens the port with BtnCom.
    void Connect(TEmulatorOptions options) {
        emu_ = std::make_unique<TDeviceEmulator>(std::move(options));
        notifier_ = std::make_unique<QSocketNotifier>(emu_->ResultFd(), QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
            while (auto result = emu_->TakeResult()) results_.push_back(std::move(*result));
        });
        com7_ = std::make_unique<TEnvVar>("ZELK_COM7", emu_->DevicePath());
        w.Click("BtnCom");
        ASSERT_EQ(w.Status(0), Utf8("СОМ-порт Открыт.")) << (w.Errors.empty() ? QString() : w.Errors[0].Detail).toStdString();
    }

    // A file of size random bytes, loaded through the file dialog.
    void Load(int size) {
        std::mt19937 random(static_cast<unsigned>(size) * 2654435761u + 1);
        file_.resize(static_cast<std::size_t>(size));
        for (auto& b : file_) b = static_cast<std::uint8_t>(random());
        const QString path = dir_.filePath("prog.rom");
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(reinterpret_cast<const char*>(file_.data()), size), size);
        f.close();
        w.Load(path);
        ASSERT_EQ(w.Status(1), Utf8(texts::kFileRead));
        ASSERT_EQ(FileLen(), RoundFileLen(size));
    }

    std::int32_t FileLen() const { return w.form1.Transfer().FileLen(); }
    TState State() const { return w.form1.Transfer().State(); }
    int Progress() const { return w.Find<QProgressBar>("PBar")->value(); }
    bool Running() const { return w.Text("Btn_z_zelk") == Utf8(texts::kStopCaption); }

    // The next result of the controller, waiting for it.
    TUploadResult NextResult() {
        if (!WaitUntil([this] { return !results_.empty(); })) throw std::runtime_error("no upload result in time");
        TUploadResult result = std::move(results_.front());
        results_.pop_front();
        return result;
    }

    // What the controller rebuilds from a whole upload: the file and its zero padding.
    TBytes Padded() const {
        TBytes bytes = file_;
        bytes.resize(static_cast<std::size_t>(FileLen()), 0);
        return bytes;
    }

    // The controller publishes its result when it sends the last 06; the
    // window completes when that 06 has been delivered.
    void ExpectCompleted(const TUploadResult& r, std::uint8_t startPage, int rejected) {
        ASSERT_TRUE(WaitUntil([this] { return !Running(); }, 10s));
        const int pages = FileLen() / 256;
        EXPECT_EQ(r.Outcome, TOutcome::Completed) << emu::FormatSummary(r);
        EXPECT_TRUE(r.Violations.empty()) << emu::FormatSummary(r);
        EXPECT_EQ(r.StartPage, startPage);
        EXPECT_EQ(r.BlockCountByte, static_cast<std::uint8_t>(pages));
        EXPECT_EQ(r.Pages, pages);
        EXPECT_EQ(r.PacketsReceived, pages + FileLen() / 32 + rejected);
        EXPECT_EQ(r.PacketsRejected, rejected);
        EXPECT_EQ(r.ChecksumErrors, 0);
        EXPECT_TRUE(r.Bytes == Padded()) << "rebuilt bytes differ from the file";
        EXPECT_EQ(Progress(), FileLen());
        EXPECT_EQ(w.Status(1), Utf8(texts::kSendDone));
        EXPECT_EQ(w.StatusColor(), kSuccessColor);
        EXPECT_FALSE(Running());
        EXPECT_EQ(State(), TState::Idle);
        EXPECT_TRUE(w.Errors.empty());
    }

    TWindow w;
    std::unique_ptr<TDeviceEmulator> emu_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::unique_ptr<TEnvVar> com7_;
    std::deque<TUploadResult> results_;
    QTemporaryDir dir_;
    TBytes file_;
};

struct TUploadCase {
    const char* Name;
    int Size;
    const char* StartText;
    std::uint8_t StartPage;
    std::set<int> Reject;  // packets the controller answers 0xF4
    int AckWithRequestAt = 0;
};

std::ostream& operator<<(std::ostream& out, const TUploadCase& c) { return out << c.Name; }

class Uploads : public EndToEnd, public ::testing::WithParamInterface<TUploadCase> {};

TEST_P(Uploads, RebuildFileWithPadding) {
    const TUploadCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(Connect({.RejectPackets = c.Reject, .AckWithRequestAt = c.AckWithRequestAt}));
    ASSERT_NO_FATAL_FAILURE(Load(c.Size));
    w.SetStartText(Utf8(c.StartText));
    w.Click("Btn_z_zelk");
    EXPECT_TRUE(Running());

    const TUploadResult r = NextResult();
    ExpectCompleted(r, c.StartPage, static_cast<int>(c.Reject.size()));
    EXPECT_EQ(r.ReRequests, 0);
    EXPECT_EQ(w.Text("Edt_err_ks"), QString::number(c.Reject.size()));
}

// The 300-byte file at "0100h": S 1, C 2, page numbers 5 and 4, which the
// controller checks packet by packet along with sync bytes, piece codes and sums.
INSTANTIATE_TEST_SUITE_P(
    EndToEnd, Uploads,
    ::testing::Values(TUploadCase{"Size0001At0100h", 1, "0100h", 1, {}}, TUploadCase{"Size0001At0000h", 1, "0000h", 0, {}},
                      TUploadCase{"Size0256At0100h", 256, "0100h", 1, {}},
                      TUploadCase{"Size0256At0000h", 256, "0000h", 0, {}},
                      TUploadCase{"Size0257At0100h", 257, "0100h", 1, {}},
                      TUploadCase{"Size0257At0000h", 257, "0000h", 0, {}},
                      TUploadCase{"Size0300At0100h", 300, "0100h", 1, {}},
                      TUploadCase{"Size0300At0000h", 300, "0000h", 0, {}},
                      TUploadCase{"Size65535At0100h", 65535, "0100h", 1, {}},
                      TUploadCase{"Size65535At0000h", 65535, "0000h", 0, {}},
                      // The first header, the second page's header and a data packet
                      // rejected, one of them twice in a row.
                      TUploadCase{"ChecksumRejections", 1000, "0100h", 1, {1, 11, 14, 15}},
                      // "06 05" in one chunk: the 05 in it is the next request.
                      TUploadCase{"AckWithRequestInOneChunk", 600, "0100h", 1, {}, 5}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(EndToEnd, UnexpectedReplyEndsTheUploadWithAnError) {
    ASSERT_NO_FATAL_FAILURE(Connect({.UnexpectedReplyAt = 4}));
    ASSERT_NO_FATAL_FAILURE(Load(3000));
    w.Click("Btn_z_zelk");

    const TUploadResult r = NextResult();
    EXPECT_EQ(r.Outcome, TOutcome::Aborted);
    EXPECT_EQ(r.PacketsReceived, 4);
    ASSERT_TRUE(WaitUntil([this] { return !Running(); }, 10s));
    EXPECT_EQ(w.Status(1), Utf8(texts::kSendError));
    EXPECT_EQ(w.StatusColor(), kFailColor);
    EXPECT_EQ(State(), TState::Idle);
    EXPECT_EQ(Progress(), 2 * 32);  // the header and two data packets went through
}

TEST_F(EndToEnd, StopInTheMiddleIgnoresLaterReplies) {
    // The controller answers packet 12, page 1's second data packet, with a
    // reply that would fail a running transfer. It holds every byte it sends
    // for a while, so the stop comes while that packet waits for its answer.
    constexpr int kUnderWay = 12;
    ASSERT_NO_FATAL_FAILURE(Connect({.ReplyDelay = 150ms, .UnexpectedReplyAt = kUnderWay}));
    ASSERT_NO_FATAL_FAILURE(Load(20000));
    w.Click("Btn_z_zelk");
    ASSERT_TRUE(WaitUntil([this] { return State() == TState::WaitDataAck && Progress() == 256 + 32; }));
    w.Click("Btn_z_zelk");
    EXPECT_EQ(w.Status(1), Utf8(texts::kSendStopped));
    EXPECT_EQ(w.StatusColor(), kFailColor);

    // The answer comes; the controller publishes once the port has read it.
    const TUploadResult r = NextResult();
    EXPECT_EQ(r.Outcome, TOutcome::Aborted);
    EXPECT_EQ(r.PacketsReceived, kUnderWay);
    EXPECT_EQ(r.Pages, 1);
    EXPECT_TRUE(std::equal(file_.begin(), file_.begin() + 256, r.Bytes.begin()));
    // It changed nothing.
    EXPECT_EQ(State(), TState::Idle);
    EXPECT_FALSE(Running());
    EXPECT_EQ(Progress(), 256 + 32);
    EXPECT_EQ(w.Status(1), Utf8(texts::kSendStopped));
    EXPECT_EQ(w.StatusColor(), kFailColor);
}

TEST_F(EndToEnd, ClosingAndReopeningThePortContinuesTheUpload) {
    // Opening purges the line, so the request that waited there is lost and asked again.
    ASSERT_NO_FATAL_FAILURE(Connect({.RequestTimeout = 200ms}));
    ASSERT_NO_FATAL_FAILURE(Load(20000));
    w.Click("Btn_z_zelk");
    // Closed while a request is due, never while a packet waits for its answer.
    ASSERT_TRUE(WaitUntil([this] {
        return Progress() >= 8000 && (State() == TState::WaitDataReq || State() == TState::WaitHeaderReq);
    }));
    w.Click("BtnCom");
    EXPECT_EQ(w.Status(0), Utf8("СОМ-порт Закрыт."));
    EXPECT_TRUE(Running());
    EXPECT_FALSE(w.Enabled("Btn_z_zelk"));

    w.Click("BtnCom");
    EXPECT_EQ(w.Status(0), Utf8("СОМ-порт Открыт."));
    EXPECT_TRUE(w.Enabled("Btn_z_zelk"));
    const TUploadResult r = NextResult();
    ExpectCompleted(r, 1, 0);
}

TEST_F(EndToEnd, EmptyFileWaitsUntilStopped) {
    // The controller keeps asking; this one gives up after a while, so that
    // the requests it made can be seen to change nothing.
    ASSERT_NO_FATAL_FAILURE(Connect({.RequestTimeout = 50ms, .FirstHeaderTimeout = 400ms}));
    ASSERT_NO_FATAL_FAILURE(Load(0));
    w.Click("Btn_z_zelk");

    const TUploadResult r = NextResult();
    EXPECT_EQ(r.Outcome, TOutcome::NoHeader);
    EXPECT_GE(r.ReRequests, 1);
    EXPECT_EQ(r.PacketsReceived, 0);
    EXPECT_TRUE(Running());
    EXPECT_EQ(State(), TState::WaitHeaderReq);
    EXPECT_EQ(w.Status(1), Utf8(texts::kSending));

    w.Click("Btn_z_zelk");
    EXPECT_EQ(w.Status(1), Utf8(texts::kSendStopped));
    EXPECT_EQ(State(), TState::Idle);
    EXPECT_EQ(Progress(), 0);
}

}  // namespace
}  // namespace zelk::test
