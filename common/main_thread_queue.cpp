// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "common/main_thread_queue.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/wake_signal.h"

namespace zelk {

struct TMainThreadQueue::TState {
    // Shared by the caller and the queue: a caller that stops waiting leaves
    // a call that is already running with the main thread.
    struct TCall {
        std::function<void()> Fn;
        std::exception_ptr Error;
        bool Done = false;
    };
    using TCallPtr = std::shared_ptr<TCall>;

    void Call(std::function<void()> fn, std::stop_token stop) {
        if (std::this_thread::get_id() == MainThread) return fn();
        const auto call = std::make_shared<TCall>(TCall{std::move(fn), nullptr, false});
        {
            std::lock_guard lock(Mutex);
            if (Closed || stop.stop_requested()) return;
            Pending.push_back(call);
        }
        Wake.Set();
        // A plain condition variable, woken by the stop request as well: the
        // stop-token wait of condition_variable_any costs a second mutex on
        // every delivery. Made before the lock: a stop already requested
        // runs the callback at once, and it takes the lock itself.
        const std::stop_callback wakeOnStop(stop, [this] {
            { std::lock_guard guard(Mutex); }
            Finished.notify_all();
        });
        std::unique_lock lock(Mutex);
        Finished.wait(lock, [&] { return call->Done || stop.stop_requested(); });
        if (!call->Done) {
            // Stopped: a call that has not started never will.
            std::erase(Pending, call);
            return;
        }
        if (call->Error) std::rethrow_exception(call->Error);
    }

    void RunPending() {
        // Cleared before the queue is emptied: a call queued from now on sets it again.
        Wake.Clear();
        for (;;) {
            TCallPtr call;
            {
                std::lock_guard lock(Mutex);
                if (Pending.empty()) return;
                call = std::move(Pending.front());
                Pending.pop_front();
            }
            try {
                call->Fn();
            } catch (...) {
                call->Error = std::current_exception();
            }
            {
                // The caller, once woken, owns what the call left (its error
                // above all): this thread lets go of it first.
                std::lock_guard lock(Mutex);
                call->Done = true;
                call.reset();
            }
            Finished.notify_all();
        }
    }

    void Close() {
        {
            std::lock_guard lock(Mutex);
            Closed = true;
            for (const TCallPtr& call : Pending) call->Done = true;
            Pending.clear();
        }
        Finished.notify_all();
    }

    const std::thread::id MainThread = std::this_thread::get_id();
    TWakeSignal Wake;
    mutable std::mutex Mutex;
    std::condition_variable Finished;
    std::deque<TCallPtr> Pending;
    bool Closed = false;
};

TMainThreadQueue::TMainThreadQueue() : state_(std::make_shared<TState>()) {}

TMainThreadQueue::~TMainThreadQueue() { state_->Close(); }

#ifdef _WIN32
void* TMainThreadQueue::WaitHandle() const { return state_->Wake.Native(); }
#else
int TMainThreadQueue::Fd() const { return state_->Wake.Native(); }
#endif

TMainThreadInvoker TMainThreadQueue::Invoker() const {
    return [state = state_](std::function<void()> fn, std::stop_token stop) { state->Call(std::move(fn), std::move(stop)); };
}

void TMainThreadQueue::RunPending() { state_->RunPending(); }

std::size_t TMainThreadQueue::Queued() const {
    std::lock_guard lock(state_->Mutex);
    return state_->Pending.size();
}

}  // namespace zelk
