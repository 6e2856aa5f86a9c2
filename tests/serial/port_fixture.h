#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "pty_pair.h"
#include "serial/com_port.h"

namespace zelk::test {

// A pseudo-terminal standing in for COM20, and the test thread as main thread.
// Every test must leave no reader thread and no fd behind.
class PortTest : public ::testing::Test {
protected:
    static constexpr int kNumber = 20;

    void SetUp() override {
        ASSERT_EQ(TComPort::ReaderThreadCount(), 0);
        ::setenv("ZELK_COM20", pty.SlavePath().c_str(), 1);
        fdsBefore = OpenFdCount();
    }

    void TearDown() override {
        main.Close();
        EXPECT_TRUE(TComPort::WaitForReaderThreads(kLimit));
        EXPECT_EQ(OpenFdCount(), fdsBefore - (pty.MasterOpen() ? 0 : 1));
        ::unsetenv("ZELK_COM20");
    }

    std::unique_ptr<TComPort> Open(int baud = 115200) {
        return std::make_unique<TComPort>(kNumber, baud, main.Invoker());
    }

    TPtyPair pty;
    TMainQueue main;
    int fdsBefore = 0;
};

}  // namespace zelk::test
