#include "main_loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <deque>
#include <future>
#include <mutex>
#include <system_error>

namespace zelk::upload {

struct TMainLoop::TQueue {
    TQueue() : wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        if (wakeFd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    ~TQueue() { ::close(wakeFd); }

    struct TCall {
        std::function<void()> fn;
        std::promise<void> done;
    };

    std::mutex mutex;
    std::deque<TCall> calls;
    bool closed = false;
    const int wakeFd;
};

TMainLoop::TMainLoop() : queue_(std::make_shared<TQueue>()) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    if (const int rc = pthread_sigmask(SIG_BLOCK, &set, nullptr); rc != 0)
        throw std::system_error(rc, std::generic_category(), "pthread_sigmask");
    signalFd_ = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd_ < 0) throw std::system_error(errno, std::generic_category(), "signalfd");
}

TMainLoop::~TMainLoop() {
    std::deque<TQueue::TCall> dropped;
    {
        std::lock_guard lock(queue_->mutex);
        queue_->closed = true;
        dropped.swap(queue_->calls);
    }
    for (auto& call : dropped) call.done.set_value();
    ::close(signalFd_);
}

TMainThreadInvoker TMainLoop::Invoker() const {
    return [queue = queue_](std::function<void()> fn) {
        std::future<void> done;
        {
            std::lock_guard lock(queue->mutex);
            if (queue->closed) return;
            queue->calls.push_back({std::move(fn), {}});
            done = queue->calls.back().done.get_future();
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(queue->wakeFd, &one, sizeof one);
        done.wait();
    };
}

TMainLoop::TWake TMainLoop::RunOnce(std::optional<TClock::time_point> deadline) {
    pollfd fds[2] = {{queue_->wakeFd, POLLIN, 0}, {signalFd_, POLLIN, 0}};
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
        if (rc == 0) continue;  // the deadline check above decides
        break;
    }

    if (fds[1].revents & POLLIN) {
        signalfd_siginfo info{};
        [[maybe_unused]] const ssize_t n = ::read(signalFd_, &info, sizeof info);
        return TWake::Signal;
    }

    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(queue_->wakeFd, &count, sizeof count);
    for (;;) {
        TQueue::TCall call;
        {
            std::lock_guard lock(queue_->mutex);
            if (queue_->calls.empty()) break;
            call = std::move(queue_->calls.front());
            queue_->calls.pop_front();
        }
        try {
            call.fn();
        } catch (...) {
            call.done.set_value();
            throw;
        }
        call.done.set_value();
    }
    return TWake::Calls;
}

}  // namespace zelk::upload
