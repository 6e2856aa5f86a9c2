// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// The transfer core against the emulator, over a pseudo-terminal: the core's
// packets, as the emulator rebuilds them, give back the file.

#include <gtest/gtest.h>

#include <algorithm>

#include "host_script.h"
#include "tools/emulator/device_emulator.h"
#include "transfer/transfer.h"

namespace zelk::emu::test {
namespace {

using namespace std::chrono_literals;

class TWindow : public TTransferEvents {
public:
    explicit TWindow(std::string start) : start_(std::move(start)) {}
    std::string StartText() const override { return start_; }
    void Starting() override {}
    void Started(std::int32_t) override {}
    void Progress(std::int32_t sent) override { Position = sent; }
    void ChecksumMismatch(std::int32_t, std::int32_t) override {}
    void Finished(zelk::TOutcome outcome) override { Outcome = outcome; }
    void NoPort() override {}

    std::optional<zelk::TOutcome> Outcome;
    int Position = 0;

private:
    std::string start_;
};

class TPort : public TPortLink {
public:
    explicit TPort(THostPort& host) : host_(host) {}
    bool Write(std::span<const std::uint8_t> bytes) override {
        host_.Write(TBytes(bytes.begin(), bytes.end()));
        return true;
    }

private:
    THostPort& host_;
};

TEST(EmulatorWithTransfer, AgreeOnEveryByte) {
    const struct {
        int size;
        std::uint8_t s;
        std::set<int> reject;
    } cases[] = {{300, 0x01, {3, 12}}, {65535, 0x01, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        TDeviceEmulator emu({.RejectPackets = c.reject});
        THostPort host(emu.DevicePath());
        TWindow window("0100h");
        TPort port(host);
        TTransfer transfer(window, port);
        const TBytes file = TestImage(static_cast<std::size_t>(c.size), 9);
        std::copy(file.begin(), file.end(), transfer.Image().begin());
        transfer.SetFileLen(RoundFileLen(c.size));

        transfer.Btn_z_zelkClick();
        while (transfer.State() != TState::Idle) {
            const TBytes chunk = host.Read();
            ASSERT_FALSE(chunk.empty()) << "no reply within 10 s at offset " << transfer.Offset();
            transfer.OnRead(chunk);
        }
        EXPECT_EQ(window.Outcome, zelk::TOutcome::Done);
        EXPECT_EQ(window.Position, transfer.FileLen());
        EXPECT_EQ(transfer.ErrCount(), static_cast<int>(c.reject.size()));

        const std::optional<TUploadResult> r = emu.WaitResult(10s);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->Outcome, TOutcome::Completed) << FormatSummary(*r);
        EXPECT_EQ(r->StartPage, c.s);
        EXPECT_EQ(r->BlockCountByte, static_cast<std::uint8_t>(transfer.FileLen() / 256));
        EXPECT_EQ(r->PacketsRejected, static_cast<int>(c.reject.size()));
        EXPECT_EQ(r->ReRequests, 0);
        EXPECT_TRUE(r->Violations.empty()) << FormatSummary(*r);
        TBytes padded = file;
        padded.resize(static_cast<std::size_t>(transfer.FileLen()), 0);
        EXPECT_EQ(r->Bytes, padded);
    }
}

}  // namespace
}  // namespace zelk::emu::test
