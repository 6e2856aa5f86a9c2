// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "support/pty_pair.h"
#include "serial/com_port.h"
#include "serial/port_backend.h"

namespace zelk::test {

// A pseudo-terminal standing in for COM20, and the test thread as main thread.
// Every test must leave no reader thread and no fd behind.
class PortTest : public ::testing::Test {
protected:
    static constexpr int kNumber = 20;

    void SetUp() override {
        ::setenv("ZELK_COM20", pty.SlavePath().c_str(), 1);
        fdsBefore = OpenFdCount();
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

    // Reader threads still running: a closed port has joined its own. Counted
    // by name: a sanitizer's helper threads, or a joined thread the kernel
    // has not yet reaped, do not count.
    static int ReaderThreads() { return ThreadsNamed(kReaderThreadName); }

    TPtyPair pty;
    TMainQueue main;
    int fdsBefore = 0;
};

}  // namespace zelk::test
