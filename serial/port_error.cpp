// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "serial/port_error.h"

#include <cerrno>
#ifdef _WIN32
#include <windows.h>
#endif

namespace zelk {

TPortErrorKind PortErrorKindOf(int errnum) {
#ifdef _WIN32
    switch (static_cast<DWORD>(errnum)) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
        return TPortErrorKind::NotFound;
    // A COM port answers ERROR_ACCESS_DENIED while another program holds it;
    // there is no group to join, so it is never a permission matter.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return TPortErrorKind::InUse;
    case ERROR_OPERATION_ABORTED:
    case ERROR_GEN_FAILURE:
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_INVALID_HANDLE:
    case ERROR_IO_DEVICE:
        return TPortErrorKind::IoFailure;
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_SUPPORTED:
        return TPortErrorKind::SettingsRefused;
    default:
        return TPortErrorKind::Other;
    }
#else
    switch (errnum) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return TPortErrorKind::NotFound;
    case EACCES:
    case EPERM:
        return TPortErrorKind::PermissionDenied;
    case EBUSY:
    case EWOULDBLOCK:
        return TPortErrorKind::InUse;
    case EIO:
    case EPIPE:
    case ENOSPC:
    case EBADF:
    case ETIMEDOUT:
        return TPortErrorKind::IoFailure;
    case EINVAL:
        return TPortErrorKind::SettingsRefused;
    default:
        return TPortErrorKind::Other;
    }
#endif
}

std::string PermissionHint() {
    return "Serial ports belong to the dialout group. Join it with\n"
           "    sudo usermod -aG dialout $USER\n"
           "then log out and in again.";
}

}  // namespace zelk
