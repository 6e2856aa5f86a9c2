// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <chrono>
#include <optional>

#include "common/main_thread_queue.h"
#ifdef _WIN32
#include <memory>
#else
#include "common/quit_signals.h"
#include "common/unique_fd.h"
#endif

namespace zelk::upload {

#ifdef _WIN32
struct TConsoleStop;  // what the console control handler shares with the loop
#endif

// The command line's main thread: runs the calls the reader thread hands over
// (waiting for each, as the window's event loop does), and watches for Ctrl-C
// and a deadline. Construct it before any thread starts: it blocks SIGINT,
// SIGTERM and SIGHUP for the whole process so that they arrive here instead.
// On Windows Ctrl-C, Ctrl-Break and closing the console come the same way,
// through a console control handler.
class TMainLoop {
public:
    using TClock = std::chrono::steady_clock;
    enum class TWake { Calls, Signal, Deadline };

    TMainLoop();
    // Calls still queued are dropped and their callers released.
#ifdef _WIN32
    ~TMainLoop();
#endif
    TMainLoop(const TMainLoop&) = delete;
    TMainLoop& operator=(const TMainLoop&) = delete;

    // Safe to call from any thread, also after the loop is gone (it then runs nothing).
    TMainThreadInvoker Invoker() const { return queue_.Invoker(); }

    // Waits for queued calls, a signal or the deadline, and runs the calls.
    TWake RunOnce(std::optional<TClock::time_point> deadline);

private:
    TMainThreadQueue queue_;
#ifdef _WIN32
    std::shared_ptr<TConsoleStop> stop_;
#else
    TUniqueFd signalFd_;
#endif
};

}  // namespace zelk::upload
