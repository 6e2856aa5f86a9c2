// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zelk::upload {

struct TUploadOptions {
    int Port = 1;             // COM number, mapped like the window's
    bool PortGiven = false;   // -p given; with neither -p nor -d the one USB serial device present is used
    std::string Device;       // an explicit device path, overriding Port
    int Baud = 115200;
    std::string Start = "0100h";  // always in the form XX00h, upper case
    int Retries = 10;             // the same packet rejected this often in a row ends the upload; 0: never
    double TimeoutSeconds = 30;  // 0 waits forever
    bool Quiet = false;
    bool Verbose = false;     // trace every packet and reply on stderr
    std::string LogFile;      // trace to this file as well
    std::string File;
};

// A command line that cannot be used; what() is the reason.
class EUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class TCommand { Upload, Help, Version, ListPorts };

struct TParsed {
    TCommand Command = TCommand::Upload;
    TUploadOptions Options;
};

// A start address as "XX00h" (either case) or "0xXX00", in the form the
// window's check accepts ("0100h"); nothing for any other text.
std::optional<std::string> CanonicalStart(const std::string& text);

TParsed ParseCommandLine(const std::vector<std::string>& args);

// The longest time-out the uploader waits for: 100 years. Longer ones (any
// number of seconds is a valid --timeout) wait this long; the clock could not
// count them.
inline constexpr double kMaxTimeoutSeconds = 100.0 * 365 * 24 * 3600;

// --timeout as the main loop's clock counts it, within 0 and kMaxTimeoutSeconds.
std::chrono::steady_clock::duration TimeoutDuration(double seconds);
std::string HelpText(const std::string& program);

}  // namespace zelk::upload
