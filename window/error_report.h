// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace zelk {

// What the error box shows, UTF-8: the exact message line and, for port
// errors, the operating system's reason, the device behind the port and any
// advice, for a line of their own below it.
struct TErrorReport {
    std::string Text;
    std::string Detail;
    bool operator==(const TErrorReport&) const = default;
};

// message with "." appended when its last character's code is above that of ".".
std::string ErrorBoxText(std::string_view message);

TErrorReport ErrorReportFor(const std::exception& error);

// The error box's text as every face shows it: the message, and the detail,
// if any, on a line of its own below it.
std::string ErrorBoxLines(const TErrorReport& report);

}  // namespace zelk
