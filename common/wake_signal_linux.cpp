// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

#include "common/wake_signal.h"

namespace zelk {

TWakeSignal::TWakeSignal() : native_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (native_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

TWakeSignal::~TWakeSignal() { ::close(native_); }

void TWakeSignal::Set() {
    const std::uint64_t one = 1;
    while (::write(native_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void TWakeSignal::Clear() {
    std::uint64_t count = 0;
    while (::read(native_, &count, sizeof count) < 0 && errno == EINTR) {
    }
}

}  // namespace zelk
