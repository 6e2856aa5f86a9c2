// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// The soak: uploads one after another through one window session (the
// window's logic, the real port, zelk-emu --loop on a pseudo-terminal) and
// through zelk-upload against one emulator, and opens and closes of a port.
// Each upload must arrive byte for byte; afterwards the process must hold the
// descriptors and threads it held before, and its resident memory must stay
// flat after a warm-up. Prints its figures on lines that start with "soak:".
//
// ZELK_SOAK_UPLOADS sets the number of uploads of each kind (200), and
// ZELK_SOAK_OPENS the opens and closes (1,000).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "fake_face.h"
#include "serial/com_port.h"
#include "support/pty_pair.h"
#include "support/run_program.h"
#include "tools/emulator/sha256.h"
#include "transfer/file_image.h"
#include "window/texts.h"

namespace zelk::test {
namespace {

using TBytes = std::vector<std::uint8_t>;
using TClock = std::chrono::steady_clock;

// Uploads before the resident memory is taken as the base.
constexpr int kWarmUp = 20;
// How far the resident memory may rise after the warm-up, in KiB.
constexpr long kRssBoundKiB = 512;
// The bound of each wait on the emulator.
constexpr std::chrono::milliseconds kWait{30000};

int Count(const char* variable, int fallback) {
    const char* text = std::getenv(variable);
    const int n = text != nullptr ? std::atoi(text) : 0;
    return n > 0 ? n : fallback;
}

// A number field of /proc/self/status, in its own unit (kB for VmRSS).
long StatusField(const std::string& name) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with(name + ':')) return std::atol(line.c_str() + name.size() + 1);
    ADD_FAILURE() << name << " is not in /proc/self/status";
    return -1;
}

struct TUsage {
    long RssKiB = 0;
    int Fds = 0;
    int Threads = 0;
};

TUsage Usage() { return {StatusField("VmRSS"), OpenFdCount(), LiveThreadCount()}; }

// A file of random bytes, 1 to 8,192 of them, and what the controller must
// rebuild from it: the bytes and zeros up to whole pages.
struct TProgram {
    TBytes Bytes;
    std::string Path;
    std::string Sha256;  // of the padded bytes
};

TProgram NextProgram(std::mt19937& random, const std::string& path) {
    TProgram p;
    p.Bytes.resize(1 + random() % 8192);
    for (auto& b : p.Bytes) b = static_cast<std::uint8_t>(random());
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(p.Bytes.data()), static_cast<std::streamsize>(p.Bytes.size()));
    TBytes padded = p.Bytes;
    padded.resize(static_cast<std::size_t>(RoundFileLen(static_cast<std::int32_t>(p.Bytes.size()))), 0);
    p.Path = path;
    p.Sha256 = emu::Sha256Hex(padded);
    return p;
}

// zelk-emu --loop as a program of its own: the first line of its standard
// output names its pseudo-terminal, and after each upload it sums it up on
// standard error, the summary ending with an empty line. It also stops when
// its standard input closes, so that it never outlives this process.
class TEmulatorProgram {
public:
    TEmulatorProgram() {
        int in[2], out[2], err[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe2 failed");
        const TUniqueFd inRead(in[0]), outWrite(out[1]), errWrite(err[1]);
        in_ = TUniqueFd(in[1]);
        out_ = TUniqueFd(out[0]);
        err_ = TUniqueFd(err[0]);
        pid_ = SpawnProgram(ZELK_EMU_PATH, {"--loop", "--watch-stdin"}, {}, inRead.Get(), outWrite.Get(),
                            errWrite.Get());
        std::string first;
        while (!first.ends_with('\n'))
            if (!ReadSome(out_.Get(), first)) throw std::runtime_error("zelk-emu named no terminal: " + first);
        path_ = first.substr(0, first.size() - 1);
    }
    ~TEmulatorProgram() {
        in_.Reset();
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    TEmulatorProgram(const TEmulatorProgram&) = delete;
    TEmulatorProgram& operator=(const TEmulatorProgram&) = delete;

    const std::string& Path() const { return path_; }
    // The emulator's resident memory in KiB.
    long RssKiB() const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.starts_with("VmRSS:")) return std::atol(line.c_str() + 6);
        return -1;
    }

    // The next upload's summary; what came so far if none ends within kWait.
    std::string NextSummary() {
        for (;;) {
            if (const std::size_t end = errText_.find("\n\n"); end != std::string::npos) {
                std::string summary = errText_.substr(0, end + 1);
                errText_.erase(0, end + 2);
                return summary;
            }
            if (!ReadSome(err_.Get(), errText_)) return std::exchange(errText_, {});
        }
    }

private:
    // Appends what fd has to text; false at its end or after kWait.
    static bool ReadSome(int fd, std::string& text) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(kWait.count())) != 1) return false;
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) return false;
        text.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    TUniqueFd in_, out_, err_;
    std::string path_;
    std::string errText_;
};

// The emulator's summary says the upload completed with exactly these bytes.
::testing::AssertionResult Arrived(const std::string& summary, const TProgram& program) {
    if (summary.starts_with("upload: completed\n") && summary.find("sha256: " + program.Sha256 + '\n') != std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << program.Bytes.size() << " bytes, sha256 of the padded bytes "
                                         << program.Sha256 << "; the emulator said:\n"
                                         << summary;
}

// Resident memory after the warm-up: its least and greatest.
struct TRssWatch {
    long AtWarmUp = 0;
    long Max = 0;
    void Take(int upload, long rssKiB) {
        if (upload == kWarmUp) AtWarmUp = Max = rssKiB;
        if (upload > kWarmUp) Max = std::max(Max, rssKiB);
    }
    long Growth() const { return Max - AtWarmUp; }
};

// The fake face, keeping what it drew last but no list of every change,
// which would grow with each progress step of every upload.
class TSoakFace final : public TFakeFace {
public:
    void Show(const TWindowState& state, unsigned) override { Drawn = state; }
};

double SecondsSince(TClock::time_point start) { return std::chrono::duration<double>(TClock::now() - start).count(); }

// A line every thousand uploads of a long run.
void Progress(const char* what, int upload, const TUsage& now, TClock::time_point start) {
    std::printf("soak: %s: upload %d after %.0f s: resident memory %ld KiB, descriptors %d, threads %d\n", what, upload,
                SecondsSince(start), now.RssKiB, now.Fds, now.Threads);
    std::fflush(stdout);
}

// One window session: the port opened once, then every upload loaded from a
// new file and sent with the send button, as a user would.
TEST(Soak, UploadsThroughOneWindowSession) {
    const int uploads = Count("ZELK_SOAK_UPLOADS", 200);
    ASSERT_GT(uploads, kWarmUp);
    TEmulatorProgram emulator;
    ASSERT_EQ(::setenv("ZELK_COM7", emulator.Path().c_str(), 1), 0);  // before any thread of ours starts
    TFiles files;
    TMainQueue queue;
    TSoakFace face;
    {
        TWindowLogic logic(face, ComPortFactory(queue.Invoker()), {[] { return std::vector<TSerialDevice>{}; }, true});
        logic.ShowAll();
        const TUsage closed = Usage();
        logic.BtnComClick(7, 9, "br115200");
        ASSERT_TRUE(logic.PortIsOpen()) << (face.Errors.empty() ? "" : face.Errors[0].Detail);
        const TUsage open = Usage();

        std::mt19937 random(7);
        TRssWatch rss, emulatorRss;
        long bytes = 0;
        const auto start = TClock::now();
        for (int i = 1; i <= uploads; ++i) {
            const TProgram program = NextProgram(random, files.Folder() + "/program.rom");
            bytes += static_cast<long>(program.Bytes.size());
            face.Answers.push_back(program.Path);
            logic.FileOpen1Execute();
            ASSERT_TRUE(logic.State().SendEnabled) << "upload " << i << ": " << logic.State().Panels[1];
            logic.Btn_z_zelkClick();
            ASSERT_TRUE(queue.RunUntil([&] { return !logic.Transfer().Running(); })) << "upload " << i;
            ASSERT_EQ(logic.State().Panels[1], texts::kSendDone) << "upload " << i;
            ASSERT_TRUE(Arrived(emulator.NextSummary(), program)) << "upload " << i;
            const TUsage now = Usage();
            ASSERT_EQ(now.Fds, open.Fds) << "descriptors after upload " << i;
            ASSERT_EQ(now.Threads, open.Threads) << "threads after upload " << i;
            rss.Take(i, now.RssKiB);
            emulatorRss.Take(i, emulator.RssKiB());
            if (i % 1000 == 0) Progress("window", i, now, start);
        }
        const double seconds = SecondsSince(start);
        EXPECT_TRUE(face.Errors.empty());
        logic.BtnComClick();
        ASSERT_FALSE(logic.PortIsOpen());
        const TUsage after = Usage();
        EXPECT_EQ(after.Fds, closed.Fds);
        EXPECT_EQ(after.Threads, closed.Threads);
        std::printf(
            "soak: window: %d uploads (%ld bytes) in %.1f s; resident memory %ld KiB after upload %d, at most %ld KiB "
            "after it, growth %ld KiB (bound %ld KiB); descriptors %d and threads %d with the port open, the same "
            "after every upload; %d and %d with it closed, before and after; zelk-emu's resident memory %ld KiB "
            "after upload %d, growth %ld KiB (same bound)\n",
            uploads, bytes, seconds, rss.AtWarmUp, kWarmUp, rss.Max, rss.Growth(), kRssBoundKiB, open.Fds, open.Threads,
            after.Fds, after.Threads, emulatorRss.AtWarmUp, kWarmUp, emulatorRss.Growth());
        EXPECT_LE(rss.Growth(), kRssBoundKiB);
        EXPECT_LE(emulatorRss.Growth(), kRssBoundKiB);
    }
}

// zelk-upload run again and again against one emulator: every run exits 0
// with the file arrived byte for byte, and the runs leave nothing behind here.
TEST(Soak, ZelkUploadRunsAgainstOneEmulator) {
    const int uploads = Count("ZELK_SOAK_UPLOADS", 200);
    TEmulatorProgram emulator;
    TFiles files;
    std::mt19937 random(11);
    const TUsage before = Usage();
    TRssWatch emulatorRss;
    long bytes = 0;
    const auto start = TClock::now();
    for (int i = 1; i <= uploads; ++i) {
        const TProgram program = NextProgram(random, files.Folder() + "/program.rom");
        bytes += static_cast<long>(program.Bytes.size());
        const TRunResult run = RunProgram(ZELK_UPLOAD_PATH, {"-p", "3", "-q", program.Path},
                                          {{"ZELK_COM3", emulator.Path()}, {"LANG", "C"}, {"LC_ALL", ""}},
                                          kWait);
        ASSERT_EQ(run.ExitCode, 0) << "run " << i << ": " << run.Stderr;
        ASSERT_TRUE(Arrived(emulator.NextSummary(), program)) << "run " << i;
        emulatorRss.Take(i, emulator.RssKiB());
        if (i % 1000 == 0) Progress("zelk-upload", i, Usage(), start);
    }
    const double seconds = SecondsSince(start);
    const TUsage after = Usage();
    EXPECT_EQ(after.Fds, before.Fds);
    EXPECT_EQ(after.Threads, before.Threads);
    std::printf("soak: zelk-upload: %d runs (%ld bytes) in %.1f s, every one exit 0 and byte-exact; descriptors %d "
                "and threads %d here before and after; zelk-emu's resident memory %ld KiB after run %d, growth %ld "
                "KiB (bound %ld KiB)\n",
                uploads, bytes, seconds, after.Fds, after.Threads, emulatorRss.AtWarmUp, kWarmUp, emulatorRss.Growth(),
                kRssBoundKiB);
    EXPECT_LE(emulatorRss.Growth(), kRssBoundKiB);
}

// A port opened and closed again and again leaves the descriptors and
// threads as they were.
TEST(Soak, PortOpensAndClosesLeaveNothingBehind) {
    const int opens = Count("ZELK_SOAK_OPENS", 1000);
    TPtyPair pty;
    TMainQueue queue;
    const TUsage before = Usage();
    TRssWatch rss;
    const auto start = TClock::now();
    for (int i = 1; i <= opens; ++i) {
        {
            const TComPort port("COM7", pty.SlavePath(), 115200, queue.Invoker());
            ASSERT_EQ(Usage().Threads, before.Threads + 1) << "open " << i;
        }
        const TUsage now = Usage();
        ASSERT_EQ(now.Fds, before.Fds) << "descriptors after close " << i;
        ASSERT_EQ(now.Threads, before.Threads) << "threads after close " << i;
        rss.Take(i, now.RssKiB);
    }
    std::printf("soak: port: %d opens and closes in %.1f s; descriptors %d and threads %d before and after each; "
                "resident memory growth after open %d: %ld KiB\n",
                opens, SecondsSince(start), before.Fds, before.Threads, kWarmUp, rss.Growth());
    EXPECT_LE(rss.Growth(), kRssBoundKiB);
}

}  // namespace
}  // namespace zelk::test
