// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// Fuzz target: zelk-upload's command line.
//
// Input: the arguments after the program name, each ended by a NUL byte (the
// last one by the input's end), any bytes at all: options, numbers, UTF-8 and
// invalid UTF-8.
//
// Oracles: the parser either gives a usage error with a message or options
// that are all within their ranges: port 1-20, a baud rate of the list, a
// start address "XX00h" in upper-case hex, retries 0 or more, a finite time-out
// 0 or more that the uploader's clock can count, not both --port and --device, and for an upload exactly one file
// that is one of the arguments. The same arguments parse the same a second
// time (getopt's state is reset).

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "serial/com_port.h"
#include "upload_options.h"

namespace zelk::fuzz {
namespace {

using upload::TCommand;
using upload::TParsed;

struct TOutcome {
    bool Error = false;
    std::string Message;
    TParsed Parsed;
};

TOutcome Parse(const std::vector<std::string>& args) {
    TOutcome out;
    try {
        out.Parsed = upload::ParseCommandLine(args);
    } catch (const upload::EUsageError& e) {
        out.Error = true;
        out.Message = e.what();
    }
    return out;
}

bool Same(const TOutcome& a, const TOutcome& b) {
    const auto& x = a.Parsed.Options;
    const auto& y = b.Parsed.Options;
    return a.Error == b.Error && a.Message == b.Message && a.Parsed.Command == b.Parsed.Command && x.Port == y.Port &&
           x.PortGiven == y.PortGiven && x.Device == y.Device && x.Baud == y.Baud && x.Start == y.Start &&
           x.Retries == y.Retries && x.TimeoutSeconds == y.TimeoutSeconds && x.Quiet == y.Quiet &&
           x.Verbose == y.Verbose && x.LogFile == y.LogFile && x.File == y.File;
}

bool UpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

void Run(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> args = Arguments(data, size);
    const TOutcome first = Parse(args);
    ZELK_FUZZ_CHECK(Same(first, Parse(args)), "a second parse of the same arguments differs");
    if (first.Error) {
        ZELK_FUZZ_CHECK(!first.Message.empty(), "a usage error without a message");
        return;
    }
    if (first.Parsed.Command == TCommand::Help || first.Parsed.Command == TCommand::Version) return;
    const upload::TUploadOptions& o = first.Parsed.Options;
    const std::string shown = "port " + std::to_string(o.Port) + ", baud " + std::to_string(o.Baud) + ", start '" +
                              o.Start + "', retries " + std::to_string(o.Retries) + ", timeout " +
                              std::to_string(o.TimeoutSeconds) + ", file '" + o.File + "'";
    ZELK_FUZZ_CHECK(o.Port >= 1 && o.Port <= 20, shown);
    ZELK_FUZZ_CHECK(o.PortGiven || o.Port == 1, shown);
    ZELK_FUZZ_CHECK(SupportedBaud(o.Baud), shown);
    ZELK_FUZZ_CHECK(o.Start.size() == 5 && UpperHex(o.Start[0]) && UpperHex(o.Start[1]) && o.Start.ends_with("00h"),
                    shown);
    ZELK_FUZZ_CHECK(o.Retries >= 0, shown);
    ZELK_FUZZ_CHECK(std::isfinite(o.TimeoutSeconds) && o.TimeoutSeconds >= 0, shown);
    // What the uploader waits: UBSan reports a time-out the clock cannot count.
    const auto wait = upload::TimeoutDuration(o.TimeoutSeconds);
    ZELK_FUZZ_CHECK(wait.count() >= 0 && (o.TimeoutSeconds > 0 || wait.count() == 0), shown);
    if (first.Parsed.Command == TCommand::ListPorts) return;
    ZELK_FUZZ_CHECK(!(o.PortGiven && !o.Device.empty()), shown + ", device '" + o.Device + "'");
    std::size_t matches = 0;
    for (const std::string& a : args) matches += a == o.File;
    ZELK_FUZZ_CHECK(matches > 0, "the file is none of the arguments: " + shown);
}

}  // namespace
}  // namespace zelk::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zelk::fuzz::Run(data, size);
    return 0;
}
