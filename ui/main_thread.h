#pragma once

#include <memory>
#include <thread>

#include "serial/com_port.h"

class QSocketNotifier;

namespace zelk {

// Runs functions that other threads hand over on the thread that created it
// (the window's thread), one at a time, while each caller waits for its own
// to finish. An exception thrown by such a function is rethrown to its
// caller, so none reaches the event loop. Calls handed over after the runner
// is gone return at once without running.
//
// The hand-over uses a mutex, a condition variable and an eventfd watched by
// the event loop, which also serves nested loops such as modal dialogs.
class TMainThreadRunner {
public:
    TMainThreadRunner();
    ~TMainThreadRunner();
    TMainThreadRunner(const TMainThreadRunner&) = delete;
    TMainThreadRunner& operator=(const TMainThreadRunner&) = delete;

    // For TComPort; stays safe to call after the runner is destroyed.
    TMainThreadInvoker Invoker() const;

private:
    struct TQueue;
    std::shared_ptr<TQueue> queue_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace zelk
