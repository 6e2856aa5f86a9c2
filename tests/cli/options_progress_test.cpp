// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include <gtest/gtest.h>

#include <sstream>

#include "progress.h"
#include "upload_options.h"

namespace zelk::upload {
namespace {

TEST(UploadOptions, DefaultsMatchTheWindow) {
    const TParsed p = ParseCommandLine({"prog.rom"});
    EXPECT_EQ(p.Command, TCommand::Upload);
    EXPECT_EQ(p.Options.Port, 1);
    EXPECT_EQ(p.Options.Baud, 115200);
    EXPECT_EQ(p.Options.Start, "0100h");
    EXPECT_EQ(p.Options.TimeoutSeconds, 30);
    EXPECT_TRUE(p.Options.Device.empty());
    EXPECT_FALSE(p.Options.Quiet);
    EXPECT_EQ(p.Options.File, "prog.rom");
}

TEST(UploadOptions, ShortAndLongFormsAndInlineValues) {
    const TParsed a = ParseCommandLine({"-p", "20", "-b", "14400", "-s", "0000h", "-t", "0", "-q", "x.bin"});
    EXPECT_EQ(a.Options.Port, 20);
    EXPECT_EQ(a.Options.Baud, 14400);
    EXPECT_EQ(a.Options.Start, "0000h");
    EXPECT_EQ(a.Options.TimeoutSeconds, 0);
    EXPECT_TRUE(a.Options.Quiet);

    const TParsed b = ParseCommandLine({"--device=/dev/pts/7", "--baud=56000", "--timeout", "2.5", "--", "-odd.rom"});
    EXPECT_EQ(b.Options.Device, "/dev/pts/7");
    EXPECT_EQ(b.Options.Baud, 56000);
    EXPECT_DOUBLE_EQ(b.Options.TimeoutSeconds, 2.5);
    EXPECT_EQ(b.Options.File, "-odd.rom");

    EXPECT_EQ(ParseCommandLine({"x", "--help"}).Command, TCommand::Help);
    EXPECT_EQ(ParseCommandLine({"--version"}).Command, TCommand::Version);
}

TEST(UploadOptions, BadCommandLinesAreUsageErrors) {
    const std::vector<std::vector<std::string>> bad = {
        {},                               // no file
        {"a.rom", "b.rom"},               // two files
        {"-p", "0", "a.rom"},             // port out of range
        {"-p", "21", "a.rom"},
        {"-p", "5x", "a.rom"},            // not a number
        {"-b", "115201", "a.rom"},        // not a rate of the list
        {"-b", "300", "a.rom"},
        {"-t", "-1", "a.rom"},            // negative time-out
        {"-t", "nan", "a.rom"},
        {"-p", "2", "-d", "/dev/ttyS1", "a.rom"},  // both ways of naming the port
        {"--frobnicate", "a.rom"},
        {"a.rom", "-s"},                  // option without its value
    };
    for (const auto& args : bad) {
        std::string joined;
        for (const auto& a : args) joined += a + ' ';
        EXPECT_THROW(ParseCommandLine(args), EUsageError) << joined;
    }
}

// The start address is checked before anything is sent: a typo must not
// upload to page 0.
TEST(UploadOptions, StartAddressInEitherFormOrAUsageError) {
    for (const auto& [text, page] : {std::pair{"0100h", "0100h"}, {"ab00h", "AB00h"}, {"FF00H", "FF00h"},
                                     {"0x0100", "0100h"}, {"0Xc000", "C000h"}}) {
        EXPECT_EQ(ParseCommandLine({"-s", text, "a.rom"}).Options.Start, page) << text;
    }
    for (const char* text : {"100h", "0100", "01000", "0x100", "0x01001", "zz00h", "0150h", ""}) {
        try {
            ParseCommandLine({"-s", text, "a.rom"});
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const EUsageError& e) {
            EXPECT_NE(std::string(e.what()).find("XX00h or 0xXX00"), std::string::npos) << e.what();
        }
    }
}

// Any number of seconds is a valid --timeout, but 1e10 s is 1e19 ns: the
// conversion for the clock was undefined (UBSan: "1e+19 is outside the range
// of representable values of type 'long'"). It now stops at 100 years.
TEST(UploadOptions, HugeTimeoutsWaitAsLongAsTheClockCounts) {
    EXPECT_EQ(ParseCommandLine({"-t", "1e300", "f"}).Options.TimeoutSeconds, 1e300);
    using std::chrono::duration_cast;
    using std::chrono::seconds;
    const auto hundredYears = seconds(100LL * 365 * 24 * 3600);
    EXPECT_EQ(duration_cast<seconds>(TimeoutDuration(1e300)), hundredYears);
    EXPECT_EQ(duration_cast<seconds>(TimeoutDuration(1e10)), hundredYears);
    EXPECT_EQ(duration_cast<seconds>(TimeoutDuration(kMaxTimeoutSeconds)), hundredYears);
    EXPECT_EQ(TimeoutDuration(0.25), std::chrono::milliseconds(250));
    EXPECT_EQ(TimeoutDuration(0).count(), 0);
    EXPECT_EQ(TimeoutDuration(30), std::chrono::seconds(30));
}

TEST(Progress, MismatchesShowInTheLastPlainLine) {
    std::ostringstream out;
    auto now = std::chrono::steady_clock::time_point{};
    TProgressPrinter printer(out, false, [&] { return now; });
    printer.Start(1024);
    printer.Update(32, 0);
    printer.Update(32, 4);  // within the second: no line yet
    printer.Finish();
    const std::string text = out.str();
    EXPECT_NE(text.rfind("32/1024 bytes   3%"), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.rfind("checksum errors:")), "checksum errors: 4\n") << text;
}

TEST(Progress, LineShowsBytesPercentRateTimeLeftAndErrors) {
    EXPECT_EQ(FormatProgress(16384, 65536, 2.0, 3), "16384/65536 bytes  25%  8.0 KiB/s  0:06 left  checksum errors: 3");
    EXPECT_EQ(FormatProgress(0, 512, 0.0, 0), "0/512 bytes   0%  0.0 KiB/s  -:-- left  checksum errors: 0");
    EXPECT_EQ(FormatProgress(512, 512, 1.0, 0), "512/512 bytes 100%  0.5 KiB/s  0:00 left  checksum errors: 0");
}

TEST(Progress, PlainLinesAtEveryTenthWhenNotATerminal) {
    std::ostringstream out;
    auto t = std::chrono::steady_clock::time_point{};
    TProgressPrinter printer(out, false, [&] { return t; });
    printer.Start(1024);
    for (int sent = 32; sent <= 1024; sent += 32) {
        t += std::chrono::milliseconds(10);
        printer.Update(sent, sent >= 512 ? 1 : 0);
    }
    printer.Finish();
    const std::string text = out.str();
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(text.find('\033'), std::string::npos);
    std::istringstream lines(text);
    std::vector<std::string> got;
    for (std::string line; std::getline(lines, line);) got.push_back(line);
    ASSERT_EQ(got.size(), 11u);  // 0 %, then one line for each tenth up to 100 %
    EXPECT_EQ(got.front().rfind("0/1024 bytes   0%", 0), 0u);
    EXPECT_EQ(got.back().rfind("1024/1024 bytes 100%", 0), 0u);
    EXPECT_NE(got.back().find("checksum errors: 1"), std::string::npos);
}

TEST(Progress, RedrawnInPlaceOnATerminal) {
    std::ostringstream out;
    auto t = std::chrono::steady_clock::time_point{};
    TProgressPrinter printer(out, true, [&] { return t; });
    printer.Start(256);
    printer.Update(32, 0);  // within 100 ms of the last draw: skipped
    t += std::chrono::milliseconds(150);
    printer.Update(64, 0);
    printer.Update(256, 0);  // the last one is always drawn
    printer.Finish();
    const std::string text = out.str();
    EXPECT_EQ(text.find('\n'), text.size() - 1);
    EXPECT_EQ(text.find("32/256"), std::string::npos);
    EXPECT_NE(text.find("\r\033[K64/256"), std::string::npos);
    EXPECT_NE(text.find("\r\033[K256/256 bytes 100%"), std::string::npos);
}

}  // namespace
}  // namespace zelk::upload
