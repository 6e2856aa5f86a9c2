#pragma once

#include <memory>

#include "serial/com_port.h"

namespace zelk {

// The main thread's side of a TMainThreadInvoker: other threads queue calls
// and wait until each has run; the thread that created the queue runs them.
// Its event loop watches Fd(), readable while calls wait, and then calls
// RunPending(). An exception thrown by a call is rethrown to its caller.
class TMainThreadQueue {
public:
    TMainThreadQueue();
    // Releases every waiting caller without running its call.
    ~TMainThreadQueue();
    TMainThreadQueue(const TMainThreadQueue&) = delete;
    TMainThreadQueue& operator=(const TMainThreadQueue&) = delete;

    int Fd() const;
    // Safe to call from any thread, also after the queue is gone (it then
    // returns without running anything). On the queue's own thread a call
    // runs at once.
    TMainThreadInvoker Invoker() const;
    void RunPending();

private:
    struct TState;
    std::shared_ptr<TState> state_;
};

}  // namespace zelk
