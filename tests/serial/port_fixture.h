#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <thread>

#include "support/pty_pair.h"
#include "serial/com_port.h"

namespace zelk::test {

// A pseudo-terminal standing in for COM20, and the test thread as main thread.
// Every test must leave no reader thread and no fd behind.
class PortTest : public ::testing::Test {
protected:
    static constexpr int kNumber = 20;

    void SetUp() override {
        ::setenv("ZELK_COM20", pty.SlavePath().c_str(), 1);
        fdsBefore = OpenFdCount();
        // A sanitizer starts a helper thread of its own with the first
        // thread: one started and joined here puts it in the baseline.
        std::thread([] {}).join();
        threadsBefore = ThreadCount();
    }

    void TearDown() override {
        main.Close();
        EXPECT_EQ(ReaderThreads(), 0);
        EXPECT_EQ(OpenFdCount(), fdsBefore - (pty.MasterOpen() ? 0 : 1));
        ::unsetenv("ZELK_COM20");
    }

    std::unique_ptr<TComPort> Open(int baud = 115200) {
        return std::make_unique<TComPort>(kNumber, baud, main.Invoker());
    }

    // Reader threads still running: a closed port has joined its own.
    int ReaderThreads() const { return ThreadCount() - threadsBefore; }

    TPtyPair pty;
    TMainQueue main;
    int fdsBefore = 0;
    int threadsBefore = 0;
};

}  // namespace zelk::test
