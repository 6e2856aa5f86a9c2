// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace zelk::upload {

// "+0.123456 > E6 00 01 ... (36 bytes)", "+0.124001 < 05": what went out and
// came in over the port, timed from the tracer's start.
std::string FormatTraceLine(double seconds, char direction, std::span<const std::uint8_t> bytes);

// Writes that trace to each of its streams (stderr for --verbose, the --log
// file); with none it does nothing.
class TTracer {
public:
    using TClock = std::chrono::steady_clock;

    explicit TTracer(std::vector<std::ostream*> outs, std::function<TClock::time_point()> now = TClock::now);

    void Sent(std::span<const std::uint8_t> bytes) { Line('>', bytes); }
    void Received(std::span<const std::uint8_t> bytes) { Line('<', bytes); }

private:
    void Line(char direction, std::span<const std::uint8_t> bytes);

    std::vector<std::ostream*> outs_;
    std::function<TClock::time_point()> now_;
    TClock::time_point started_;
};

}  // namespace zelk::upload
