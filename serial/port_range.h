// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

namespace zelk {

// The port numbers the programs take: COM1 to COM20, as the window's
// up-down steps them, the command lines accept them and the port list scans them.
inline constexpr int kFirstPortNumber = 1;
inline constexpr int kLastPortNumber = 20;

}  // namespace zelk
