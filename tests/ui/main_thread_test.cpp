// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// Handing calls from other threads to the window thread.
#include <QTest>
#include <atomic>
#include <stdexcept>
#include <thread>

#include <poll.h>

#include <csignal>

#include "common/main_thread_queue.h"
#include "ui/close_on_signals.h"
#include "ui/main_thread.h"
#include "ui_test_support.h"

namespace zelk::test {
namespace {

TEST(MainThreadRunner, RunsCallsOnItsThreadAndCarriesErrorsBack) {
    TMainThreadRunner runner;
    const TMainThreadInvoker invoke = runner.Invoker();
    const std::thread::id mainId = std::this_thread::get_id();

    std::thread::id ranOn;
    std::atomic<bool> finished = false;
    std::string caught;
    std::jthread worker([&] {
        invoke([&] { ranOn = std::this_thread::get_id(); }, {});
        try {
            invoke([] { throw std::runtime_error("write failed"); }, {});
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        finished = true;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.load(); }, kLimitMs));
    worker.join();
    EXPECT_EQ(ranOn, mainId);
    EXPECT_EQ(caught, "write failed");

    // On its own thread a call runs at once.
    bool direct = false;
    invoke([&] { direct = true; }, {});
    EXPECT_TRUE(direct);
}

TEST(MainThreadRunner, CallsWaitingWhenTheRunnerGoesReturnWithoutRunning) {
    auto runner = std::make_unique<TMainThreadRunner>();
    const TMainThreadInvoker invoke = runner->Invoker();
    std::atomic<int> ran = 0;
    // No event loop runs here: the worker's call is queued, or arrives after
    // the runner has gone. Either way it must return without running.
    std::jthread waiting([&] { invoke([&] { ++ran; }, {}); });
    runner.reset();
    waiting.join();
    std::jthread late([&] { invoke([&] { ++ran; }, {}); });
    late.join();
    // Whether the first call was queued before the runner went or not, none ran.
    EXPECT_EQ(ran, 0);
}

// A port that closes stops its reader's wait for a delivery: the call is
// dropped, never run, and the reader returns although no event loop runs.
TEST(MainThreadQueue, AStoppedCallReturnsAtOnceAndNeverRuns) {
    TMainThreadQueue queue;
    const TMainThreadInvoker invoke = queue.Invoker();
    std::atomic<int> ran = 0;
    std::jthread reader([&](std::stop_token stop) { invoke([&] { ++ran; }, stop); });
    pollfd queued{queue.Fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&queued, 1, kLimitMs), 1) << "the call was not queued";
    reader.request_stop();
    reader.join();
    EXPECT_EQ(queue.Queued(), 0u);
    queue.RunPending();
    EXPECT_EQ(ran, 0);
}

// A closed terminal or a kill: the window closes as if the user closed it.
TEST(CloseOnSignals, HangUpTermAndInterruptCloseTheWindow) {
    int closes = 0;
    TCloseOnSignals closeOnSignals([&] { ++closes; });
    closeOnSignals.Watch();
    for (const int signal : {SIGHUP, SIGTERM, SIGINT}) {
        const int before = closes;
        ASSERT_EQ(::raise(signal), 0);  // to this thread, which blocks it now
        ASSERT_TRUE(QTest::qWaitFor([&] { return closes > before; }, kLimitMs)) << signal;
    }
}

}  // namespace
}  // namespace zelk::test
