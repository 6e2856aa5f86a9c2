// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

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

}  // namespace zelk
