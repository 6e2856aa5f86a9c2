// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

// Windows only: the line settings the port asks the driver for.
#include <windows.h>

#include "serial/com_port.h"

namespace zelk {

// dcb as the port sets it: baud, 8 data bits, no parity, one stop bit, and
// the options' event character when they name one; every other field as it was.
void SetLineFields(DCB& dcb, int baud, const TPortOptions& options);

}  // namespace zelk
