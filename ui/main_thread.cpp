#include "ui/main_thread.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <string>

namespace zelk {

struct TMainThreadRunner::TQueue {
    struct TCall {
        std::function<void()> Fn;
        std::exception_ptr Error;
        bool Done = false;
    };

    TQueue() : wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
        if (wakeFd < 0) throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
    }
    ~TQueue() { ::close(wakeFd); }
    TQueue(const TQueue&) = delete;
    TQueue& operator=(const TQueue&) = delete;

    // On a worker thread: queue fn for the main thread and wait until it ran.
    void Call(std::function<void()> fn) {
        if (std::this_thread::get_id() == mainThread) return fn();
        TCall call{std::move(fn), nullptr, false};
        {
            std::lock_guard lock(mutex);
            if (closed) return;
            pending.push_back(&call);
        }
        const std::uint64_t one = 1;
        while (::write(wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
        }
        std::unique_lock lock(mutex);
        finished.wait(lock, [&] { return call.Done; });
        if (call.Error) std::rethrow_exception(call.Error);
    }

    // On the main thread, when the eventfd signals.
    void RunPending() {
        std::uint64_t count = 0;
        while (::read(wakeFd, &count, sizeof count) < 0 && errno == EINTR) {
        }
        for (;;) {
            TCall* call = nullptr;
            {
                std::lock_guard lock(mutex);
                if (pending.empty()) return;
                call = pending.front();
                pending.pop_front();
            }
            try {
                call->Fn();
            } catch (...) {
                call->Error = std::current_exception();
            }
            {
                std::lock_guard lock(mutex);
                call->Done = true;
            }
            // The caller may return and drop call as soon as the lock is released.
            finished.notify_all();
        }
    }

    // On the main thread: release every waiting caller without running its call.
    void Close() {
        {
            std::lock_guard lock(mutex);
            closed = true;
            for (TCall* call : pending) call->Done = true;
            pending.clear();
        }
        finished.notify_all();
    }

    const std::thread::id mainThread = std::this_thread::get_id();
    const int wakeFd;
    std::mutex mutex;
    std::condition_variable finished;
    std::deque<TCall*> pending;
    bool closed = false;
};

TMainThreadRunner::TMainThreadRunner()
    : queue_(std::make_shared<TQueue>()),
      notifier_(std::make_unique<QSocketNotifier>(queue_->wakeFd, QSocketNotifier::Read)) {
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [queue = queue_.get()] { queue->RunPending(); });
}

TMainThreadRunner::~TMainThreadRunner() {
    notifier_.reset();
    queue_->Close();
}

TMainThreadInvoker TMainThreadRunner::Invoker() const {
    return [queue = queue_](std::function<void()> fn) { queue->Call(std::move(fn)); };
}

}  // namespace zelk
