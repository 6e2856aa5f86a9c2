// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

// Windows only: the line settings the port asks the driver for.
#include <windows.h>

namespace zelk {

// dcb as the port sets it: baud, 8 data bits, no parity, one stop bit, and
// the device's request byte (0x05) as the event character; every other
// field as it was.
void SetLineFields(DCB& dcb, int baud);

}  // namespace zelk
