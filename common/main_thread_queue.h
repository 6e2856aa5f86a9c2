// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <functional>
#include <memory>
#include <stop_token>

namespace zelk {

// Runs fn on the main thread and returns once it has run, or at once when
// stop is requested first: then fn runs later or never, and must own (or
// share) everything it touches. fn's exceptions are rethrown to the caller.
// The low layers know no GUI toolkit: the window supplies a queue watched by
// Qt's event loop, the command line its own loop.
using TMainThreadInvoker = std::function<void(std::function<void()> fn, std::stop_token stop)>;

// The main thread's side of a TMainThreadInvoker: other threads queue calls
// and wait until each has run; the thread that created the queue runs them.
// Its event loop watches Fd(), readable while calls wait, and then calls
// RunPending().
class TMainThreadQueue {
public:
    TMainThreadQueue();
    // Releases every waiting caller without running its call.
    ~TMainThreadQueue();
    TMainThreadQueue(const TMainThreadQueue&) = delete;
    TMainThreadQueue& operator=(const TMainThreadQueue&) = delete;

#ifdef _WIN32
    // A manual-reset event (a HANDLE), signalled while calls wait.
    void* WaitHandle() const;
#else
    int Fd() const;
#endif
    // Safe to call from any thread, also after the queue is gone (it then
    // returns without running anything). On the queue's own thread a call
    // runs at once.
    TMainThreadInvoker Invoker() const;
    void RunPending();
    // Calls queued and not yet run (for tests of their callers).
    std::size_t Queued() const;

private:
    struct TState;
    std::shared_ptr<TState> state_;
};

}  // namespace zelk
