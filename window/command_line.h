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

// --help; toolkitNote, if any, is a paragraph of the toolkit's own (its options).
std::string WindowHelpText(std::string_view toolkitNote = {});
// "zelk <version>" and the licence notice, for --version.
std::string WindowVersionText(const std::string& version);

}  // namespace zelk
