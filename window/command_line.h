// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelk {

// What the window's command line asks for; each option left out leaves its
// control as the window starts.
struct TWindowOptions {
    std::optional<int> Port;            // 1-20, the port number
    std::optional<int> Baud;            // selects the speed list's "br<Baud>"
    std::optional<std::string> Start;   // typed into the start box
    std::optional<std::string> File;    // loaded as if picked in the dialog
    bool operator==(const TWindowOptions&) const = default;
};

enum class TWindowCommand { Run, Help, Version, UsageError };

struct TWindowCommandLine {
    TWindowCommand Command = TWindowCommand::Run;
    TWindowOptions Options;
    std::string Error;  // for UsageError
};

// `zelk [-p N] [-b RATE] [-s TEXT] [FILE]`, the program name first, every
// argument in UTF-8. Options take their values joined or apart (-p5, -p 5,
// --port=5, --port 5); "--" ends them. --help and --version win over
// anything else on the line.
TWindowCommandLine ParseWindowCommandLine(const std::vector<std::string>& arguments);

// --help, the same from every program entry of the platform.
std::string WindowHelpText();
// "zelk <version>" and the licence notice, for --version.
std::string WindowVersionText(const std::string& version);

// What the program answers without opening the window: the text for its
// standard output or error and the exit status (0, or 2 for a usage error).
struct TCommandLineAnswer {
    std::string Out;
    std::string Err;
    int Status = 0;
    bool operator==(const TCommandLineAnswer&) const = default;
};
// The answer to --help, --version or a usage error; nothing when the window runs.
std::optional<TCommandLineAnswer> AnswerWindowCommandLine(const TWindowCommandLine& line, const std::string& version);

// Whether the arguments hold anything dashed that is neither one of the
// window's options nor an option's value: a toolkit's own option, such as
// Qt's -platform NAME, which the toolkit takes out before the line is read.
bool MayHoldToolkitOptions(const std::vector<std::string>& arguments);

}  // namespace zelk
