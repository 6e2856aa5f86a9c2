// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "support/pty_pair.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace zelk::test {

namespace {

[[noreturn]] void Fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

int MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<long long>(left.count(), 0));
}

}  // namespace

TPtyPair::TPtyPair() : master_(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    if (!master_) Fail("posix_openpt");
    if (::grantpt(master_.Get()) != 0) Fail("grantpt");
    if (::unlockpt(master_.Get()) != 0) Fail("unlockpt");
    std::array<char, 128> name{};
    if (::ptsname_r(master_.Get(), name.data(), name.size()) != 0) Fail("ptsname_r");
    slavePath_ = name.data();
    if (::fcntl(master_.Get(), F_SETFL, O_NONBLOCK) != 0) Fail("fcntl");
    // Raw, as a serial device's line is after any program used it: a new
    // pseudo-terminal starts cooked and echoing, and the port puts the line
    // back as it found it when it closes, so bytes the test sends to a port
    // that has just closed would otherwise come back as an echo.
    const TUniqueFd slave = OpenSlave(slavePath_);
    termios tio{};
    if (::tcgetattr(slave.Get(), &tio) != 0) Fail("tcgetattr");
    ::cfmakeraw(&tio);
    if (::tcsetattr(slave.Get(), TCSANOW, &tio) != 0) Fail("tcsetattr");
}

void TPtyPair::Send(std::span<const std::uint8_t> bytes) const {
    const ssize_t n = ::write(master_.Get(), bytes.data(), bytes.size());
    if (n != static_cast<ssize_t>(bytes.size())) Fail("write to the pty master");
}

std::vector<std::uint8_t> TPtyPair::Receive(std::size_t count) const {
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    std::vector<std::uint8_t> got;
    std::array<std::uint8_t, 4096> buf{};
    while (got.size() < count) {
        pollfd fd{master_.Get(), POLLIN, 0};
        const int ready = ::poll(&fd, 1, MillisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        const ssize_t n = ::read(master_.Get(), buf.data(), std::min(buf.size(), count - got.size()));
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) break;
        got.insert(got.end(), buf.begin(), buf.begin() + n);
    }
    return got;
}

TUniqueFd OpenSlave(const std::string& path) {
    TUniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) Fail("open the pty slave");
    return fd;
}

bool WaitReadable(int fd) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, static_cast<int>(kLimit.count())) == 1;
}

namespace {

// The entries of a /proc folder, read while one descriptor is open on it.
std::vector<std::string> EntryNames(const char* path) {
    DIR* dir = ::opendir(path);
    if (dir == nullptr) Fail("opendir");
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir))
        if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
    ::closedir(dir);
    return names;
}

}  // namespace

int OpenFdCount() {
    return static_cast<int>(EntryNames("/proc/self/fd").size()) - 1;  // the directory's own fd
}

int ThreadsNamed(const char* name) {
    int count = 0;
    for (const std::string& task : EntryNames("/proc/self/task")) {
        std::ifstream comm("/proc/self/task/" + task + "/comm");
        std::string line;
        // A thread that ended since the folder was read has no comm any more.
        if (std::getline(comm, line) && line == name) ++count;
    }
    return count;
}

int LiveThreadCount() {
    constexpr unsigned long kExiting = 0x4;  // PF_EXITING
    int count = 0;
    for (const std::string& task : EntryNames("/proc/self/task")) {
        std::ifstream stat("/proc/self/task/" + task + "/stat");
        std::string line;
        if (!std::getline(stat, line)) continue;  // gone since the folder was read
        // After the name in parentheses: state, ppid, pgrp, session, tty, tpgid, flags.
        std::istringstream fields(line.substr(line.rfind(')') + 1));
        std::string skip;
        unsigned long flags = 0;
        for (int i = 0; i < 6; ++i) fields >> skip;
        if (fields >> flags && (flags & kExiting) == 0) ++count;
    }
    return count;
}

struct TMainQueue::TState {
    struct TCall {
        std::function<void()> Fn;
        bool Done = false;
    };

    mutable std::mutex Mutex;
    mutable std::condition_variable_any Changed;
    std::deque<std::shared_ptr<TCall>> Calls;
    bool Closed = false;

    void Call(std::function<void()> fn, const std::stop_token& stop) {
        auto call = std::make_shared<TCall>();
        call->Fn = std::move(fn);
        std::unique_lock lock(Mutex);
        if (Closed) return;
        Calls.push_back(call);
        Changed.notify_all();
        if (!Changed.wait(lock, stop, [&] { return call->Done; })) std::erase(Calls, call);
    }

    // On the test thread, with Mutex held by lock.
    void RunFront(std::unique_lock<std::mutex>& lock) {
        const std::shared_ptr<TCall> call = Calls.front();
        Calls.pop_front();
        lock.unlock();
        call->Fn();
        lock.lock();
        call->Done = true;
        Changed.notify_all();
    }
};

TMainQueue::TMainQueue() : state_(std::make_shared<TState>()) {}

TMainQueue::~TMainQueue() { Close(); }

TMainThreadInvoker TMainQueue::Invoker() const {
    return [state = state_](std::function<void()> fn, std::stop_token stop) { state->Call(std::move(fn), stop); };
}

bool TMainQueue::WaitQueued(std::size_t count) const {
    std::unique_lock lock(state_->Mutex);
    return state_->Changed.wait_for(lock, kLimit, [&] { return state_->Calls.size() >= count; });
}

bool TMainQueue::RunUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    std::unique_lock lock(state_->Mutex);
    for (;;) {
        lock.unlock();
        if (done()) return true;
        lock.lock();
        if (!state_->Changed.wait_until(lock, deadline, [&] { return !state_->Calls.empty(); })) return false;
        state_->RunFront(lock);
    }
}

void TMainQueue::RunQueued() {
    std::unique_lock lock(state_->Mutex);
    for (std::size_t n = state_->Calls.size(); n > 0 && !state_->Calls.empty(); --n) state_->RunFront(lock);
}

std::size_t TMainQueue::Queued() const {
    std::lock_guard lock(state_->Mutex);
    return state_->Calls.size();
}

void TMainQueue::Close() {
    std::lock_guard lock(state_->Mutex);
    state_->Closed = true;
    for (const auto& call : state_->Calls) call->Done = true;
    state_->Calls.clear();
    state_->Changed.notify_all();
}

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

}  // namespace zelk::test
