// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zelk::emu {

// The host's response times of one upload, in bounded memory however long
// the host talks: the count, least, greatest and total are exact; the
// percentiles come from the times kept, which are all of them up to kKept
// and from then on a uniform sample of kKept (reservoir sampling, with a
// fixed seed so that a run can be repeated).
class TResponseTimes {
public:
    using TTime = std::chrono::nanoseconds;
    // More than the 2,304 packets of a 64 KiB upload without a resend.
    static constexpr std::size_t kKept = 4096;

    void Add(TTime time);

    std::uint64_t Count() const { return count_; }
    bool Empty() const { return count_ == 0; }
    TTime Min() const { return min_; }
    TTime Max() const { return max_; }
    TTime Total() const { return total_; }
    TTime Mean() const { return count_ == 0 ? TTime{0} : total_ / static_cast<std::int64_t>(count_); }
    // The nearest-rank percentile p (0 < p <= 1) of the times kept: exact
    // while Sampled() is false. Zero when there are none.
    TTime Percentile(double p) const;
    // More times came than are kept.
    bool Sampled() const { return count_ > kept_.size(); }
    std::span<const TTime> Kept() const { return kept_; }

private:
    std::vector<TTime> kept_;
    std::uint64_t count_ = 0;
    TTime min_{0};
    TTime max_{0};
    TTime total_{0};
    std::uint64_t random_ = 0x9E3779B97F4A7C15ULL;
};

}  // namespace zelk::emu
