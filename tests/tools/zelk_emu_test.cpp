// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// zelk-emu as a script meets it: the path on the first line of standard
// output, the options, the rebuilt bytes in a file and the exit status.

#include <poll.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "common/licence.h"
#include "host_script.h"

namespace zelk::emu::test {
namespace {

// Starts zelk-emu with arguments and reads the terminal path it prints
// first; the test pcloses emu. timeout: a failing host must not leave the
// test waiting for the program for ever.
void StartEmu(const std::string& arguments, FILE*& emu, std::string& path) {
    emu = popen((std::string("timeout 20 ") + ZELK_EMU_PATH + " " + arguments + " 2>/dev/null").c_str(), "r");
    ASSERT_NE(emu, nullptr);
    char line[256] = {};
    ASSERT_NE(fgets(line, sizeof line, emu), nullptr);
    path = line;
    ASSERT_EQ(path.back(), '\n');
    path.pop_back();
}

TEST(ZelkEmuProgram, ServesOneUploadAndWritesItsBytes) {
    const std::string output = testing::TempDir() + "zelk_emu_out.bin";
    std::remove(output.c_str());
    FILE* emu = nullptr;
    std::string path;
    ASSERT_NO_FATAL_FAILURE(StartEmu("--reject 2,4 --ack-with-request 6 --output " + output, emu, path));

    const TBytes image = TestImage(512, 8);
    {
        THostPort host(path);
        host.Write(kBurst);
        const TPlayed played = PlayAll(host, PacketsFor(image, 0x01));
        EXPECT_EQ(played.Rejections, 2);
        EXPECT_EQ(played.AckWithRequest, 1);
    }
    const int status = pclose(emu);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::ifstream in(output, std::ios::binary);
    EXPECT_EQ(TBytes(std::istreambuf_iterator<char>(in), {}), image);
    std::remove(output.c_str());
}

// A program that exits closes the pseudo-terminal's master, which hangs up
// the slave and throws away what the host has not read yet: the emulator
// must not exit before the host has taken the last acknowledgement, however
// late the host reads it.
TEST(ZelkEmuProgram, ExitsOnlyAfterTheHostReadTheLastReply) {
    FILE* emu = nullptr;
    std::string path;
    ASSERT_NO_FATAL_FAILURE(StartEmu("", emu, path));

    std::vector<TBytes> packets = PacketsFor(TestImage(300, 3), 0x01);
    const TBytes last = packets.back();
    packets.pop_back();
    {
        THostPort host(path);
        host.Write(kBurst);
        PlayAll(host, packets);
        ASSERT_EQ(host.Read(), kReq);
        host.Write(last);
        // The emulator's standard output ends when it exits: it must not
        // while the acknowledgement waits unread (half a second here; it
        // gives up after its request time-out, 2 s).
        pollfd out{fileno(emu), POLLIN, 0};
        EXPECT_EQ(poll(&out, 1, 500), 0) << "zelk-emu exited before the host read the last reply";
        EXPECT_EQ(host.Read(), kAck);
    }
    const int status = pclose(emu);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// The output of a zelk-emu run that ends by itself.
std::string OutputOf(const std::string& arguments) {
    const std::string command = std::string("timeout 20 ") + ZELK_EMU_PATH + " " + arguments;
    FILE* emu = popen(command.c_str(), "r");
    if (!emu) return {};
    std::string text;
    char chunk[256];
    while (const std::size_t n = fread(chunk, 1, sizeof chunk, emu)) text.append(chunk, n);
    EXPECT_EQ(pclose(emu), 0) << arguments;
    return text;
}

TEST(ZelkEmuProgram, HelpFitsEightyColumnsAndVersionIsTheProjects) {
    const std::string help = OutputOf("--help");
    EXPECT_NE(help.find("--version"), std::string::npos);
    std::size_t start = 0;
    for (std::size_t end; (end = help.find('\n', start)) != std::string::npos; start = end + 1)
        EXPECT_LE(end - start, 80u) << help.substr(start, end - start);
    // The version, then the copyright and licence notice help2man turns into
    // the manual page's COPYRIGHT section.
    EXPECT_EQ(OutputOf("--version"), std::string("zelk-emu ") + ZELK_VERSION + "\n" + zelk::kLicenceNotice);
    EXPECT_NE(std::string(zelk::kLicenceNotice).find("GPL version 3 or later"), std::string::npos);
}

}  // namespace
}  // namespace zelk::emu::test
