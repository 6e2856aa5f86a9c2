// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// Reception, writing and closing, with the test thread as main thread.
#include <sys/ioctl.h>

#include <numeric>
#include <stdexcept>

#include "port_fixture.h"

namespace zelk::test {
namespace {

using Chunk = std::vector<std::uint8_t>;

Chunk AllByteValues() {
    Chunk all(256);
    std::iota(all.begin(), all.end(), 0);
    return all;
}

Chunk Concat(const std::vector<Chunk>& chunks, std::size_t from = 0) {
    Chunk all;
    for (std::size_t i = from; i < chunks.size(); ++i) all.insert(all.end(), chunks[i].begin(), chunks[i].end());
    return all;
}

class ReaderTest : public PortTest {
protected:
    // Opens the port with OnRead recording every chunk.
    std::unique_ptr<TComPort> OpenRecording() {
        auto port = Open();
        port->SetOnRead([this](Chunk bytes) { chunks.push_back(std::move(bytes)); });
        return port;
    }

    bool RunUntilReceived(std::size_t count) {
        return main.RunUntil([&] { return Concat(chunks).size() >= count; });
    }

    std::vector<Chunk> chunks;
};

TEST_F(ReaderTest, AllByteValuesPassBothWaysUnchangedWithoutEcho) {
    const auto port = OpenRecording();
    const Chunk all = AllByteValues();

    port->Write(all);
    EXPECT_EQ(pty.Receive(all.size()), all);

    pty.Send(all);
    ASSERT_TRUE(RunUntilReceived(all.size()));
    EXPECT_EQ(Concat(chunks), all);

    // Any echo of what the device sent would come before this marker.
    port->Write(Chunk{0xA5});
    EXPECT_EQ(pty.Receive(1), Chunk{0xA5});
}

TEST_F(ReaderTest, BytesThatArriveTogetherAreOneChunk) {
    const auto port = OpenRecording();
    pty.Send(Chunk{0x05});
    ASSERT_TRUE(main.WaitQueued(1));  // the reader now waits for its delivery
    const Chunk together{0x06, 0x11, 0x13, 0x0D, 0x0A, 0x03, 0x7F, 0xF4};
    pty.Send(together);

    ASSERT_TRUE(main.RunUntil([&] { return chunks.size() >= 2; }));
    EXPECT_EQ(chunks[0], Chunk{0x05});
    EXPECT_EQ(chunks[1], together);
}

TEST_F(ReaderTest, BacklogArrivesInOrderInChunksOfAtMost256) {
    const auto port = OpenRecording();
    pty.Send(Chunk{0x05});
    ASSERT_TRUE(main.WaitQueued(1));
    Chunk backlog(1000);
    for (std::size_t i = 0; i < backlog.size(); ++i) backlog[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    pty.Send(backlog);

    ASSERT_TRUE(RunUntilReceived(1 + backlog.size()));
    EXPECT_EQ(Concat(chunks, 1), backlog);
    EXPECT_GE(chunks.size(), 1u + 4u);
    for (const Chunk& chunk : chunks) EXPECT_LE(chunk.size(), 256u);
}

TEST_F(ReaderTest, ChunksBeforeOnReadIsSetAreDropped) {
    const auto port = Open();
    pty.Send(Chunk{0x05});
    ASSERT_TRUE(main.WaitQueued(1));
    main.RunQueued();

    port->SetOnRead([this](Chunk bytes) { chunks.push_back(std::move(bytes)); });
    pty.Send(Bytes("CD"));
    ASSERT_TRUE(RunUntilReceived(2));
    EXPECT_EQ(Concat(chunks), Bytes("CD"));
}

TEST_F(ReaderTest, ClosingWhileTheReaderWaitsEndsItQuietly) {
    auto port = OpenRecording();
    EXPECT_EQ(ReaderThreads(), 1);
    port.reset();

    EXPECT_EQ(ReaderThreads(), 0);
    EXPECT_EQ(OpenFdCount(), fdsBefore);
    EXPECT_EQ(main.Queued(), 0u);
    EXPECT_TRUE(chunks.empty());
}

TEST_F(ReaderTest, ClosingWhileADeliveryWaitsDropsItAndFreesThePortAtOnce) {
    auto port = OpenRecording();
    pty.Send(Bytes("late"));
    ASSERT_TRUE(main.WaitQueued(1));
    port.reset();

    // The reader is gone with its port, and the same number opens again.
    std::vector<Chunk> fresh;
    const auto again = Open();
    again->SetOnRead([&](Chunk bytes) { fresh.push_back(std::move(bytes)); });

    main.RunQueued();  // the delivery that was queued went with its port
    EXPECT_TRUE(chunks.empty());

    pty.Send(Bytes("new"));
    ASSERT_TRUE(main.RunUntil([&] { return Concat(fresh).size() >= 3; }));
    EXPECT_EQ(Concat(fresh), Bytes("new"));
    EXPECT_TRUE(chunks.empty());
}

// The window or the command line may close the port from its OnRead, once the
// upload has ended.
TEST_F(ReaderTest, ClosingFromInsideOnReadIsSafe) {
    std::unique_ptr<TComPort> port = Open();
    Chunk got;
    port->SetOnRead([&](Chunk bytes) {
        got = std::move(bytes);
        port.reset();
    });
    pty.Send(Bytes("done"));
    ASSERT_TRUE(main.RunUntil([&] { return port == nullptr; }));
    EXPECT_EQ(got, Bytes("done"));
    EXPECT_EQ(ReaderThreads(), 0);
    EXPECT_EQ(OpenFdCount(), fdsBefore);
}

TEST_F(ReaderTest, ManyOpenCloseCyclesWithDataLeaveNothingBehind) {
    for (int cycle = 0; cycle < 200; ++cycle) {
        SCOPED_TRACE(cycle);
        Chunk got;
        const auto port = Open();
        port->SetOnRead([&](Chunk bytes) { got.insert(got.end(), bytes.begin(), bytes.end()); });

        const Chunk out{static_cast<std::uint8_t>(cycle), 0x55, 0x55};
        port->Write(out);
        ASSERT_EQ(pty.Receive(out.size()), out);
        const Chunk in{0x05, static_cast<std::uint8_t>(cycle)};
        pty.Send(in);
        ASSERT_TRUE(main.RunUntil([&] { return got.size() >= in.size(); }));
        ASSERT_EQ(got, in);
        // Every other port closes with bytes still coming in; their
        // deliveries, run in later cycles, must reach no one.
        if (cycle % 2 == 1) pty.Send(Bytes("in flight"));
    }
    main.Close();
    EXPECT_EQ(ReaderThreads(), 0);
    EXPECT_EQ(OpenFdCount(), fdsBefore);
}

TEST_F(ReaderTest, OnReadThatThrowsEndsReceptionButWritesGoOn) {
    const TUniqueFd probe = OpenSlave(pty.SlavePath());
    auto port = Open();
    int calls = 0;
    int failures = 0;
    port->SetOnRead([&](Chunk) {
        ++calls;
        throw std::runtime_error("handler failed");
    });
    port->SetOnError([&](const EComPortError&) { ++failures; });
    pty.Send(Chunk{0x05});
    ASSERT_TRUE(main.RunUntil([&] { return calls == 1; }));

    // What comes later stays unread in the driver.
    pty.Send(Bytes("more"));
    ASSERT_TRUE(WaitReadable(probe.Get()));
    const auto bytes = Bytes("still writes");
    port->Write(bytes);
    EXPECT_EQ(pty.Receive(bytes.size()), bytes);
    int queued = 0;
    ASSERT_EQ(::ioctl(probe.Get(), FIONREAD, &queued), 0);
    EXPECT_EQ(queued, 4);
    EXPECT_EQ(main.Queued(), 0u);

    port.reset();
    EXPECT_EQ(ReaderThreads(), 0);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(failures, 0) << "the handler's error is not the port's";
}

TEST_F(ReaderTest, HangUpIsReportedOnceOnTheMainThreadAndClosingStillWorks) {
    auto port = OpenRecording();
    std::vector<EComPortError> errors;
    port->SetOnError([&](const EComPortError& e) { errors.push_back(e); });
    pty.CloseMaster();

    ASSERT_TRUE(main.RunUntil([&] { return !errors.empty(); }));
    ASSERT_EQ(errors.size(), 1u);
    const auto& error = errors.front();
    EXPECT_STREQ(error.what(), "Error reading port COM20");
    EXPECT_EQ(error.Detail, pty.SlavePath() + ": the device hung up");
    EXPECT_EQ(main.Queued(), 0u);

    try {
        port->Write(Bytes("x"));
        ADD_FAILURE() << "a hung-up port took bytes";
    } catch (const EComPortError& e) {
        EXPECT_STREQ(e.what(), "Error writing port COM20");
        EXPECT_EQ(e.Errno, EIO);
        EXPECT_EQ(e.Detail, pty.SlavePath() + ": the device hung up");
    }
    port.reset();
    EXPECT_EQ(OpenFdCount(), fdsBefore - 1);
}

// The device does not read for a while: the driver fills up and takes only
// part of a write, then nothing. Write must still return at once and lose no byte.
TEST_F(ReaderTest, WritesTheDriverCannotTakeYetArriveWholeAndInOrder) {
    const auto port = Open();
    Chunk sent;
    for (int packet = 0; packet < 8192; ++packet) {
        Chunk bytes(36);
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(packet * 31 + i + packet / 256);
        port->Write(bytes);
        sent.insert(sent.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(pty.Receive(sent.size()), sent);

    // The queue is empty again: this one goes straight to the driver.
    const auto tail = Bytes("end");
    port->Write(tail);
    EXPECT_EQ(pty.Receive(tail.size()), tail);
}

}  // namespace
}  // namespace zelk::test
