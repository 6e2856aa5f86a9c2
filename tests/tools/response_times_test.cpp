// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// The emulator's response times stay bounded for a host that talks for days,
// and what the summary reports from them stays right.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tools/emulator/response_times.h"

namespace zelk::emu {
namespace {

using namespace std::chrono_literals;
using TTime = TResponseTimes::TTime;

// Up to kKept times every figure is exact: the nearest rank of all of them.
TEST(ResponseTimes, AreExactWhileAllAreKept) {
    TResponseTimes times;
    EXPECT_EQ(times.Percentile(0.5), 0ns);
    std::vector<TTime> all;
    for (std::size_t i = 0; i < TResponseTimes::kKept; ++i) all.push_back(TTime((i * 7919) % 10007 + 100));
    for (const TTime t : all) times.Add(t);
    std::sort(all.begin(), all.end());
    EXPECT_FALSE(times.Sampled());
    EXPECT_EQ(times.Count(), all.size());
    EXPECT_EQ(times.Min(), all.front());
    EXPECT_EQ(times.Max(), all.back());
    EXPECT_EQ(times.Percentile(0.5), all[all.size() / 2 - 1]);
    EXPECT_EQ(times.Percentile(0.99), all[(all.size() * 99 + 99) / 100 - 1]);
    EXPECT_EQ(times.Percentile(1.0), all.back());
}

// Ten million packets, 100..1099 us in a shuffled cycle with one slow reply:
// the times kept stay at kKept, count, least, greatest and mean stay exact,
// the percentiles within 3 % of the truth.
TEST(ResponseTimes, StayBoundedAndRightForAHostThatTalksForDays) {
    TResponseTimes times;
    constexpr int kCount = 10'000'000;
    for (int i = 0; i < kCount; ++i) times.Add(TTime(100'000 + (i * 379LL % 1000) * 1000));
    times.Add(5s);
    EXPECT_TRUE(times.Sampled());
    EXPECT_EQ(times.Kept().size(), TResponseTimes::kKept);
    EXPECT_EQ(times.Count(), kCount + 1u);
    EXPECT_EQ(times.Min(), 100us);
    EXPECT_EQ(times.Max(), 5s);
    EXPECT_EQ(times.Total(), 599'500us * kCount / 1000 + 5s);
    const auto micros = [&](double p) { return std::chrono::duration<double, std::micro>(times.Percentile(p)).count(); };
    EXPECT_NEAR(micros(0.5), 599.5, 18.0);
    EXPECT_NEAR(micros(0.99), 1089.0, 33.0);
}

}  // namespace
}  // namespace zelk::emu
