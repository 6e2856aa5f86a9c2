// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "serial/port_error.h"

#include <cerrno>

namespace zelk {

bool EComPortError::PermissionDenied() const {
#ifdef _WIN32
    // A COM port answers ERROR_ACCESS_DENIED while another program holds it;
    // there is no group to join, so the dialout advice never applies.
    return false;
#else
    return Errno == EACCES || Errno == EPERM;
#endif
}

std::string PermissionHint() {
    return "Serial ports belong to the dialout group. Join it with\n"
           "    sudo usermod -aG dialout $USER\n"
           "then log out and in again.";
}

}  // namespace zelk
