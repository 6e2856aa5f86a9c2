// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <chrono>
#include <functional>
#include <ostream>
#include <string>

namespace zelk::upload {

// "12288/65536 bytes  18%  10.9 KiB/s  0:05 left  checksum errors: 2"
std::string FormatProgress(int sent, int total, double elapsedSeconds, int errors);

// Progress on stderr: redrawn in place on a terminal (at most ten times a
// second), and as a plain line at every tenth of the way otherwise, and when
// mismatches were counted (at most once a second).
class TProgressPrinter {
public:
    using TClock = std::chrono::steady_clock;

    TProgressPrinter(std::ostream& out, bool terminal, std::function<TClock::time_point()> now = TClock::now);

    void Start(int total);
    void Update(int sent, int errors);
    // Ends the in-place line so that what follows starts on a line of its own.
    void Finish();

private:
    void Print(int sent, int errors);

    std::ostream& out_;
    const bool terminal_;
    std::function<TClock::time_point()> now_;
    TClock::time_point started_{};
    TClock::time_point lastDrawn_{};
    int total_ = 0;
    int lastTenth_ = -1;
    int sent_ = 0;
    int errors_ = 0;
    int printedSent_ = -1;  // what the last line showed
    int printedErrors_ = 0;
    bool drawn_ = false;
};

}  // namespace zelk::upload
