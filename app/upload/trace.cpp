// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "trace.h"

#include <cstdio>

namespace zelk::upload {

std::string FormatTraceLine(double seconds, char direction, std::span<const std::uint8_t> bytes) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "+%.6f %c", seconds, direction);
    std::string line = stamp;
    for (const std::uint8_t byte : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", byte);
        line += hex;
    }
    if (bytes.size() != 1) line += " (" + std::to_string(bytes.size()) + " bytes)";
    return line;
}

TTracer::TTracer(std::vector<std::ostream*> outs, std::function<TClock::time_point()> now)
    : outs_(std::move(outs)), now_(std::move(now)), started_(now_()) {}

void TTracer::Line(char direction, std::span<const std::uint8_t> bytes) {
    if (outs_.empty()) return;
    const double seconds = std::chrono::duration<double>(now_() - started_).count();
    const std::string line = FormatTraceLine(seconds, direction, bytes);
    // Flushed: a trace for a bug report is worth most when the upload hangs or crashes.
    for (std::ostream* out : outs_) *out << line << std::endl;
}

}  // namespace zelk::upload
