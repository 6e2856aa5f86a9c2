// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "transfer/reply_delay.h"

#include <algorithm>

namespace zelk {

void TReplyDelayMeter::Sent(TClock::time_point at, std::size_t bytes) {
    if (decided_) return;
    sentAt_ = at;
    sentBytes_ = bytes;
}

std::optional<double> TReplyDelayMeter::Replied(TClock::time_point at) {
    if (decided_ || !sentAt_) return std::nullopt;
    // The packet, then a one-byte reply, cross the line before the reply is here.
    const double wire = WireSeconds(sentBytes_ + 1) * 1000.0;
    const double took = std::chrono::duration<double, std::milli>(at - *sentAt_).count();
    delays_.push_back(std::max(0.0, took - wire));
    sentAt_.reset();
    if (delays_.size() < kPackets) return std::nullopt;
    decided_ = true;
    std::nth_element(delays_.begin(), delays_.begin() + kPackets / 2, delays_.end());
    const double median = delays_[kPackets / 2];
    delays_ = {};
    if (median > kSlowMilliseconds) return median;
    return std::nullopt;
}

double TReplyDelayMeter::UploadSeconds(double delayMs) const {
    // 256 pages of a header and eight data packets: 2,304 packets, each a
    // request, 36 bytes and a reply.
    constexpr int kPacketsIn64K = 256 * 9;
    return kPacketsIn64K * (WireSeconds(38) + 2 * delayMs / 1000.0);
}

}  // namespace zelk
