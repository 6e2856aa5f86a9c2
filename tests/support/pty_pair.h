// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "common/main_thread_queue.h"
#include "common/unique_fd.h"

namespace zelk::test {

using namespace std::chrono_literals;

// The generous bound of every wait: reaching it fails the test.
inline constexpr std::chrono::milliseconds kLimit = 10s;

// A pseudo-terminal: the port opens the slave side, the test plays the device
// on the master side.
class TPtyPair {
public:
    TPtyPair();

    int Master() const { return master_.Get(); }
    const std::string& SlavePath() const { return slavePath_; }
    bool MasterOpen() const { return static_cast<bool>(master_); }
    // Hangs the slave side up, as pulling a USB adapter does.
    void CloseMaster() { master_.Reset(); }

    // Sends all the bytes to the port in one write.
    void Send(std::span<const std::uint8_t> bytes) const;
    // The next count bytes the port sent; fewer if they do not come within kLimit.
    std::vector<std::uint8_t> Receive(std::size_t count) const;

private:
    TUniqueFd master_;
    std::string slavePath_;
};

// A second open of the slave side, taken before the port opens it (afterwards
// the port's exclusive mode may refuse it).
TUniqueFd OpenSlave(const std::string& path);

// Waits until fd has something to read; false after kLimit.
bool WaitReadable(int fd);

// Entries of /proc/self/fd.
int OpenFdCount();
// Threads of this process called name (/proc/self/task/*/comm).
int ThreadsNamed(const char* name);
// Threads of this process that are not ending. A thread that was just joined
// can stay in /proc/self (and in the Threads count of its status) a moment
// after the join returned; the kernel marks it exiting (PF_EXITING) before
// the join can return, so it is never counted here.
int LiveThreadCount();

// The test's own main thread: the reader threads queue their calls here and
// wait, and the test body runs them.
class TMainQueue {
public:
    TMainQueue();
    // Releases the readers still waiting, without running their calls.
    ~TMainQueue();
    TMainQueue(const TMainQueue&) = delete;
    TMainQueue& operator=(const TMainQueue&) = delete;

    TMainThreadInvoker Invoker() const;

    // Waits, running nothing, until count calls are queued.
    bool WaitQueued(std::size_t count) const;
    // Runs the calls as they come until done() holds (checked before each).
    bool RunUntil(const std::function<bool()>& done);
    // Runs the calls queued right now.
    void RunQueued();
    std::size_t Queued() const;
    // From now on calls return at once without running, as after the window closed.
    void Close();

private:
    struct TState;
    std::shared_ptr<TState> state_;
};

std::vector<std::uint8_t> Bytes(std::string_view text);

}  // namespace zelk::test
