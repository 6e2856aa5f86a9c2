// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <vector>

namespace zelk {

// How late the device's replies come. Many USB serial adapters hold received
// bytes back until their latency timer runs out (16 ms on FTDI chips unless
// the driver is asked for low latency); a stop-and-wait upload then spends
// most of its time waiting. The delay of a reply is the time from handing a
// packet to the port to its reply, less the time both take on the wire at
// the line's rate; a device answers well within a millisecond.
class TReplyDelayMeter {
public:
    using TClock = std::chrono::steady_clock;
    static constexpr std::size_t kPackets = 100;         // the median is taken over the first this many
    static constexpr double kSlowMilliseconds = 4.0;  // a median above this is named

    explicit TReplyDelayMeter(int baud) : baud_(baud) {}

    // A packet of this many bytes went to the port.
    void Sent(TClock::time_point at, std::size_t bytes);
    // Bytes came. Once the first kPackets replies are timed, returns their
    // median delay in milliseconds if it is above kSlowMilliseconds; this
    // happens at most once per upload.
    std::optional<double> Replied(TClock::time_point at);

    // Seconds a whole 64 KiB upload takes on the wire at the line's rate,
    // with every packet's request and reply late by delayMs.
    double UploadSeconds(double delayMs) const;
    // The first kPackets replies are timed: Replied has said what it had to.
    bool Decided() const { return decided_; }

private:
    double WireSeconds(std::size_t bytes) const { return baud_ > 0 ? static_cast<double>(bytes) * 10.0 / baud_ : 0; }

    const int baud_;
    std::optional<TClock::time_point> sentAt_;
    std::size_t sentBytes_ = 0;
    std::vector<double> delays_;  // milliseconds
    bool decided_ = false;
};

}  // namespace zelk
