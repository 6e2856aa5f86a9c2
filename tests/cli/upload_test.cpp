// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// zelk-upload as a script meets it: run as a program against the emulated
// controller on a pseudo-terminal, judged by its exit status, its messages
// and the bytes the controller rebuilt.

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include <sys/stat.h>

#include "common/licence.h"
#include "support/run_program.h"
#include "support/pty_pair.h"
#include "tools/emulator/device_emulator.h"
#include "transfer/transfer.h"

namespace zelk::upload::test {

using zelk::test::RunProgram;
using zelk::test::TRunResult;

namespace {

using TBytes = std::vector<std::uint8_t>;

// "123/768 bytes  16%  7.5 KiB/s  0:01 left  checksum errors: 0", nothing more.
bool IsProgressLine(const std::string& line, int total) {
    int sent = -1, of = -1, percent = -1, errors = -1, consumed = 0;
    double rate = -1;
    char left[16] = {};
    const int fields = std::sscanf(line.c_str(), "%d/%d bytes %d%%  %lf KiB/s  %15s left  checksum errors: %d%n", &sent,
                                   &of, &percent, &rate, left, &errors, &consumed);
    const std::string leftText = left;
    const bool leftOk = leftText == "-:--" || (leftText.find(':') != std::string::npos && leftText.size() >= 4);
    return fields == 6 && consumed == static_cast<int>(line.size()) && of == total && sent >= 0 && sent <= total &&
           percent == static_cast<int>(100LL * sent / total) && rate >= 0 && errors >= 0 && leftOk;
}

// The environment of a run in Russian or in the default language; an empty
// LC_ALL or LC_MESSAGES counts as unset, so the test's own locale does not decide.
using TEnv = std::map<std::string, std::string>;
const TEnv kRussian{{"LANG", "ru_RU.UTF-8"}, {"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LANGUAGE", ""},
                    {"ZELK_LOCALEDIR", ZELK_TEST_LOCALEDIR}};
const TEnv kDefault{{"LANG", "C"}, {"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LANGUAGE", ""},
                    {"ZELK_LOCALEDIR", ZELK_TEST_LOCALEDIR}};

// A progress line for total bytes at percent in either language: "409/4096 bytes  10%".
// (No std::regex: GCC 12 warns inside it under the sanitizers.)
bool ProgressReached(const std::string& soFar, int total, int percent) {
    const std::string of = "/" + std::to_string(total) + ' ';
    const std::string at = ' ' + std::to_string(percent) + '%';
    for (std::size_t pos = soFar.find(of); pos != std::string::npos; pos = soFar.find(of, pos + 1)) {
        const std::size_t word = soFar.find(' ', pos + of.size());  // after "bytes" or "Байт"
        if (word == std::string::npos) return false;
        const std::size_t digits = soFar.find_first_not_of(' ', word);
        if (digits != std::string::npos && soFar.compare(digits - 1, at.size(), at) == 0 &&
            soFar.find('\n', pos) > word)
            return true;
    }
    return false;
}

class UploadProgram : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/zelk_upload_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    std::string WriteFile(const std::string& name, const TBytes& bytes) {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    static TBytes RandomBytes(std::size_t n, unsigned seed) {
        std::mt19937 gen(seed);
        TBytes bytes(n);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(gen());
        return bytes;
    }

    static TRunResult Upload(const std::vector<std::string>& args, const std::string& device,
                             std::chrono::milliseconds limit = std::chrono::seconds(60),
                             const std::function<void(int, const std::string&)>& onStderr = {},
                             TEnv env = {}) {
        env["ZELK_COM3"] = device;
        return RunProgram(ZELK_UPLOAD_PATH, args, env, limit, onStderr);
    }
    static TRunResult UploadInRussian(const std::vector<std::string>& args, const std::string& device,
                                      std::chrono::milliseconds limit = std::chrono::seconds(60),
                                      const std::function<void(int, const std::string&)>& onStderr = {}) {
        return Upload(args, device, limit, onStderr, kRussian);
    }

    // The file followed by zeros up to whole pages: what the controller must hold.
    static TBytes Padded(TBytes bytes) {
        bytes.resize(static_cast<std::size_t>(RoundFileLen(static_cast<std::int32_t>(bytes.size()))), 0);
        return bytes;
    }

    std::string dir_;
};

// Every byte on the wire follows from the start page, the block count and the
// image: the controller checks sync bytes, checksums, piece codes and page
// numbers of each packet, so a clean upload with these fields and bytes is the
// window's exact byte stream for the same file and address.
TEST_F(UploadProgram, UploadsTheFileAsTheWindowWould) {
    for (const auto& [size, start] : {std::pair{300, "0000h"}, {65535, "0100h"}, {1, "FF00h"}}) {
        emu::TDeviceEmulator device;
        const TBytes file = RandomBytes(static_cast<std::size_t>(size), static_cast<unsigned>(size));
        const auto run = UploadInRussian({"-p", "3", "-s", start, WriteFile("prog.rom", file)}, device.DevicePath());
        EXPECT_EQ(run.ExitCode, 0) << run.Stderr;
        EXPECT_NE(run.Stderr.find("Отправка Завершена."), std::string::npos) << run.Stderr;

        const auto result = device.WaitResult(std::chrono::seconds(10));
        ASSERT_TRUE(result);
        EXPECT_EQ(result->Outcome, emu::TOutcome::Completed) << emu::FormatSummary(*result);
        EXPECT_EQ(result->StartPage, StartPage(start));
        EXPECT_EQ(result->BlockCountByte, static_cast<std::uint8_t>(BlockCount(RoundFileLen(size))));
        EXPECT_EQ(result->Pages, BlockCount(RoundFileLen(size)));
        EXPECT_EQ(result->Bytes, Padded(file));
        EXPECT_TRUE(result->Violations.empty());
        EXPECT_EQ(result->ChecksumErrors, 0);
        EXPECT_EQ(result->ReRequests, 0);
    }
}

TEST_F(UploadProgram, RejectedPacketsAreResentAndCounted) {
    emu::TEmulatorOptions options;
    options.RejectPackets = {1, 4, 10};
    emu::TDeviceEmulator device(options);
    const TBytes file = RandomBytes(700, 7);
    const auto run = Upload({"-p", "3", WriteFile("prog.rom", file)}, device.DevicePath());
    EXPECT_EQ(run.ExitCode, 0) << run.Stderr;

    // Not a terminal: plain progress lines, the last one complete.
    int progressLines = 0;
    std::string last;
    std::istringstream lines(run.Stderr);
    for (std::string l; std::getline(lines, l);) {
        EXPECT_EQ(l.find('\r'), std::string::npos);
        if (l.find(" bytes ") == std::string::npos) continue;
        EXPECT_TRUE(IsProgressLine(l, 768)) << l;
        ++progressLines;
        last = l;
    }
    EXPECT_GE(progressLines, 2);
    EXPECT_LE(progressLines, 11);
    EXPECT_EQ(last.rfind("768/768 bytes 100%", 0), 0u) << last;
    EXPECT_NE(last.find("checksum errors: 3"), std::string::npos) << last;

    const auto result = device.WaitResult(std::chrono::seconds(10));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->Outcome, emu::TOutcome::Completed);
    EXPECT_EQ(result->PacketsRejected, 3);
    EXPECT_EQ(result->Bytes, Padded(file));
}

TEST_F(UploadProgram, UnexpectedReplyFailsTheUpload) {
    emu::TEmulatorOptions options;
    options.UnexpectedReplyAt = 5;
    emu::TDeviceEmulator device(options);
    const auto run =
        UploadInRussian({"-p", "3", "-q", WriteFile("prog.rom", RandomBytes(1000, 1))}, device.DevicePath());
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Stderr.find("Ошибка при отправке!"), std::string::npos) << run.Stderr;
    EXPECT_EQ(run.Stderr.find("/1024 "), std::string::npos) << "quiet prints no progress";
}

TEST_F(UploadProgram, SilentDeviceTimesOut) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);
    const auto run = Upload({"-p", "3", "-t", "0.3", WriteFile("prog.rom", RandomBytes(10, 2))}, slave,
                            std::chrono::seconds(20));
    ::close(master);
    EXPECT_EQ(run.ExitCode, 4) << run.Stderr;
    EXPECT_NE(run.Stderr.find("No reply from the device for 0.3 s"), std::string::npos) << run.Stderr;
}

TEST_F(UploadProgram, CtrlCStopsAtOnce) {
    emu::TEmulatorOptions options;
    options.Baud = 9600;  // about six seconds of wire time for 4 KiB
    emu::TDeviceEmulator device(options);
    bool interrupted = false;
    const auto run = UploadInRussian({"-p", "3", WriteFile("prog.rom", RandomBytes(4096, 3))}, device.DevicePath(),
                                     std::chrono::seconds(60), [&](int pid, const std::string& soFar) {
                                         if (!interrupted && ProgressReached(soFar, 4096, 10)) {
                                             ::kill(pid, SIGINT);
                                             interrupted = true;
                                         }
                                     });
    ASSERT_TRUE(interrupted) << run.Stderr;
    EXPECT_EQ(run.ExitCode, 1) << run.Stderr;
    EXPECT_NE(run.Stderr.find("Отправка Остановлена!"), std::string::npos) << run.Stderr;
    EXPECT_EQ(run.Stderr.find("4096/4096"), std::string::npos) << "stopped before the end";
}

// A test's own threads (the emulated controller's, a port's reader) may be
// inside the allocator when a program starts: the program starts all the
// same. A forked child that set its environment itself hung there for ever
// under AddressSanitizer, about one start in a few hundred.
TEST(RunProgramBesideThreads, StartsWhileAnotherThreadAllocates) {
    std::atomic<bool> stop{false};
    std::thread allocator([&] {
        std::vector<std::unique_ptr<char[]>> blocks;
        for (unsigned k = 1; !stop; blocks.clear())
            for (int i = 0; i < 64; ++i) blocks.emplace_back(new char[16 + (k = k * 1103515245u + 12345u) % 200]);
    });
    int started = 0;
    for (int i = 0; i < 100; ++i)
        started += RunProgram("/bin/sh", {"-c", "exit 7"}, kRussian, std::chrono::seconds(20)).ExitCode == 7 ? 1 : 0;
    stop = true;
    allocator.join();
    EXPECT_EQ(started, 100);
}

// --version: the project's version, then the copyright and licence notice,
// which help2man turns into the manual page's COPYRIGHT section.
TEST(UploadProgramVersion, NamesTheVersionAndTheLicence) {
    FILE* program = popen(ZELK_UPLOAD_PATH " --version", "r");
    ASSERT_NE(program, nullptr);
    std::string text;
    char chunk[256];
    while (const std::size_t n = std::fread(chunk, 1, sizeof chunk, program)) text.append(chunk, n);
    EXPECT_EQ(pclose(program), 0);
    EXPECT_EQ(text, std::string("zelk-upload ") + ZELK_VERSION + "\n" + zelk::kLicenceNotice);
    EXPECT_NE(text.find("License GPLv3+"), std::string::npos) << text;
}

TEST_F(UploadProgram, PortAndFileErrorsHaveTheirOwnExitCodes) {
    const std::string small = WriteFile("small.rom", RandomBytes(10, 4));

    const auto missingPort = Upload({"-p", "3", small}, dir_ + "/no-such-tty");
    EXPECT_EQ(missingPort.ExitCode, 3);
    EXPECT_NE(missingPort.Stderr.find("Error opening port COM3: " + dir_ + "/no-such-tty: "), std::string::npos)
        << missingPort.Stderr;

    const auto tooLarge = UploadInRussian({"-p", "3", WriteFile("big.rom", TBytes(65536, 1))}, dir_ + "/no-such-tty");
    EXPECT_EQ(tooLarge.ExitCode, 2);
    EXPECT_NE(tooLarge.Stderr.find("Файл НЕ прочитан!"), std::string::npos) << tooLarge.Stderr;

    const auto missingFile = Upload({"-p", "3", dir_ + "/nothing.rom"}, dir_ + "/no-such-tty");
    EXPECT_EQ(missingFile.ExitCode, 2);
    EXPECT_NE(missingFile.Stderr.find("no such file"), std::string::npos) << missingFile.Stderr;

    const auto usage = Upload({"-b", "300", small}, dir_ + "/no-such-tty");
    EXPECT_EQ(usage.ExitCode, 2);
    EXPECT_NE(usage.Stderr.find("unsupported baud rate 300"), std::string::npos) << usage.Stderr;
}

// An adapter pulled out mid-upload: reported at once, also with no time-out.
TEST_F(UploadProgram, DeviceThatHangsUpEndsTheUploadAtOnce) {
    zelk::test::TPtyPair pty;
    const auto run = Upload({"-p", "3", "-t", "0", WriteFile("prog.rom", RandomBytes(1000, 5))}, pty.SlavePath(),
                            std::chrono::seconds(20), [&](int, const std::string& soFar) {
                                if (pty.MasterOpen() && soFar.find("0/1024 bytes") != std::string::npos) {
                                    pty.Receive(3);  // the start burst
                                    pty.CloseMaster();
                                }
                            });
    EXPECT_EQ(run.ExitCode, 3) << run.Stderr;
    EXPECT_NE(run.Stderr.find("Error reading port COM3: " + pty.SlavePath() + ": the device hung up"),
              std::string::npos)
        << run.Stderr;
}

TEST_F(UploadProgram, HangUpSignalStopsAndReleasesThePort) {
    emu::TEmulatorOptions options;
    options.Baud = 9600;
    emu::TDeviceEmulator device(options);
    bool hungUp = false;
    const auto run = UploadInRussian({"-p", "3", WriteFile("prog.rom", RandomBytes(4096, 3))}, device.DevicePath(),
                                     std::chrono::seconds(60), [&](int pid, const std::string& soFar) {
                                         if (!hungUp && ProgressReached(soFar, 4096, 10)) {
                                             ::kill(pid, SIGHUP);
                                             hungUp = true;
                                         }
                                     });
    ASSERT_TRUE(hungUp) << run.Stderr;
    EXPECT_EQ(run.ExitCode, 1) << run.Stderr;
    EXPECT_NE(run.Stderr.find("Отправка Остановлена!"), std::string::npos) << run.Stderr;
}

bool HasCyrillic(const std::string& text) {
    // U+0400-U+04FF are 0xD0-0xD3 lead bytes in UTF-8.
    return std::ranges::any_of(text, [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b >= 0xD0 && b <= 0xD3;
    });
}

// One language per run: English unless the locale asks for Russian, and then
// the window's own texts (the file rounded up to whole pages), with no English
// words around them.
TEST_F(UploadProgram, SpeaksOneLanguagePerRun) {
    const TBytes file = RandomBytes(300, 11);
    {
        emu::TDeviceEmulator device;
        const auto run = Upload({"-p", "3", WriteFile("prog.rom", file)}, device.DevicePath(),
                                std::chrono::seconds(60), {}, kDefault);
        EXPECT_EQ(run.ExitCode, 0) << run.Stderr;
        EXPECT_NE(run.Stderr.find("File read. prog.rom, 512 bytes."), std::string::npos) << run.Stderr;
        EXPECT_NE(run.Stderr.find("\nUpload complete.\n"), std::string::npos) << run.Stderr;
        EXPECT_FALSE(HasCyrillic(run.Stderr)) << run.Stderr;
    }
    {
        emu::TDeviceEmulator device;
        const auto run = UploadInRussian({"-p", "3", WriteFile("prog.rom", file)}, device.DevicePath());
        EXPECT_EQ(run.ExitCode, 0) << run.Stderr;
        EXPECT_NE(run.Stderr.find("Файл прочитан. prog.rom, 512 Байт."), std::string::npos) << run.Stderr;
        EXPECT_NE(run.Stderr.find("\nОтправка Завершена.\n"), std::string::npos) << run.Stderr;
        EXPECT_NE(run.Stderr.find("/512 байт 100%"), std::string::npos) << run.Stderr;
        for (const char* english : {"bytes", "left", "checksum", "Upload", "File"})
            EXPECT_EQ(run.Stderr.find(english), std::string::npos) << english << " in\n" << run.Stderr;
    }
    // Usage errors too, and the port's own message stays as the system has it.
    const auto usage = RunProgram(ZELK_UPLOAD_PATH, {"-b", "300", "x.rom"}, kRussian);
    EXPECT_EQ(usage.ExitCode, 2);
    EXPECT_NE(usage.Stderr.find("неподдерживаемая скорость 300"), std::string::npos) << usage.Stderr;
    const auto port = UploadInRussian({"-p", "3", WriteFile("small.rom", RandomBytes(10, 4))}, dir_ + "/no-such-tty");
    EXPECT_EQ(port.ExitCode, 3);
    EXPECT_NE(port.Stderr.find("Error opening port COM3: " + dir_ + "/no-such-tty: No such file or directory"),
              std::string::npos)
        << port.Stderr;
}

// A reader of the messages that goes away (| head) does not end the upload.
TEST_F(UploadProgram, MessagesNobodyReadsDoNotStopTheUpload) {
    emu::TDeviceEmulator device(emu::TEmulatorOptions{});
    const TBytes file = RandomBytes(20000, 8);
    const std::string command = std::string(ZELK_UPLOAD_PATH) + " -p 3 '" + WriteFile("prog.rom", file) +
                                "' 2>&1 | head -c 60 >/dev/null; exit ${PIPESTATUS[0]}";
    const auto run = RunProgram("/bin/bash", {"-c", command}, {{"ZELK_COM3", device.DevicePath()}});
    EXPECT_EQ(run.ExitCode, 0) << run.Stderr;
    const auto result = device.WaitResult(std::chrono::seconds(10));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->Outcome, emu::TOutcome::Completed);
    EXPECT_EQ(result->Bytes, Padded(file));
}

TEST_F(UploadProgram, SamePacketRejectedTooOftenEndsTheUpload) {
    emu::TEmulatorOptions options;
    options.RejectPackets = {3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};  // packet 3 and all its resends
    emu::TDeviceEmulator device(options);
    const auto run = Upload({"-p", "3", "-r", "4", WriteFile("prog.rom", RandomBytes(600, 9))}, device.DevicePath());
    EXPECT_EQ(run.ExitCode, 1) << run.Stderr;
    EXPECT_NE(run.Stderr.find("rejected data packet 2 of page 1 (file bytes 32-63) 4 times in a row"),
              std::string::npos)
        << run.Stderr;
    EXPECT_NE(run.Stderr.find("Check the cable"), std::string::npos) << run.Stderr;
    EXPECT_NE(run.Stderr.find("checksum errors: 4"), std::string::npos) << run.Stderr;
}

// --retries counts rejections of one packet in a row: scattered ones never
// add up, and 0 never gives up.
TEST_F(UploadProgram, RetriesCountOnlyRejectionsOfOnePacketInARow) {
    struct TCase {
        std::string Retries;
        std::vector<int> Reject;
    };
    for (const TCase& c : {TCase{"2", {3, 5}}, TCase{"2", {1, 3}}, TCase{"0", {3, 4, 5}}}) {
        emu::TEmulatorOptions options;
        options.RejectPackets = {c.Reject.begin(), c.Reject.end()};
        emu::TDeviceEmulator device(options);
        const TBytes file = RandomBytes(300, 11);
        const auto run = Upload({"-p", "3", "-r", c.Retries, WriteFile("prog.rom", file)}, device.DevicePath());
        EXPECT_EQ(run.ExitCode, 0) << "-r " << c.Retries << ": " << run.Stderr;
        const auto result = device.WaitResult(std::chrono::seconds(10));
        ASSERT_TRUE(result);
        EXPECT_EQ(result->Outcome, emu::TOutcome::Completed);
        EXPECT_EQ(result->PacketsRejected, static_cast<int>(c.Reject.size()));
        EXPECT_EQ(result->Bytes, Padded(file));
    }
}

// Exclusivity must not outlive the uploader: after kill -9 mid-upload another
// user opens the port at once.
TEST_F(UploadProgram, KilledUploaderLeavesThePortFreeForOthers) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a second uploader as another user";
    emu::TEmulatorOptions options;
    options.Baud = 9600;
    emu::TDeviceEmulator device(options);
    ASSERT_EQ(::chmod(device.DevicePath().c_str(), 0666), 0);
    ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
    const std::string path = WriteFile("prog.rom", RandomBytes(4096, 6));
    bool killed = false;
    const auto first = Upload({"-p", "3", path}, device.DevicePath(), std::chrono::seconds(60),
                              [&](int pid, const std::string& soFar) {
                                  if (!killed && soFar.find("/4096 bytes  10%") != std::string::npos) {
                                      ::kill(pid, SIGKILL);
                                      killed = true;
                                  }
                              });
    ASSERT_TRUE(killed) << first.Stderr;

    const auto second = RunProgram("/usr/bin/setpriv",
                                   {"--reuid=nobody", "--regid=nogroup", "--clear-groups", ZELK_UPLOAD_PATH, "-p",
                                    "3", "-q", "-t", "20", path},
                                   {{"ZELK_COM3", device.DevicePath()}});
    EXPECT_EQ(second.ExitCode, 0) << second.Stderr;
}

TEST_F(UploadProgram, PortThisUserMayNotOpenNamesTheDialoutGroup) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the uploader as another user";
    zelk::test::TPtyPair pty;
    ASSERT_EQ(::chmod(pty.SlavePath().c_str(), 0600), 0);
    ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
    const auto run = RunProgram("/usr/bin/setpriv",
                                {"--reuid=nobody", "--regid=nogroup", "--clear-groups", ZELK_UPLOAD_PATH, "-p", "3",
                                 WriteFile("prog.rom", RandomBytes(10, 1))},
                                {{"ZELK_COM3", pty.SlavePath()}});
    EXPECT_EQ(run.ExitCode, 3) << run.Stderr;
    EXPECT_NE(run.Stderr.find("Permission denied"), std::string::npos) << run.Stderr;
    EXPECT_NE(run.Stderr.find("sudo usermod -aG dialout $USER"), std::string::npos) << run.Stderr;
}

// The number of times text occurs in where.
int Occurrences(const std::string& where, const std::string& text) {
    int n = 0;
    for (std::size_t pos = where.find(text); pos != std::string::npos; pos = where.find(text, pos + 1)) ++n;
    return n;
}

// A device behind an adapter that holds every byte 12 ms (as an FTDI chip's
// latency timer does) on a paced 115,200-baud line: the upload goes through,
// and zelk-upload says once how late the replies come and what to do.
TEST_F(UploadProgram, RepliesThatComeLateAreNamedOnce) {
    emu::TEmulatorOptions options;
    options.Baud = 115200;
    options.ReplyDelay = std::chrono::milliseconds(12);
    for (const bool russian : {false, true}) {
        SCOPED_TRACE(russian ? "Russian" : "English");
        emu::TDeviceEmulator device(options);
        const TBytes file = RandomBytes(3000, 5);  // 12 pages, 108 packets
        const auto run = Upload({"-p", "3", WriteFile("prog.rom", file)}, device.DevicePath(), std::chrono::seconds(60),
                                {}, russian ? kRussian : kDefault);
        EXPECT_EQ(run.ExitCode, 0) << run.Stderr;
        const auto result = device.WaitResult(std::chrono::seconds(10));
        ASSERT_TRUE(result);
        EXPECT_EQ(result->Bytes, Padded(file));

        const std::string said = russian ? "Ответы приходят с опозданием " : "Replies come ";
        ASSERT_EQ(Occurrences(run.Stderr, said), 1) << run.Stderr;
        const std::size_t at = run.Stderr.find(said) + said.size();
        // Each reply is late by the adapter's 12 ms and what the machine adds.
        double late = 0;
        ASSERT_EQ(std::sscanf(run.Stderr.c_str() + at, "%lf", &late), 1) << run.Stderr.substr(at);
        EXPECT_GE(late, 11.0);
        EXPECT_LT(late, 40.0);
        EXPECT_NE(run.Stderr.find(russian ? "низкую задержку" : "asks the driver for low latency"), std::string::npos)
            << run.Stderr;
    }
}

TEST_F(UploadProgram, RepliesThatComeInTimeAreNotNamed) {
    emu::TEmulatorOptions options;
    options.Baud = 115200;  // the line's own time is no delay
    emu::TDeviceEmulator device(options);
    const auto run = Upload({"-p", "3", WriteFile("prog.rom", RandomBytes(3000, 6))}, device.DevicePath());
    EXPECT_EQ(run.ExitCode, 0) << run.Stderr;
    EXPECT_EQ(run.Stderr.find("late"), std::string::npos) << run.Stderr;
}

}  // namespace
}  // namespace zelk::upload::test
