// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// The device's checks and bookkeeping without a terminal: TDeviceModel, fed
// packets directly, as zelk-emu and the host-stream fuzz target feed it.

#include "tools/emulator/device_model.h"

#include <gtest/gtest.h>

#include "host_script.h"

namespace zelk::emu::test {
namespace {

TDeviceModel::TPacket AsPacket(const TBytes& bytes) {
    TDeviceModel::TPacket p{};
    std::copy(bytes.begin(), bytes.end(), p.begin());
    return p;
}

TBytes Reply(const TDeviceModel::TStep& step) { return TBytes(step.Reply().begin(), step.Reply().end()); }

TEST(DeviceModel, AcceptsEveryPacketOfAnUploadAndRebuildsTheImage) {
    const TBytes image = TestImage(512, 0x10);
    const TEmulatorOptions options;
    TUploadResult r;
    TDeviceModel model(options, r);
    const auto packets = PacketsFor(image, 0x10);
    for (std::size_t i = 0; i < packets.size(); ++i) {
        const auto step = model.Packet(AsPacket(packets[i]));
        EXPECT_EQ(Reply(step), TBytes{kAcceptByte}) << "packet " << i;
        EXPECT_EQ(step.Ended, i + 1 == packets.size()) << "packet " << i;
    }
    EXPECT_EQ(r.Outcome, TOutcome::Completed);
    EXPECT_EQ(r.Pages, 2);
    EXPECT_EQ(r.PacketsReceived, 18);
    EXPECT_EQ(r.PacketsAccepted, 18);
    EXPECT_EQ(r.Bytes, image);
}

TEST(DeviceModel, InjectedFaultsAnswerAsConfigured) {
    const TBytes image = TestImage(256, 1);
    const auto packets = PacketsFor(image, 1);
    TEmulatorOptions options;
    options.RejectPackets = {2};
    options.AckWithRequestAt = 3;
    options.UnexpectedReplyAt = 5;
    TUploadResult r;
    TDeviceModel model(options, r);
    EXPECT_EQ(Reply(model.Packet(AsPacket(packets[0]))), TBytes{kAcceptByte});
    EXPECT_EQ(Reply(model.Packet(AsPacket(packets[1]))), TBytes{kRejectByte});
    const auto withRequest = model.Packet(AsPacket(packets[1]));
    EXPECT_EQ(Reply(withRequest), (TBytes{kAcceptByte, kRequestByte}));
    EXPECT_TRUE(withRequest.RequestSent);
    EXPECT_EQ(Reply(model.Packet(AsPacket(packets[2]))), TBytes{kAcceptByte});
    const auto aborted = model.Packet(AsPacket(packets[3]));
    EXPECT_EQ(Reply(aborted), TBytes{0x42});
    EXPECT_TRUE(aborted.Ended);
    EXPECT_EQ(r.Outcome, TOutcome::Aborted);
    EXPECT_EQ(r.PacketsReceived, 5);
    EXPECT_EQ(r.PacketsAccepted, 3);
    EXPECT_EQ(r.PacketsRejected, 1);
    EXPECT_EQ(r.ChecksumErrors, 0);
}

TEST(DeviceModel, ACutPacketAndABadOneEndTheUploadAsViolations) {
    const TEmulatorOptions options;
    {
        TUploadResult r;
        TDeviceModel model(options, r);
        const auto step = model.Incomplete(20);
        EXPECT_EQ(Reply(step), TBytes{kViolationByte});
        EXPECT_TRUE(step.Ended);
        EXPECT_EQ(r.Outcome, TOutcome::Violation);
        ASSERT_EQ(r.Violations.size(), 1u);
        EXPECT_EQ(r.Violations[0], "packet 1: only 20 of 36 bytes came");
    }
    {
        TUploadResult r;
        TDeviceModel model(options, r);
        TBytes bad = Packet(0, 0);
        bad[35] ^= 1;
        EXPECT_EQ(Reply(model.Packet(AsPacket(bad))), TBytes{kRejectByte});
        EXPECT_EQ(r.ChecksumErrors, 1);
        TBytes noSync = Packet(0, 0);
        noSync[0] = 0;
        EXPECT_EQ(Reply(model.Packet(AsPacket(noSync))), TBytes{kViolationByte});
        ASSERT_EQ(r.Violations.size(), 1u);
        EXPECT_EQ(r.Violations[0], "packet 2: sync byte 0x00 instead of 0xE6");
    }
}

}  // namespace
}  // namespace zelk::emu::test
