// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// The port list's Windows side: ListSerialDevices (com_port_win32.cpp)
// names every COM number the system has, so a number is present when the
// list has it.
#include <algorithm>

#include "serial/port_list.h"

namespace zelk {

TPresence PortPresence(int number, const std::string&, const std::vector<TSerialDevice>& devices) {
    return std::ranges::any_of(devices, [number](const TSerialDevice& d) { return d.Number == number; })
               ? TPresence::Present
               : TPresence::Absent;
}

}  // namespace zelk
