// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/test_files.h"
#include "window/window_logic.h"

namespace zelk::test {

// A face that records what the logic asks of it and keeps the state as drawn.
class TFakeFace : public TWindowFace {
public:
    void Show(const TWindowState& state, unsigned changes) override {
        Drawn = state;
        Changes.push_back(changes);
    }
    void ShowError(const TErrorReport& report) override { Errors.push_back(report); }
    void ShowAbout() override { ++AboutShown; }
    std::optional<std::string> ChooseFile() override {
        ++Dialogs;
        if (WhileOpen) WhileOpen();
        if (Answers.empty()) ADD_FAILURE() << "the file dialog ran unexpectedly";
        if (Answers.empty()) return std::nullopt;
        std::optional<std::string> answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
    void ClearChosenFile() override { ++Clears; }
    void StartFlashTimer() override {
        TimerRunning = true;
        ++TimerStarts;
    }
    void StopFlashTimer() override { TimerRunning = false; }

    TWindowState Drawn;
    std::vector<unsigned> Changes;
    std::vector<TErrorReport> Errors;
    int AboutShown = 0;
    std::deque<std::optional<std::string>> Answers;
    std::function<void()> WhileOpen;  // what happens while the dialog is open
    int Dialogs = 0;
    int Clears = 0;
    bool TimerRunning = false;
    int TimerStarts = 0;
};

// A port that records what is written; the test plays the device through
// the calls the logic gave it.
struct TFakeLine {
    int Opened = 0;
    int Number = 0;
    int Baud = 0;
    bool Open = false;
    std::vector<std::vector<std::uint8_t>> Writes;
    TPortCalls Calls;
    std::optional<EComPortError> OpenError;   // the next open throws it
    std::optional<EComPortError> WriteError;  // every write throws it

    void Reply(std::initializer_list<std::uint8_t> bytes) {
        const std::vector<std::uint8_t> chunk(bytes);
        Calls.OnRead(chunk);
    }
};

class TFakePort : public TWindowPort {
public:
    explicit TFakePort(TFakeLine& line) : line_(line) { line_.Open = true; }
    ~TFakePort() override { line_.Open = false; }
    void Write(std::span<const std::uint8_t> bytes) override {
        if (line_.WriteError) throw *line_.WriteError;
        line_.Writes.emplace_back(bytes.begin(), bytes.end());
    }

private:
    TFakeLine& line_;
};

inline TPortFactory FakePorts(TFakeLine& line) {
    return [&line](int number, int baud, TPortCalls calls) -> std::unique_ptr<TWindowPort> {
        if (line.OpenError) {
            const EComPortError error = *line.OpenError;
            line.OpenError.reset();
            throw error;
        }
        ++line.Opened;
        line.Number = number;
        line.Baud = baud;
        line.Calls = std::move(calls);
        return std::make_unique<TFakePort>(line);
    };
}

}  // namespace zelk::test
