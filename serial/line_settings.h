// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <array>

namespace zelk {

struct TLineResult {
    int Errno = 0;      // of the call that failed; 0 when the driver took the settings
    unsigned OutBaud = 0;  // the rates the driver reports after the change
    unsigned InBaud = 0;
};

// Raw mode at any rate (termios2 with BOTHER): no echo, no translation, no line
// buffering, no XON/XOFF; 8 data bits, no parity, 1 stop bit, CLOCAL | CREAD.
// RTS/CTS flow control stays as the port had it.
TLineResult SetRawLine(int fd, unsigned baud);

// A line's settings as found (termios2: rate, flags, control characters), to
// be put back when the port closes, as Qt's serial port does: whoever uses
// the device next (a terminal program, a getty, a script that only set the
// rate) finds it as it left it.
class TSavedLine {
public:
    // Reads the settings of fd; Errno() tells whether that worked.
    static TSavedLine Of(int fd);
    int Errno() const { return errno_; }
    // Sets them back at once (output still queued is not waited for);
    // 0 or the errno of the call that failed.
    int Restore(int fd) const;

private:
    alignas(8) std::array<unsigned char, 64> termios2_{};  // struct termios2, opaque here
    int errno_ = 0;
};

}  // namespace zelk
