// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include <algorithm>
#include <functional>

#include "test_support.h"

namespace zelk::test {
namespace {

const std::vector<std::string> kErrorOps{"panel1: Ошибка при отправке!", "flash: red", "caption: РС -> ЗЕЛК"};
const std::vector<std::string> kStopOps{"caption: РС -> ЗЕЛК", "panel1: Отправка Остановлена!", "flash: red"};

std::string CatchPortError(const std::function<void()>& step) {
    try {
        step();
    } catch (const EComPortError& e) {
        return e.what();
    }
    return "no error";
}

TEST_F(TransferTest, StartSendsTheBurstAndLeavesTheMismatchFigureAlone) {
    SetPattern(512);
    // A first transfer that counted mismatches and got somewhere, then stopped.
    T.Start();
    Replies({0x05, 0xF4, 0x05, 0x06, 0x05, 0x06, 0x05, 0xF4});
    ASSERT_EQ(T.ErrCount(), 2);
    ASSERT_EQ(T.Offset(), 32);
    T.Stop();
    Port.Writes.clear();
    const std::size_t mark = Win.Ops.size();
    T.Btn_z_zelkClick();
    EXPECT_EQ(Win.OpsSince(mark),
              (std::vector<std::string>{"caption: СТОП", "caption: СТОП", "pbar max: 512", "panel1: Отправка"}));
    EXPECT_EQ(Port.Writes, (std::vector<Bytes>{{0x55, 0x55, 0x55}}));
    EXPECT_EQ(T.State(), TState::WaitHeaderReq);
    EXPECT_EQ(T.ErrCount(), 0);
    EXPECT_EQ(T.Offset(), 0);
}

TEST_F(TransferTest, RejectedHeaderAndDataPacketsGoOutAgainUnchanged) {
    SetPattern(768);
    T.Btn_z_zelkClick();
    Replies(CleanReplies(1));
    Replies({0x05, 0xF4});  // second page header rejected
    EXPECT_EQ(T.State(), TState::WaitHeaderReq);
    Replies({0x05});
    ASSERT_EQ(Port.Writes.size(), 12u);
    EXPECT_EQ(Port.Writes[11], Port.Writes[10]);
    EXPECT_EQ(Port.Writes[11][2], 0x07 - 1);  // S + 2*3 - 1
    Replies({0x06, 0x05, 0x06, 0x05, 0xF4});  // second data packet rejected
    EXPECT_EQ(T.State(), TState::WaitDataReq);
    Replies({0x05});
    ASSERT_EQ(Port.Writes.size(), 15u);
    EXPECT_EQ(Port.Writes[14], Port.Writes[13]);
    EXPECT_EQ(Port.Writes[14], DataPacket(1, 0x06, &T.Image()[256 + 32]));
    EXPECT_EQ(T.ErrCount(), 2);
    Replies({0x06});
    for (int j = 2; j < 8; ++j) Replies({0x05, 0x06});
    Replies(CleanReplies(1));
    EXPECT_EQ(T.State(), TState::Idle);
    EXPECT_EQ(Port.Writes.size(), 1u + 3 * 9 + 2);
    EXPECT_EQ(Win.ErrCountTexts(), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(Win.Ops.back(), "flash: green");
}

// Replies that arrive together ("06 05" through a USB adapter or from a busy
// host) are each a step of their own, in order.
TEST_F(TransferTest, EveryByteOfAChunkIsAReplyOfItsOwn) {
    SetPattern(512);
    T.Btn_z_zelkClick();
    Replies({0x05, 0x06, 0x05});
    Chunk({0x06, 0x05});
    EXPECT_EQ(T.State(), TState::WaitDataAck);
    ASSERT_EQ(Port.Writes.size(), 4u);
    EXPECT_EQ(Port.Writes[3], DataPacket(1, 0x05, &T.Image()[32]));
    Chunk({0xF4, 0x05});
    ASSERT_EQ(Port.Writes.size(), 5u);
    EXPECT_EQ(Port.Writes[4], Port.Writes[3]);
    EXPECT_EQ(T.ErrCount(), 1);
    while (Port.Writes.size() < 20) Chunk({0x06, 0x05});  // burst, 18 packets, one again
    EXPECT_EQ(T.State(), TState::WaitDataAck);
    const std::size_t mark = Win.Ops.size();
    Chunk({0x06, 0x05});  // the last packet accepted: the 05 finds the transfer ended
    EXPECT_EQ(Port.Writes.size(), 20u);
    EXPECT_EQ(T.State(), TState::Idle);
    EXPECT_EQ(Win.OpsSince(mark),
              (std::vector<std::string>{"pbar: 512", "panel1: Отправка Завершена.", "caption: РС -> ЗЕЛК", "flash: green"}));

    T.Btn_z_zelkClick();
    Replies({0x05, 0x06, 0x05});
    Chunk({0x06, 0x42, 0x05});  // fails on the 42; the 05 after it is ignored
    EXPECT_EQ(T.State(), TState::Idle);
    EXPECT_EQ(Win.OpsSince(Win.Ops.size() - 3), kErrorOps);
    EXPECT_EQ(Port.Writes.size(), 23u);
}

TEST_F(TransferTest, ALongChunkDrivesAsManyStepsAsItHoldsBytes) {
    SetPattern(65536);
    TFakeWindow win;
    TFakePort port;
    TTransfer oneByOne(win, port);
    std::copy(T.Image().begin(), T.Image().end(), oneByOne.Image().begin());
    oneByOne.SetFileLen(T.FileLen());
    T.Btn_z_zelkClick();
    oneByOne.Btn_z_zelkClick();
    const Bytes replies = CleanReplies(256);
    for (std::size_t at = 0; at < replies.size(); at += 250) {
        const Bytes chunk(replies.begin() + static_cast<long>(at),
                          replies.begin() + static_cast<long>(std::min(at + 250, replies.size())));
        Chunk(chunk);
        for (const std::uint8_t r : chunk) oneByOne.OnRead(Bytes{r});
        ASSERT_EQ(Port.Writes, port.Writes) << "after " << at + chunk.size() << " replies";
    }
    EXPECT_EQ(Port.Writes.size(), 1u + 256 * 9);
    EXPECT_EQ(Win.Ops.back(), "flash: green");
}

struct TUnexpected {
    const char* name;
    Bytes before;  // replies after the start burst
    TState state;
    std::uint8_t reply;
};

void PrintTo(const TUnexpected& u, std::ostream* os) { *os << u.name; }

class UnexpectedReplyTest : public TransferTest, public ::testing::WithParamInterface<TUnexpected> {};

TEST_P(UnexpectedReplyTest, EndsTheTransferAndLaterRepliesAreIgnored) {
    SetPattern(512);
    T.Btn_z_zelkClick();
    Replies(GetParam().before);
    ASSERT_EQ(T.State(), GetParam().state);
    const std::size_t mark = Win.Ops.size();
    const std::size_t writes = Port.Writes.size();
    Reply({GetParam().reply});
    EXPECT_EQ(Win.OpsSince(mark), kErrorOps);
    EXPECT_EQ(T.State(), TState::Idle);
    Replies({0x05, 0x06, 0x05});
    EXPECT_EQ(Port.Writes.size(), writes);
    EXPECT_EQ(Win.Ops.size(), mark + kErrorOps.size());
}

const Bytes kFirstPage = CleanReplies(1);

INSTANTIATE_TEST_SUITE_P(
    EachWaitingState, UnexpectedReplyTest,
    ::testing::Values(TUnexpected{"HeaderReqAck", {}, TState::WaitHeaderReq, 0x06},
                      TUnexpected{"HeaderReqMismatch", {}, TState::WaitHeaderReq, 0xF4},
                      TUnexpected{"HeaderReqGarbage", {}, TState::WaitHeaderReq, 0x00},
                      TUnexpected{"HeaderAckRequest", {0x05}, TState::WaitHeaderAck, 0x05},
                      TUnexpected{"HeaderAckGarbage", {0x05}, TState::WaitHeaderAck, 0x55},
                      TUnexpected{"DataReqAck", {0x05, 0x06}, TState::WaitDataReq, 0x06},
                      TUnexpected{"DataReqMismatch", {0x05, 0x06}, TState::WaitDataReq, 0xF4},
                      TUnexpected{"DataReqGarbage", {0x05, 0x06}, TState::WaitDataReq, 0xE6},
                      TUnexpected{"DataAckRequest", {0x05, 0x06, 0x05}, TState::WaitDataAck, 0x05},
                      TUnexpected{"DataAckGarbage", {0x05, 0x06, 0x05}, TState::WaitDataAck, 0xFF},
                      TUnexpected{"SecondHeaderReqAck", kFirstPage, TState::WaitHeaderReq, 0x06}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransferTest, EmptyFileWaitsForeverUntilStopped) {
    SetPattern(0);
    T.Btn_z_zelkClick();
    const std::size_t mark = Win.Ops.size();
    Replies({0x05, 0x05, 0x05});
    EXPECT_EQ(T.State(), TState::WaitHeaderReq);
    EXPECT_EQ(Port.Writes.size(), 1u);
    EXPECT_EQ(Win.OpsSince(0)[2], "pbar max: 0");
    T.Btn_z_zelkClick();
    EXPECT_EQ(Win.OpsSince(mark), kStopOps);
    EXPECT_EQ(T.State(), TState::Idle);
}

TEST_F(TransferTest, StopEndsTheTransferAtOnceAndLaterRepliesAreIgnored) {
    SetPattern(512);
    T.Btn_z_zelkClick();
    Replies({0x05, 0x06, 0x05});
    const std::size_t mark = Win.Ops.size();
    T.Btn_z_zelkClick();
    EXPECT_EQ(Win.OpsSince(mark), kStopOps);
    EXPECT_EQ(T.State(), TState::Idle);
    Replies({0x06, 0x05, 0xF4, 0x05, 0x00});
    EXPECT_EQ(Port.Writes.size(), 3u);
    EXPECT_EQ(Win.Ops.size(), mark + kStopOps.size());
    EXPECT_EQ(T.Offset(), 0);
}

// The send button decides between the two; called on their own, a start
// while one runs and a stop while none runs change nothing and say nothing.
TEST_F(TransferTest, StartWhileRunningAndStopWhileIdleDoNothing) {
    SetPattern(512);
    T.Stop();
    EXPECT_TRUE(Win.Ops.empty());
    T.Start();
    Replies({0x05, 0xF4, 0x05, 0x06, 0x05, 0x06});
    const std::size_t mark = Win.Ops.size();
    const std::size_t writes = Port.Writes.size();
    T.Start();
    EXPECT_TRUE(Win.OpsSince(mark).empty());
    EXPECT_EQ(Port.Writes.size(), writes);
    EXPECT_EQ(T.State(), TState::WaitDataReq);
    EXPECT_EQ(T.Offset(), 32);
    EXPECT_EQ(T.ErrCount(), 1);
    T.Stop();
    T.Stop();
    EXPECT_EQ(Win.OpsSince(mark), kStopOps);
}

TEST_F(TransferTest, RejectionsInARowCountOnlyRepeatsOfOnePacket) {
    TMismatchLog events(Win);
    TTransfer t(events, Port);
    t.SetFileLen(512);
    t.Start();
    const auto replies = [&](const Bytes& bytes) {
        for (const std::uint8_t r : bytes) t.OnRead(Bytes{r});
    };
    replies({0x05, 0xF4, 0x05, 0xF4});  // the header twice
    replies({0x05, 0x06});              // taken: the next packet starts afresh
    replies({0x05, 0xF4});
    replies({0x05, 0x06, 0x05, 0xF4});  // data packet 0 taken, data packet 1 rejected
    EXPECT_EQ(events.Mismatches, (std::vector<std::pair<int, int>>{{1, 1}, {2, 2}, {3, 1}, {4, 1}}));
    EXPECT_EQ(t.ErrCount(), 4);
    t.Stop();
    t.Start();
    EXPECT_EQ(t.ErrCount(), 0);
    replies({0x05, 0xF4});
    EXPECT_EQ(events.Mismatches.back(), std::make_pair(1, 1));
}

TEST_F(TransferTest, MismatchCountStartsAgainWithEachTransfer) {
    SetPattern(512);
    T.Btn_z_zelkClick();
    Replies({0x05, 0xF4, 0x05, 0xF4});
    EXPECT_EQ(Win.Ops.back(), "errors: 2");
    T.Btn_z_zelkClick();
    const std::size_t mark = Win.Ops.size();
    T.Btn_z_zelkClick();
    EXPECT_EQ(T.ErrCount(), 0);
    Replies({0x05, 0x06, 0x05, 0xF4});
    EXPECT_EQ(Win.ErrCountTexts(mark), std::vector<std::string>{"1"});
}

TEST_F(TransferTest, WriteErrorAtStartLeavesTheStartStepForTheNextChunk) {
    SetPattern(256);
    Port.Mode = TFakePort::TMode::Failing;
    EXPECT_EQ(CatchPortError([&] { T.Btn_z_zelkClick(); }), "Error writing port COM1");
    EXPECT_EQ(T.State(), TState::Start);
    EXPECT_EQ(Win.Caption, texts::kStopCaption);
    Port.Mode = TFakePort::TMode::Open;
    Reply({0x42});
    EXPECT_EQ(Port.Writes, (std::vector<Bytes>{{0x55, 0x55, 0x55}}));
    EXPECT_EQ(T.State(), TState::WaitHeaderReq);
}

TEST_F(TransferTest, WriteErrorFromAChunkPassesOutAndTheTransferStaysWhereItWas) {
    for (const Bytes& before : {Bytes{}, Bytes{0x05, 0x06}}) {
        TFakeWindow win;
        TFakePort port;
        TTransfer t(win, port);
        t.SetFileLen(256);
        t.Btn_z_zelkClick();
        for (std::uint8_t r : before) t.OnRead(Bytes{r});
        const TState state = t.State();
        const std::size_t mark = win.Ops.size();
        port.Mode = TFakePort::TMode::Failing;
        EXPECT_EQ(CatchPortError([&] { t.OnRead(Bytes{0x05}); }), "Error writing port COM1");
        EXPECT_EQ(t.State(), state);
        EXPECT_EQ(win.Caption, texts::kStopCaption);
        EXPECT_EQ(win.Ops.size(), mark);
        port.Mode = TFakePort::TMode::Open;  // the port opened again: the transfer goes on
        t.OnRead(Bytes{0x05});
        EXPECT_EQ(port.Writes.size(), 1 + before.size() / 2 + 1);
    }
}

TEST_F(TransferTest, WithoutAPortEveryDuePacketReportsAndTheStepGoesOn) {
    SetPattern(256);
    Port.Mode = TFakePort::TMode::Closed;
    T.Btn_z_zelkClick();
    EXPECT_EQ(T.State(), TState::WaitHeaderReq);
    Replies(CleanReplies(1));
    const std::string noPort = "panel0: Ошибка призаписи в порт!";
    EXPECT_EQ(std::count(Win.Ops.begin(), Win.Ops.end(), noPort), 10);
    EXPECT_EQ(Win.Ops[4], noPort);
    EXPECT_EQ(Win.Ops.back(), "flash: green");
    EXPECT_TRUE(Port.Writes.empty());
}

}  // namespace
}  // namespace zelk::test
