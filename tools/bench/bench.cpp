// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// zelk-bench: how much the window's way of talking to the port costs.
//
// Uploads one 64 KiB image to the emulated controller again and again,
// alternating between
//   (a) the full stack: the main window offscreen (shown, so that the progress
//       bar really repaints), the serial port with its reader thread and the
//       delivery of every chunk on the main thread, started with the button;
//   (b) a reference loop on one thread: poll/read/write on the same kind of
//       pseudo-terminal, with the same transfer core building the packets.
// The controller records every response time of the host, from its 0x05 to
// the packet's last byte. The figures are medians over the runs.
//
// Host CPU time: the emulator runs on a thread of this process, so the host's
// share is the process's CPU time less that thread's own.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <optional>
#include <span>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "common/unique_fd.h"
#include "serial/com_port.h"
#include "tools/emulator/device_emulator.h"
#include "transfer/file_image.h"
#include "transfer/transfer.h"
#include "ui/ABOUT.h"
#include "ui/fils_io.h"
#include "ui/main_zelk.h"
#include "window/texts.h"
#include "ui/up_down.h"

namespace {

using namespace std::chrono_literals;
using std::chrono::nanoseconds;
using TClock = std::chrono::steady_clock;

constexpr int kImageBytes = 65535;
constexpr double kWireBaud = 115200.0;
constexpr int kPortNumber = 20;
constexpr auto kLimit = 60s;

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what); }

std::set<pid_t> ThreadIds() {
    std::set<pid_t> ids;
    DIR* dir = ::opendir("/proc/self/task");
    if (!dir) throw std::system_error(errno, std::generic_category(), "/proc/self/task");
    while (const dirent* entry = ::readdir(dir))
        if (entry->d_name[0] != '.') ids.insert(static_cast<pid_t>(std::atoi(entry->d_name)));
    ::closedir(dir);
    return ids;
}

nanoseconds CpuTime(clockid_t clock) {
    timespec ts{};
    if (::clock_gettime(clock, &ts) != 0) throw std::system_error(errno, std::generic_category(), "clock_gettime");
    return std::chrono::seconds(ts.tv_sec) + nanoseconds(ts.tv_nsec);
}

// The CPU clock of another thread of this process known only by its id,
// encoded as Linux (and glibc's pthread_getcpuclockid) encode it.
clockid_t ThreadCpuClock(pid_t tid) { return static_cast<clockid_t>((~static_cast<unsigned>(tid) << 3) | 6u); }

// The emulator, with the id of its thread, found as the one its constructor started.
struct TController {
    TController()
        : Before(ThreadIds()), Emulator(zelk::emu::TEmulatorOptions{}), Clock(FindClock(Before)) {}

    static clockid_t FindClock(const std::set<pid_t>& before) {
        const std::set<pid_t> after = ThreadIds();
        std::vector<pid_t> added;
        std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
        if (added.size() != 1) Fail("cannot tell the emulator's thread");
        return ThreadCpuClock(added.front());
    }

    nanoseconds HostCpu() const { return CpuTime(CLOCK_PROCESS_CPUTIME_ID) - CpuTime(Clock); }

    std::set<pid_t> Before;
    zelk::emu::TDeviceEmulator Emulator;
    clockid_t Clock;
};

struct TRun {
    nanoseconds Total{};
    nanoseconds HostCpu{};
    zelk::emu::TUploadResult Result;
};

struct TStats {
    double TotalMs, MedianUs, P99Us, SumMs, CpuMs;
};

nanoseconds Percentile(const zelk::emu::TResponseTimes& times, double p) {
    if (times.Empty()) Fail("no response times");
    return times.Percentile(p);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

TStats Summarize(const std::vector<TRun>& runs) {
    std::vector<double> total, median, p99, sum, cpu;
    for (const TRun& r : runs) {
        total.push_back(std::chrono::duration<double, std::milli>(r.Total).count());
        median.push_back(std::chrono::duration<double, std::micro>(Percentile(r.Result.ResponseTimes, 0.5)).count());
        p99.push_back(std::chrono::duration<double, std::micro>(Percentile(r.Result.ResponseTimes, 0.99)).count());
        sum.push_back(std::chrono::duration<double, std::milli>(r.Result.ResponseTimes.Total()).count());
        cpu.push_back(std::chrono::duration<double, std::milli>(r.HostCpu).count());
    }
    return {Median(total), Median(median), Median(p99), Median(sum), Median(cpu)};
}

void Check(const zelk::emu::TUploadResult& r, const std::vector<std::uint8_t>& expected, const char* who) {
    if (r.Outcome != zelk::emu::TOutcome::Completed || r.Bytes != expected || r.ReRequests != 0)
        Fail(std::string(who) + ": the upload went wrong\n" + zelk::emu::FormatSummary(r));
}

// The open-file dialog that always picks the benchmark's image.
class TFixedDialog : public zelk::TOpenFileDialog {
public:
    explicit TFixedDialog(QString path) : path_(std::move(path)) {}
    std::optional<QString> Execute() override { return path_; }
    void ClearFileName() override {}

private:
    QString path_;
};

// (a): the program's own window, driven through its buttons.
class TFullStack {
public:
    TFullStack(TController& controller, const QString& imagePath) : controller_(controller) {
        form2_.dlgOpen1 = std::make_unique<TFixedDialog>(imagePath);
        form1_.Attach(about_, form2_);
        form1_.SetErrorBox([](const zelk::TErrorReport& report) {
            Fail("error box: " + report.Text + " " + report.Detail);
        });
        form1_.show();
        ::setenv(("ZELK_COM" + std::to_string(kPortNumber)).c_str(), controller_.Emulator.DevicePath().c_str(), 1);
        auto* upDown = form1_.findChild<zelk::TUpDown*>("UDCom");
        if (!upDown) Fail("no port number control");
        upDown->SetPosition(kPortNumber);
    }

    TRun Run() {
        Button("BtnCom");  // open
        TRun run;
        const TClock::time_point start = TClock::now();
        const nanoseconds cpu = controller_.HostCpu();
        Button("Btn_z_zelk");
        WaitUntil([this] { return form1_.Transfer().State() == zelk::TState::Idle; });
        run.Total = TClock::now() - start;
        run.HostCpu = controller_.HostCpu() - cpu;
        if (form1_.findChild<QPushButton*>("Btn_z_zelk")->text() != QString::fromUtf8(zelk::texts::kSendCaption))
            Fail("the window did not finish the upload");
        Button("BtnCom");  // close: joins the reader thread
        auto result = controller_.Emulator.WaitResult(10s);
        if (!result) Fail("no result from the controller");
        run.Result = std::move(*result);
        return run;
    }

    void Load() { Button("Btn_z_open"); }

    zelk::TForm1& Form() { return form1_; }

private:
    void Button(const char* name) {
        auto* button = form1_.findChild<QPushButton*>(name);
        if (!button) Fail(std::string("no button ") + name);
        button->click();
    }

    // Runs the event loop until done() holds; checked whenever the loop is about to sleep.
    static void WaitUntil(const std::function<bool()>& done) {
        if (done()) return;
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &loop,
                         [&] {
                             if (done()) loop.quit();
                         });
        timer.start(kLimit);
        loop.exec();
        if (!done()) Fail("the upload did not end in time");
    }

    TController& controller_;
    zelk::TForm1 form1_;
    zelk::TAboutBox about_;
    zelk::TForm2 form2_;
};

// (b): nothing but the transfer core, the terminal and one thread.
class TReferenceLoop : private zelk::TTransferEvents, private zelk::TPortLink {
public:
    TReferenceLoop(TController& controller, const zelk::TImage& image, std::int32_t fileLen)
        : controller_(controller) {
        std::copy(image.begin(), image.end(), transfer_.Image().begin());
        transfer_.SetFileLen(fileLen);
    }

    TRun Run() {
        fd_ = zelk::TUniqueFd(::open(controller_.Emulator.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        const int fd = fd_.Get();
        if (!fd_) throw std::system_error(errno, std::generic_category(), "open");
        termios tio{};
        if (::tcgetattr(fd, &tio) != 0) throw std::system_error(errno, std::generic_category(), "tcgetattr");
        ::cfmakeraw(&tio);
        if (::tcsetattr(fd, TCSANOW, &tio) != 0 || ::tcflush(fd, TCIOFLUSH) != 0)
            throw std::system_error(errno, std::generic_category(), "tcsetattr");

        TRun run;
        const TClock::time_point start = TClock::now();
        const nanoseconds cpu = controller_.HostCpu();
        transfer_.Start();
        std::uint8_t chunk[256];
        while (transfer_.State() != zelk::TState::Idle) {
            pollfd p{fd, POLLIN, 0};
            const int ready = ::poll(&p, 1, static_cast<int>(std::chrono::milliseconds(kLimit).count()));
            if (ready <= 0) Fail("the reference loop got no reply");
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0 && errno != EAGAIN) throw std::system_error(errno, std::generic_category(), "read");
            if (n > 0) transfer_.OnRead(std::span<const std::uint8_t>(chunk, static_cast<std::size_t>(n)));
        }
        run.Total = TClock::now() - start;
        run.HostCpu = controller_.HostCpu() - cpu;
        fd_.Reset();
        auto result = controller_.Emulator.WaitResult(10s);
        if (!result) Fail("no result from the controller");
        run.Result = std::move(*result);
        return run;
    }

private:
    std::string StartText() const override { return "0100h"; }
    void Starting() override {}
    void Started(std::int32_t) override {}
    void Progress(std::int32_t) override {}
    void ChecksumMismatch(std::int32_t, std::int32_t) override {}
    void Finished(zelk::TOutcome) override {}
    void NoPort() override {}

    bool Write(std::span<const std::uint8_t> bytes) override {
        while (!bytes.empty()) {
            const ssize_t n = ::write(fd_.Get(), bytes.data(), bytes.size());
            if (n > 0) {
                bytes = bytes.subspan(static_cast<std::size_t>(n));
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p{fd_.Get(), POLLOUT, 0};
                ::poll(&p, 1, -1);
            } else {
                throw std::system_error(errno, std::generic_category(), "write");
            }
        }
        return true;
    }

    TController& controller_;
    zelk::TTransfer transfer_{*this, *this};
    zelk::TUniqueFd fd_;
};

int Usage() {
    std::fprintf(stderr, "usage: zelk-bench [--runs N]   (N >= 1, default 7 of each kind)\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int runs = 7;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
            if (runs < 1) return Usage();
        } else {
            return Usage();
        }
    }

    try {
        QApplication app(argc, argv);
        QApplication::setApplicationName("ZELK");

        QTemporaryDir dir;
        const QString imagePath = dir.filePath("bench.rom");
        std::vector<std::uint8_t> bytes(kImageBytes);
        std::mt19937 random(1);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
        QFile file(imagePath);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(reinterpret_cast<const char*>(bytes.data()), kImageBytes) != kImageBytes)
            Fail("cannot write " + imagePath.toStdString());
        file.close();

        TController controller;
        TFullStack full(controller, imagePath);
        full.Load();
        const zelk::TTransfer& loaded = full.Form().Transfer();
        if (loaded.FileLen() != zelk::RoundFileLen(kImageBytes)) Fail("the window did not load the image");
        std::vector<std::uint8_t> expected = bytes;
        expected.resize(static_cast<std::size_t>(loaded.FileLen()), 0);
        TReferenceLoop reference(controller, loaded.Image(), loaded.FileLen());

        // One of each first to warm caches and the painting path; not counted.
        Check(full.Run().Result, expected, "full stack");
        Check(reference.Run().Result, expected, "reference loop");
        std::vector<TRun> a, b;
        for (int i = 0; i < runs; ++i) {
            a.push_back(full.Run());
            Check(a.back().Result, expected, "full stack");
            b.push_back(reference.Run());
            Check(b.back().Result, expected, "reference loop");
        }

        const TStats sa = Summarize(a), sb = Summarize(b);
        const int packets = a.front().Result.PacketsReceived;
        // Every packet costs 36 bytes plus the request before it and the answer after it.
        const double wireS = packets * 38 * 10 / kWireBaud;
        const double addedMs = sa.SumMs - sb.SumMs;
        const double projectedS = wireS + addedMs / 1000;

        std::printf("zelk-bench: %d-byte image, %d packets an upload, %d runs of each (after one warm-up each)\n",
                    kImageBytes, packets, runs);
        std::printf("medians over the runs      (a) full stack  (b) reference   (a)/(b)\n");
        std::printf("  total time, ms           %12.1f  %14.1f  %8.2f\n", sa.TotalMs, sb.TotalMs,
                    sa.TotalMs / sb.TotalMs);
        std::printf("  median response, us     %12.1f  %14.1f  %8.2f\n", sa.MedianUs, sb.MedianUs,
                    sa.MedianUs / sb.MedianUs);
        std::printf("  99th pct response, us    %12.1f  %14.1f  %8.2f\n", sa.P99Us, sb.P99Us, sa.P99Us / sb.P99Us);
        std::printf("  host CPU time, ms        %12.1f  %14.1f  %8.2f\n", sa.CpuMs, sb.CpuMs, sa.CpuMs / sb.CpuMs);
        std::printf("  responses summed, ms     %12.1f  %14.1f  %8.2f\n", sa.SumMs, sb.SumMs, sa.SumMs / sb.SumMs);
        std::printf("added response time of (a), summed: %.1f ms = %.2f %% of the %.2f s wire time\n", addedMs,
                    100 * addedMs / 1000 / wireS, wireS);
        std::printf("projected full stack at 115,200 baud: %.2f s %+.3f s = %.3f s\n", wireS, addedMs / 1000,
                    projectedS);
        const bool totalOk = sa.TotalMs / sb.TotalMs <= 1.5;
        const bool medianOk = sa.MedianUs / sb.MedianUs <= 1.5;
        const bool addedOk = addedMs / 1000 < 0.01 * wireS;
        std::printf("targets: total (a)/(b) <= 1.5 %s, median response (a)/(b) <= 1.5 %s, added < 1 %% %s\n",
                    totalOk ? "met" : "MISSED", medianOk ? "met" : "MISSED", addedOk ? "met" : "MISSED");
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zelk-bench: %s\n", error.what());
        return 1;
    }
}
