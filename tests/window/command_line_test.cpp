// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// The window's command line, parsed without a toolkit: the same messages on
// every platform.
#include <gtest/gtest.h>

#include "window/command_line.h"

namespace zelk::test {
namespace {

TWindowCommandLine Parse(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "zelk");
    return ParseWindowCommandLine(arguments);
}

TEST(WindowCommandLine, ValuesComeJoinedOrApartAndDoubleDashEndsOptions) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-p5"}, {"-p", "5"}, {"--port=5"}, {"--port", "5"}}) {
        const TWindowCommandLine line = Parse(args);
        ASSERT_EQ(line.Command, TWindowCommand::Run) << line.Error;
        EXPECT_EQ(line.Options.Port, 5);
    }
    const TWindowCommandLine line = Parse({"-b", "14400", "-s0000h", "--", "-p"});
    ASSERT_EQ(line.Command, TWindowCommand::Run) << line.Error;
    EXPECT_EQ(line.Options.Baud, 14400);
    EXPECT_EQ(line.Options.Start, "0000h");
    EXPECT_EQ(line.Options.File, "-p");  // a file of that name
    EXPECT_FALSE(line.Options.Port);
    // A start text of five characters, Cyrillic ones too; a file name in any script.
    const TWindowCommandLine cyrillic = Parse({"-s", "ЗЕЛК0", "программа.rom"});
    ASSERT_EQ(cyrillic.Command, TWindowCommand::Run) << cyrillic.Error;
    EXPECT_EQ(cyrillic.Options.Start, "ЗЕЛК0");
    EXPECT_EQ(cyrillic.Options.File, "программа.rom");
}

TEST(WindowCommandLine, BadValuesAreUsageErrorsWithTheirMessages) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-p", "0"}, "the port number must be 1 to 20, not '0'"},
        {{"-p", "21"}, "the port number must be 1 to 20, not '21'"},
        {{"--port=5x"}, "the port number must be 1 to 20, not '5x'"},
        {{"-b", "300"},
         "unsupported baud rate '300'; use 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600 or 115200"},
        {{"-s", "00100h"}, "the start address takes at most 5 characters (e.g. 0100h), not '00100h'"},
        {{"-s", "ЗЕЛК01"}, "the start address takes at most 5 characters (e.g. 0100h), not 'ЗЕЛК01'"},
        {{"-p"}, "Missing value after '-p'."},
        {{"--baud"}, "Missing value after '--baud'."},
        {{"a.rom", "b.rom"}, "only one file can be loaded"},
        {{"--nope"}, "Unknown option 'nope'."},
        {{"-x", "--nope"}, "Unknown options: x, nope."},
        // An option that takes no value is not taken with one.
        {{"--help=x"}, "Unexpected value after '--help'."},
        {{"--version=1"}, "Unexpected value after '--version'."},
    };
    for (const auto& [args, message] : cases) {
        const TWindowCommandLine line = Parse(args);
        EXPECT_EQ(line.Command, TWindowCommand::UsageError) << args.front();
        EXPECT_EQ(line.Error, message) << args.front();
        EXPECT_EQ(line.Options, TWindowOptions{}) << args.front();
    }
}

// Found by the window_args fuzz target: counting every byte but continuation
// bytes took this start text of 31 bytes for 5 characters. Stray
// continuation bytes are characters of their own, as a decoder shows them.
TEST(WindowCommandLine, StrayContinuationBytesCountAsCharactersOfTheStartText) {
    const std::string fuzzed = "= \xF6h\x8D\x8D\x8D\t" + std::string(23, '\xB3');
    const TWindowCommandLine line = Parse({"-s" + fuzzed, ""});
    EXPECT_EQ(line.Command, TWindowCommand::UsageError);
    EXPECT_EQ(line.Options, TWindowOptions{});
    EXPECT_EQ(Parse({"-s", "A\x80\x80\x80\x80\x80"}).Command, TWindowCommand::UsageError);
    // A lead byte takes only the continuation bytes it announces.
    EXPECT_EQ(Parse({"-s", "\xD0\x97\x80\x80\x80\x80\x80"}).Command, TWindowCommand::UsageError);
    // Whole characters still count one each, a cut-off one too.
    EXPECT_EQ(Parse({"-s", "\xF0\x9F\x98\x80\xD0\x97\xD0"}).Options.Start, "\xF0\x9F\x98\x80\xD0\x97\xD0");
    EXPECT_EQ(Parse({"-s", "\xFF\xFE\x80"}).Options.Start, "\xFF\xFE\x80");
}

TEST(WindowCommandLine, HelpAndVersionWinOverAnythingElse) {
    EXPECT_EQ(Parse({"-p", "99", "--help"}).Command, TWindowCommand::Help);
    EXPECT_EQ(Parse({"--nope", "-h"}).Command, TWindowCommand::Help);
    EXPECT_EQ(Parse({"a", "b", "--version"}).Command, TWindowCommand::Version);
    // Together, help answers, in either order; a real --help beside --help=x too.
    EXPECT_EQ(Parse({"--version", "--help"}).Command, TWindowCommand::Help);
    EXPECT_EQ(Parse({"-h", "--version"}).Command, TWindowCommand::Help);
    EXPECT_EQ(Parse({"--help=x", "--help"}).Command, TWindowCommand::Help);
    const TWindowCommandLine none = Parse({});
    EXPECT_EQ(none.Command, TWindowCommand::Run);
    EXPECT_EQ(none.Options, TWindowOptions{});
    for (std::size_t start = 0, end; start < WindowHelpText().size(); start = end + 1) {
        end = WindowHelpText().find('\n', start);
        EXPECT_LE(end - start, 80u);
    }
}

// What both program entries print and return.
TEST(WindowCommandLine, AnswersGoToTheirStreamWithTheirStatus) {
    EXPECT_EQ(AnswerWindowCommandLine(Parse({"--help"}), "9.9"), (TCommandLineAnswer{WindowHelpText(), "", 0}));
    EXPECT_EQ(AnswerWindowCommandLine(Parse({"--version"}), "9.9"),
              (TCommandLineAnswer{WindowVersionText("9.9"), "", 0}));
    EXPECT_EQ(WindowVersionText("9.9").rfind("zelk 9.9\n", 0), 0u);
    EXPECT_EQ(AnswerWindowCommandLine(Parse({"-p", "21"}), "9.9"),
              (TCommandLineAnswer{"",
                                  "zelk: the port number must be 1 to 20, not '21'\n"
                                  "Try 'zelk --help' for more information.\n",
                                  2}));
    EXPECT_FALSE(AnswerWindowCommandLine(Parse({"-p", "20"}), "9.9"));
}

// A toolkit's options (-platform NAME) are told from the window's own and
// their values, so that an unknown option waits for the toolkit to take its own.
TEST(WindowCommandLine, ToolkitOptionsAreToldFromTheWindowsOwn) {
    const std::vector<std::pair<std::vector<std::string>, bool>> cases = {
        {{"-p", "5", "-b9600", "--start", "-x", "--port=3", "-h", "--version", "a.rom"}, false},
        {{"-s", "-platform"}, false},  // a value, not an option
        {{"--", "-platform"}, false},  // a file
        {{"-platform", "offscreen"}, true},
        {{"-style=fusion"}, true},
        {{"--qwindowgeometry"}, true},
        {{"-"}, true},
        {{"-p5x"}, false},
    };
    for (const auto& [args, foreign] : cases) {
        std::vector<std::string> line{"zelk"};
        line.insert(line.end(), args.begin(), args.end());
        EXPECT_EQ(MayHoldToolkitOptions(line), foreign) << args.front();
    }
}

}  // namespace
}  // namespace zelk::test
