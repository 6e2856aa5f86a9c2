// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "tools/emulator/response_times.h"

#include <algorithm>
#include <cmath>

namespace zelk::emu {

void TResponseTimes::Add(TTime time) {
    min_ = count_ == 0 ? time : std::min(min_, time);
    max_ = count_ == 0 ? time : std::max(max_, time);
    total_ += time;
    ++count_;
    if (kept_.size() < kKept) {
        kept_.push_back(time);
        return;
    }
    // The count_-th time takes a kept one's place with probability kKept / count_.
    random_ ^= random_ << 13;  // xorshift64
    random_ ^= random_ >> 7;
    random_ ^= random_ << 17;
    if (const std::uint64_t slot = random_ % count_; slot < kKept) kept_[slot] = time;
}

TResponseTimes::TTime TResponseTimes::Percentile(double p) const {
    if (kept_.empty()) return TTime{0};
    std::vector<TTime> sorted(kept_.begin(), kept_.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(sorted.size())));
    const auto at = sorted.begin() + static_cast<std::ptrdiff_t>(std::clamp<std::size_t>(rank, 1, sorted.size()) - 1);
    std::nth_element(sorted.begin(), at, sorted.end());
    return *at;
}

}  // namespace zelk::emu
