// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

// The copyright and licence notice every program prints after its version
// (--version), and so in the manual pages help2man makes from that output.
// No toolkit: the window's face and the command-line programs share it.
namespace zelk {

inline constexpr const char* kLicenceNotice =
    "Copyright (C) 2026 The ZELK developers\n"
    "License GPLv3+: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
    "This is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";

}  // namespace zelk
