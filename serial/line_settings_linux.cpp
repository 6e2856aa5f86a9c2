// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// termios2 lives in <asm/termbits.h>, whose struct termios and flag macros
// collide with glibc's <termios.h>; this file must never include the latter.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

#include "serial/line_settings.h"

namespace zelk {

TLineResult SetRawLine(int fd, unsigned baud) {
    termios2 tio{};
    if (::ioctl(fd, TCGETS2, &tio) != 0) return {errno, 0, 0};

    // What cfmakeraw() does, and XON/XOFF off in both directions: the packets
    // carry 0x11, 0x13 and 0x0D, which must pass unchanged and at once.
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                          IXANY | INPCK | IUCLC);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;

    // Both directions at the same arbitrary rate; CRTSCTS is left alone.
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ospeed = baud;
    tio.c_ispeed = baud;
    if (::ioctl(fd, TCSETS2, &tio) != 0) return {errno, 0, 0};

    // A driver that cannot do the rate may quietly keep another one; only the
    // read-back tells.
    termios2 taken{};
    if (::ioctl(fd, TCGETS2, &taken) != 0) return {errno, 0, 0};
    return {0, taken.c_ospeed, taken.c_ispeed};
}

TSavedLine TSavedLine::Of(int fd) {
    static_assert(sizeof(termios2) <= sizeof(TSavedLine{}.termios2_));
    TSavedLine saved;
    termios2 tio{};
    if (::ioctl(fd, TCGETS2, &tio) != 0) {
        saved.errno_ = errno;
        return saved;
    }
    std::memcpy(saved.termios2_.data(), &tio, sizeof tio);
    return saved;
}

int TSavedLine::Restore(int fd) const {
    if (errno_ != 0) return errno_;
    termios2 tio{};
    std::memcpy(&tio, termios2_.data(), sizeof tio);
    return ::ioctl(fd, TCSETS2, &tio) == 0 ? 0 : errno;
}

}  // namespace zelk
