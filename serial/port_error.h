// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace zelk {

// The serial port's error. what() is the exact user-facing message, such as
// "Error opening port COM7"; Detail keeps the operating system's reason and the
// device path (for example "/dev/ttyUSB0: Permission denied") for a second line.
class EComPortError : public std::runtime_error {
public:
    explicit EComPortError(const std::string& message, std::string detail = {}, int errnum = 0)
        : std::runtime_error(message), Detail(std::move(detail)), Errno(errnum) {}

    std::string Detail;
    int Errno = 0;  // errno on Linux, GetLastError() on Windows; 0 when none applies

    // True when the operating system refused access (the user may not open the device).
    bool PermissionDenied() const;
};

// The advice shown with a permission error: how to join the dialout group.
std::string PermissionHint();

}  // namespace zelk
