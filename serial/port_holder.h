// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <string>
#include <vector>

namespace zelk {

// A process that has a device open.
struct TPortHolder {
    int Pid = 0;
    std::string Name;  // its command name, as ps shows it
};

// The other processes that have the device open, as far as the system lets
// this user see them (root sees all). Empty where it cannot tell.
std::vector<TPortHolder> PortHolders(const std::string& devicePath);

// The path with its links resolved (/dev/serial/by-id/... -> /dev/ttyUSB0);
// the path itself when it cannot be resolved.
std::string ResolvedPath(const std::string& path);

// "in use by another program", naming the holders when they are known:
// "in use by another program: minicom, pid 1234".
std::string InUseText(const std::string& devicePath);

}  // namespace zelk
