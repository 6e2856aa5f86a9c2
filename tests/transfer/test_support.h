// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "serial/port_error.h"
#include "support/packets.h"
#include "support/temp_dir.h"
#include "transfer/port_link.h"
#include "transfer/transfer.h"
#include "window/texts.h"
#include "window/transfer_view.h"
#include "window/window_ops.h"

namespace zelk::test {

using Bytes = TBytes;

// Records every window operation, in order, as one readable line. A transfer
// reaches it through the window's own view of its events.
class TFakeWindow : public TWindowOps {
public:
    TFakeWindow() = default;
    TFakeWindow(const TFakeWindow&) = delete;
    TFakeWindow& operator=(const TFakeWindow&) = delete;
    operator TTransferEvents&() { return view_; }

    std::string StartBox = "0100h";
    std::string Caption = texts::kSendCaption;
    std::vector<std::string> Ops;

    std::string StartBoxText() const override { return StartBox; }
    void SetStatusText(int panel, const std::string& text) override {
        Ops.push_back("panel" + std::to_string(panel) + ": " + text);
    }
    std::string ZelkCaption() const override { return Caption; }
    void SetZelkCaption(const std::string& caption) override {
        Caption = caption;
        Ops.push_back("caption: " + caption);
    }
    void SetPBarMax(int max) override { Ops.push_back("pbar max: " + std::to_string(max)); }
    void SetPBarPosition(int position) override { Ops.push_back("pbar: " + std::to_string(position)); }
    void SetErrCountText(const std::string& text) override { Ops.push_back("errors: " + text); }
    void FlashStatus(bool failed) override { Ops.push_back(failed ? "flash: red" : "flash: green"); }

    std::vector<std::string> OpsSince(std::size_t mark) const { return {Ops.begin() + static_cast<long>(mark), Ops.end()}; }
    TTransferView view_{*this};

    // The mismatch figures shown since `mark`.
    std::vector<std::string> ErrCountTexts(std::size_t mark = 0) const {
        std::vector<std::string> shown;
        for (const std::string& op : OpsSince(mark))
            if (op.starts_with("errors: ")) shown.push_back(op.substr(8));
        return shown;
    }
};

// Passes a transfer's events on to the window and keeps the mismatch reports
// (total, in a row), which the window shows only in part.
class TMismatchLog : public TTransferEvents {
public:
    explicit TMismatchLog(TTransferEvents& next) : next_(next) {}
    std::vector<std::pair<int, int>> Mismatches;

    std::string StartText() const override { return next_.StartText(); }
    void Starting() override { next_.Starting(); }
    void Started(std::int32_t total) override { next_.Started(total); }
    void Progress(std::int32_t sent) override { next_.Progress(sent); }
    void ChecksumMismatch(std::int32_t total, std::int32_t inARow) override {
        Mismatches.emplace_back(total, inARow);
        next_.ChecksumMismatch(total, inARow);
    }
    void Finished(TOutcome outcome) override { next_.Finished(outcome); }
    void NoPort() override { next_.NoPort(); }

private:
    TTransferEvents& next_;
};

// Records every write; can stand for a closed port or a port that fails.
class TFakePort : public TPortLink {
public:
    enum class TMode { Open, Closed, Failing };
    TMode Mode = TMode::Open;
    std::vector<Bytes> Writes;

    bool Write(std::span<const std::uint8_t> bytes) override {
        if (Mode == TMode::Failing) throw EComPortError("Error writing port COM1");
        if (Mode == TMode::Closed) return false;
        Writes.emplace_back(bytes.begin(), bytes.end());
        return true;
    }
};

// The replies of a device that takes every packet at once, for `pages` pages.
inline Bytes CleanReplies(int pages) {
    Bytes r;
    for (int k = 0; k < pages * 9; ++k) r.insert(r.end(), {0x05, 0x06});
    return r;
}

class TransferTest : public ::testing::Test {
protected:
    void Reply(std::initializer_list<std::uint8_t> chunk) { Chunk(Bytes(chunk)); }
    void Chunk(const Bytes& chunk) { T.OnRead(chunk); }
    void Replies(const Bytes& replies) {
        for (std::uint8_t r : replies) Reply({r});
    }
    // An image of `fileLen` bytes that differ from page to page and piece to piece.
    void SetPattern(std::int32_t fileLen) {
        for (std::size_t i = 0; i < T.Image().size(); ++i) T.Image()[i] = static_cast<std::uint8_t>(i * 7 + i / 256 + 3);
        T.SetFileLen(fileLen);
    }

    TFakeWindow Win;
    TFakePort Port;
    TTransfer T{Win, Port};
};

}  // namespace zelk::test
