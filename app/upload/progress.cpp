// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "progress.h"

#include <cmath>
#include <cstdio>

#include "messages.h"

namespace zelk::upload {

std::string FormatProgress(int sent, int total, double elapsedSeconds, int errors) {
    const int percent = total > 0 ? static_cast<int>(100LL * sent / total) : 100;
    const double rate = elapsedSeconds > 0 ? sent / elapsedSeconds : 0;
    char left[32] = "-:--";
    if (rate > 0) {
        const long secs = std::lround((total - sent) / rate);
        std::snprintf(left, sizeof left, "%ld:%02ld", secs / 60, secs % 60);
    }
    char percentText[8], rateText[32];
    std::snprintf(percentText, sizeof percentText, "%3d", percent);
    std::snprintf(rateText, sizeof rateText, "%.1f", rate / 1024.0);
    return Fill(P_("{1}/{2} byte {3}%  {4} KiB/s  {5} left  checksum errors: {6}",
                   "{1}/{2} bytes {3}%  {4} KiB/s  {5} left  checksum errors: {6}", total),
                {std::to_string(sent), std::to_string(total), percentText, rateText, left, std::to_string(errors)});
}

TProgressPrinter::TProgressPrinter(std::ostream& out, bool terminal, std::function<TClock::time_point()> now)
    : out_(out), terminal_(terminal), now_(std::move(now)) {}

void TProgressPrinter::Start(int total) {
    total_ = total;
    started_ = now_();
    lastTenth_ = -1;
    Update(0, 0);
}

void TProgressPrinter::Update(int sent, int errors) {
    sent_ = sent;
    errors_ = errors;
    if (terminal_) {
        const auto now = now_();
        if (drawn_ && sent < total_ && now - lastDrawn_ < std::chrono::milliseconds(100)) return;
        lastDrawn_ = now;
        Print(sent, errors);
        return;
    }
    // A line at every tenth, and one when mismatches were counted since the
    // last line (at most one a second, so that a bad cable does not flood a log).
    const int tenth = total_ > 0 ? static_cast<int>(10LL * sent / total_) : 10;
    const bool newErrors = errors != printedErrors_ && now_() - lastDrawn_ >= std::chrono::seconds(1);
    if (tenth == lastTenth_ && !newErrors) return;
    lastTenth_ = tenth;
    Print(sent, errors);
}

void TProgressPrinter::Finish() {
    if (!drawn_) return;
    if (terminal_) {
        Print(sent_, errors_);
        out_ << '\n' << std::flush;
        drawn_ = false;
    } else if (sent_ != printedSent_ || errors_ != printedErrors_) {
        Print(sent_, errors_);  // the last line tells how it stood at the end
    }
}

void TProgressPrinter::Print(int sent, int errors) {
    const double elapsed = std::chrono::duration<double>(now_() - started_).count();
    const std::string line = FormatProgress(sent, total_, elapsed, errors);
    if (terminal_)
        out_ << "\r\033[K" << line << std::flush;
    else
        out_ << line << '\n' << std::flush;
    drawn_ = true;
    lastDrawn_ = now_();
    printedSent_ = sent;
    printedErrors_ = errors;
}

}  // namespace zelk::upload
