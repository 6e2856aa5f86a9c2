// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace zelk {

// What went wrong with a port, for callers that act on it (an exit status,
// advice, a test): never decide by a message's text.
enum class TPortErrorKind {
    NotFound,          // no device behind the port, or none for its number
    PermissionDenied,  // the system refused this user access
    InUse,             // another program (or another window of this one) holds it
    IoFailure,         // the device hung up, or a read, write or wait failed
    SettingsRefused,   // the driver refused the line's settings (a rate, say)
    Other,             // anything else: not a terminal, out of threads or events
};

// The kind an operating system error code stands for: errno on Linux,
// GetLastError() on Windows; Other for 0 and codes of no known kind. Each
// backend maps its own system's codes (com_port_linux.cpp, com_port_win32.cpp).
TPortErrorKind PortErrorKindOf(int errnum);

// The serial port's error. what() is the exact user-facing message, such as
// "Error opening port COM7"; Detail keeps the operating system's reason and the
// device path (for example "/dev/ttyUSB0: Permission denied") for a second line.
class EComPortError : public std::runtime_error {
public:
    EComPortError(TPortErrorKind kind, const std::string& message, std::string detail = {}, int errnum = 0)
        : std::runtime_error(message), Detail(std::move(detail)), Errno(errnum), Kind(kind) {}
    // The kind follows from errnum.
    explicit EComPortError(const std::string& message, std::string detail = {}, int errnum = 0)
        : EComPortError(PortErrorKindOf(errnum), message, std::move(detail), errnum) {}

    std::string Detail;
    int Errno = 0;  // errno on Linux, GetLastError() on Windows; 0 when none applies
    TPortErrorKind Kind = TPortErrorKind::Other;

    // True when the operating system refused access (the user may not open the device).
    bool PermissionDenied() const { return Kind == TPortErrorKind::PermissionDenied; }
};

// The advice shown with a permission error, the platform's own: on Linux how
// to join the dialout group; empty where there is none to give (Windows has
// no group for serial ports, and a port it refuses is one in use).
std::string PermissionHint();

}  // namespace zelk
