// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "main_loop.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace zelk::upload {

TMainLoop::TMainLoop() : signalFd_(BlockQuitSignals()) {}

TMainLoop::TWake TMainLoop::RunOnce(std::optional<TClock::time_point> deadline) {
    pollfd fds[2] = {{queue_.Fd(), POLLIN, 0}, {signalFd_.Get(), POLLIN, 0}};
    for (;;) {
        int timeoutMs = -1;
        if (deadline) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - TClock::now());
            if (left.count() <= 0) return TWake::Deadline;
            timeoutMs = static_cast<int>(std::min<long long>(left.count(), 1 << 30));
        }
        const int rc = ::poll(fds, 2, timeoutMs);
        if (rc < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "poll");
        }
        if (rc > 0) break;  // on a time-out the deadline check above decides
    }

    if ((fds[1].revents & POLLIN) != 0 && TakeQuitSignals(signalFd_.Get())) return TWake::Signal;
    queue_.RunPending();
    return TWake::Calls;
}

}  // namespace zelk::upload
