#include "serial/main_thread_queue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

namespace zelk {

struct TMainThreadQueue::TState {
    struct TCall {
        std::function<void()> Fn;
        std::exception_ptr Error;
        bool Done = false;
    };

    TState() : WakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
        if (WakeFd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    ~TState() { ::close(WakeFd); }
    TState(const TState&) = delete;
    TState& operator=(const TState&) = delete;

    void Call(std::function<void()> fn) {
        if (std::this_thread::get_id() == MainThread) return fn();
        TCall call{std::move(fn), nullptr, false};
        {
            std::lock_guard lock(Mutex);
            if (Closed) return;
            Pending.push_back(&call);
        }
        const std::uint64_t one = 1;
        while (::write(WakeFd, &one, sizeof one) < 0 && errno == EINTR) {
        }
        std::unique_lock lock(Mutex);
        Finished.wait(lock, [&] { return call.Done; });
        if (call.Error) std::rethrow_exception(call.Error);
    }

    void RunPending() {
        std::uint64_t count = 0;
        while (::read(WakeFd, &count, sizeof count) < 0 && errno == EINTR) {
        }
        for (;;) {
            TCall* call = nullptr;
            {
                std::lock_guard lock(Mutex);
                if (Pending.empty()) return;
                call = Pending.front();
                Pending.pop_front();
            }
            try {
                call->Fn();
            } catch (...) {
                call->Error = std::current_exception();
            }
            {
                std::lock_guard lock(Mutex);
                call->Done = true;
            }
            // The caller may return and drop call as soon as the lock is released.
            Finished.notify_all();
        }
    }

    void Close() {
        {
            std::lock_guard lock(Mutex);
            Closed = true;
            for (TCall* call : Pending) call->Done = true;
            Pending.clear();
        }
        Finished.notify_all();
    }

    const std::thread::id MainThread = std::this_thread::get_id();
    const int WakeFd;
    std::mutex Mutex;
    std::condition_variable Finished;
    std::deque<TCall*> Pending;
    bool Closed = false;
};

TMainThreadQueue::TMainThreadQueue() : state_(std::make_shared<TState>()) {}

TMainThreadQueue::~TMainThreadQueue() { state_->Close(); }

int TMainThreadQueue::Fd() const { return state_->WakeFd; }

TMainThreadInvoker TMainThreadQueue::Invoker() const {
    return [state = state_](std::function<void()> fn) { state->Call(std::move(fn)); };
}

void TMainThreadQueue::RunPending() { state_->RunPending(); }

}  // namespace zelk
