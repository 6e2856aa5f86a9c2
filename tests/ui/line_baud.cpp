// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// termios2 from <asm/termbits.h> collides with glibc's <termios.h>: this file
// includes only the former.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace zelk::test {

unsigned LineBaud(int fd) {
    // On the master side of a pseudo-terminal this reads the slave's settings.
    termios2 tio{};
    if (::ioctl(fd, TCGETS2, &tio) != 0) throw std::runtime_error(std::string("TCGETS2: ") + std::strerror(errno));
    return tio.c_ospeed;
}

}  // namespace zelk::test
