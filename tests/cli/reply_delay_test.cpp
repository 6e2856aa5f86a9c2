// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// How late replies come, on a clock the test moves.

#include <gtest/gtest.h>

#include "transfer/reply_delay.h"

namespace zelk::upload::test {
namespace {

using namespace std::chrono_literals;
using TClock = TReplyDelayMeter::TClock;

// Plays packets exchanges of a 36-byte packet and a reply that comes delay(i) after it.
template <typename TDelay>
std::optional<double> Play(TReplyDelayMeter& meter, int packets, TDelay delay, int* namedAt = nullptr) {
    TClock::time_point now{};
    std::optional<double> named;
    for (int i = 0; i < packets; ++i) {
        meter.Sent(now, 36);
        now += delay(i);
        if (const auto late = meter.Replied(now)) {
            EXPECT_FALSE(named) << "named twice";
            named = late;
            if (namedAt) *namedAt = i;
        }
        now += 1ms;  // the next request
    }
    return named;
}

TEST(ReplyDelay, LateRepliesAreNamedOnceWithTheirMedianAfterTheFirstHundred) {
    TReplyDelayMeter meter(0);  // no wire time to take off
    int at = -1;
    // Mostly 16 ms, as an FTDI adapter's default latency timer holds them;
    // a few prompt ones and a few very late ones do not move the median.
    const auto named = Play(meter, 300, [](int i) { return i % 10 == 0 ? 100us : i % 10 == 1 ? 400ms : 16ms; }, &at);
    ASSERT_TRUE(named);
    EXPECT_DOUBLE_EQ(*named, 16.0);
    EXPECT_EQ(at, 99);
}

TEST(ReplyDelay, PromptRepliesAreNotNamed) {
    TReplyDelayMeter meter(0);
    EXPECT_FALSE(Play(meter, 300, [](int) { return 300us; }));
    // A third of them late (a busy machine) is not a slow adapter: the median tells.
    TReplyDelayMeter mixed(0);
    EXPECT_FALSE(Play(mixed, 300, [](int i) { return i % 3 == 0 ? 30ms : 1ms; }));
}

TEST(ReplyDelay, FewerThanAHundredPacketsDecideNothing) {
    TReplyDelayMeter meter(0);
    EXPECT_FALSE(Play(meter, 99, [](int) { return 20ms; }));
}

// At 9600 baud a packet and its reply take 38.5 ms on the wire: a reply that
// comes 40 ms after the packet went to the port is 1.5 ms late, which is fine.
TEST(ReplyDelay, TheLineTimeIsNotCountedAsDelay) {
    TReplyDelayMeter slowLine(9600);
    EXPECT_FALSE(Play(slowLine, 200, [](int) { return 40ms; }));
    TReplyDelayMeter heldBack(9600);
    const auto named = Play(heldBack, 200, [](int) { return 38541us + 16ms; });
    ASSERT_TRUE(named);
    EXPECT_NEAR(*named, 16.0, 0.01);
}

TEST(ReplyDelay, UploadTimeAddsTwoDelaysAPacket) {
    const TReplyDelayMeter meter(115200);
    // 2,304 packets of 38 bytes on the wire: 7.6 s; 16 ms each way adds 73.7 s.
    EXPECT_NEAR(meter.UploadSeconds(0), 7.6, 0.01);
    EXPECT_NEAR(meter.UploadSeconds(16), 7.6 + 73.728, 0.01);
}

}  // namespace
}  // namespace zelk::upload::test
