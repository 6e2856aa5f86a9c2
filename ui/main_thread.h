// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <memory>

#include "common/main_thread_queue.h"

class QSocketNotifier;

namespace zelk {

// Runs the calls that the reader thread hands over on the window's thread,
// while the reader waits for each. The event loop watches the queue, so
// calls also run inside nested loops such as modal dialogs. Calls handed
// over after the runner is gone return at once without running.
class TMainThreadRunner {
public:
    TMainThreadRunner();
    ~TMainThreadRunner();
    TMainThreadRunner(const TMainThreadRunner&) = delete;
    TMainThreadRunner& operator=(const TMainThreadRunner&) = delete;

    TMainThreadInvoker Invoker() const { return queue_.Invoker(); }

private:
    TMainThreadQueue queue_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace zelk
