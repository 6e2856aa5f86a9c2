// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "tools/emulator/device_emulator.h"

#include <gtest/gtest.h>

#include "host_script.h"
#include "tools/emulator/sha256.h"

namespace zelk::emu::test {
namespace {

using namespace std::chrono_literals;

TUploadResult Result(TDeviceEmulator& emu) {
    std::optional<TUploadResult> r = emu.WaitResult(10s);
    if (!r) {
        ADD_FAILURE() << "no upload result within 10 s";
        return {};
    }
    return *r;
}

void ExpectRebuilt(const TUploadResult& r, const TBytes& image, std::uint8_t s) {
    EXPECT_EQ(r.Outcome, TOutcome::Completed) << FormatSummary(r);
    EXPECT_TRUE(r.HeaderSeen);
    EXPECT_EQ(r.StartPage, s);
    EXPECT_EQ(r.BlockCountByte, image.size() / 256);
    EXPECT_EQ(r.Pages, static_cast<int>(image.size() / 256));
    EXPECT_EQ(r.PacketsAccepted, static_cast<int>(image.size() / 32 + image.size() / 256));
    EXPECT_EQ(r.ReRequests, 0);
    EXPECT_TRUE(r.Violations.empty()) << FormatSummary(r);
    EXPECT_EQ(r.Bytes, image);
    EXPECT_EQ(r.Sha256, Sha256Hex(image));
}

// The digest the summary prints, against published values: FIPS 180-4's
// one-block, two-block and million-byte examples, and a whole 64-byte block
// (sha256sum's figure). The empty digest is checked with empty uploads.
TEST(DeviceEmulator, DigestMatchesKnownValues) {
    const auto hex = [](const std::string& text) {
        return Sha256Hex({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
    };
    EXPECT_EQ(hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(hex(std::string(1'000'000, 'a')), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_EQ(hex(std::string(64, 'x')), "7ce100971f64e7001e8fe5a51973ecdfe1ced42befe7ee8d5fd6219506b5393c");
}

// ReplyDelay holds every byte the device sends, requests and replies alike,
// as an adapter's latency timer holds what it received; the upload itself is
// the same.
TEST(DeviceEmulator, ReplyDelayHoldsEveryByteItSends) {
    TDeviceEmulator emu({.ReplyDelay = 30ms});
    THostPort host(emu.DevicePath());
    const TBytes image = TestImage(256, 0x01);
    const auto packets = PacketsFor(image, 0x01);
    using TClock = std::chrono::steady_clock;
    auto sent = TClock::now();
    host.Write(kBurst);
    for (const TBytes& p : packets) {
        EXPECT_EQ(host.Read(), kReq);
        EXPECT_GE(TClock::now() - sent, 30ms) << "request";
        host.Write(p);
        sent = TClock::now();
        EXPECT_EQ(host.Read(), kAck);
        EXPECT_GE(TClock::now() - sent, 30ms) << "reply";
        sent = TClock::now();
    }
    ExpectRebuilt(Result(emu), image, 0x01);
}

// Several uploads in a row on one terminal, page numbers wrapping below 0x00.
TEST(DeviceEmulator, RebuildsEachUploadFromItsPages) {
    TDeviceEmulator emu;
    THostPort host(emu.DevicePath());
    const struct {
        std::size_t size;
        std::uint8_t s;
    } cases[] = {{256, 0x01}, {512, 0xFC}, {768, 0xAB}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        const TBytes image = TestImage(c.size, c.s);
        const auto packets = PacketsFor(image, c.s);
        host.Write(kBurst);
        const TPlayed played = PlayAll(host, packets);
        EXPECT_EQ(played.Rejections, 0);
        EXPECT_EQ(played.AckWithRequest, 0);
        const TUploadResult r = Result(emu);
        ExpectRebuilt(r, image, c.s);
        EXPECT_EQ(r.PacketsReceived, static_cast<int>(packets.size()));
        EXPECT_EQ(r.PacketsRejected, 0);
        EXPECT_EQ(r.ResponseTimes.Count(), packets.size());
    }
}

// Injected rejections (the first header, a data packet) and a checksum the host
// really got wrong are all answered 0xF4, and the resent packets are taken.
TEST(DeviceEmulator, AnswersRejectionsAndTakesTheResentPackets) {
    TDeviceEmulator emu({.RejectPackets = {1, 5}});
    THostPort host(emu.DevicePath());
    const TBytes image = TestImage(512, 7);
    const auto packets = PacketsFor(image, 0x01);
    host.Write(kBurst);
    const TPlayed played = PlayAll(host, packets, {9});  // the second page's header
    EXPECT_EQ(played.Rejections, 3);
    const TUploadResult r = Result(emu);
    ExpectRebuilt(r, image, 0x01);
    EXPECT_EQ(r.PacketsReceived, 21);
    EXPECT_EQ(r.PacketsRejected, 3);
    EXPECT_EQ(r.ChecksumErrors, 1);
}

TEST(DeviceEmulator, UnexpectedReplyEndsTheUpload) {
    TDeviceEmulator emu({.UnexpectedReplyAt = 3});
    THostPort host(emu.DevicePath());
    const auto packets = PacketsFor(TestImage(256, 1), 0x01);
    host.Write(kBurst);
    ASSERT_EQ(Exchange(host, packets[0]), kAck);
    ASSERT_EQ(Exchange(host, packets[1]), kAck);
    EXPECT_EQ(Exchange(host, packets[2]), TBytes{0x42});
    const TUploadResult r = Result(emu);
    EXPECT_EQ(r.Outcome, TOutcome::Aborted);
    EXPECT_EQ(r.PacketsReceived, 3);
    EXPECT_EQ(r.PacketsAccepted, 2);
}

// 06 05 in one write; its 05 is the next request, and nothing is asked twice.
TEST(DeviceEmulator, AckWithRequestComesAsOneChunk) {
    TDeviceEmulator emu({.AckWithRequestAt = 2});
    THostPort host(emu.DevicePath());
    const TBytes image = TestImage(256, 2);
    host.Write(kBurst);
    const TPlayed played = PlayAll(host, PacketsFor(image, 0));
    EXPECT_EQ(played.AckWithRequest, 1);
    ExpectRebuilt(Result(emu), image, 0);
}

TEST(DeviceEmulator, RecordsProtocolViolations) {
    TDeviceEmulator emu;
    THostPort host(emu.DevicePath());
    const auto packets = PacketsFor(TestImage(512, 3), 0x01);
    const auto recheck = [](TBytes p) { return Packet(p[1], p[2], &p[3]); };
    TBytes badSync = packets[1];
    badSync[0] = 0xE7;
    TBytes wrongPiece = packets[1];
    wrongPiece[1] = 1;
    TBytes wrongNumber = packets[1];
    wrongNumber[2] = 0x04;
    const struct {
        TBytes second;
        const char* says;
    } cases[] = {
        {badSync, "sync byte 0xE7"},
        {recheck(wrongPiece), "expected piece 0 of page 0 (number 0x05); got code 0x01, number 0x05"},
        {recheck(wrongNumber), "got code 0x08, number 0x04"},
        {packets[9], "got code 0x00, number 0x04"},  // the next page's header instead of data
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        host.Write(kBurst);
        ASSERT_EQ(Exchange(host, packets[0]), kAck);
        EXPECT_EQ(Exchange(host, c.second), TBytes{kViolationByte});
        const TUploadResult r = Result(emu);
        EXPECT_EQ(r.Outcome, TOutcome::Violation);
        ASSERT_EQ(r.Violations.size(), 1u);
        EXPECT_NE(r.Violations[0].find(c.says), std::string::npos) << r.Violations[0];
        EXPECT_EQ(r.PacketsAccepted, 1);
    }
}

TEST(DeviceEmulator, AsksAgainWhenTheHostMissesARequest) {
    TDeviceEmulator emu({.RequestTimeout = 200ms});
    THostPort host(emu.DevicePath());
    const TBytes image = TestImage(256, 4);
    host.Write(kBurst);
    ASSERT_EQ(host.Read(), kReq);  // ignored
    PlayAll(host, PacketsFor(image, 0x01));
    const TUploadResult r = Result(emu);
    EXPECT_EQ(r.ReRequests, 1);
    EXPECT_EQ(r.Bytes, image);
}

// An empty file's host sends the burst and then nothing.
TEST(DeviceEmulator, UploadWithoutHeaderEndsAfterFirstHeaderTimeout) {
    TDeviceEmulator emu({.RequestTimeout = 10s, .FirstHeaderTimeout = 200ms});
    THostPort host(emu.DevicePath());
    host.Write(kBurst);
    ASSERT_EQ(host.Read(), kReq);
    const TUploadResult r = Result(emu);
    EXPECT_EQ(r.Outcome, TOutcome::NoHeader);
    EXPECT_FALSE(r.HeaderSeen);
    EXPECT_TRUE(r.Bytes.empty());
    EXPECT_EQ(r.Sha256, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(r.ReRequests, 0);
}

// A host stopped and started again sends a new burst where a packet was due;
// stopping the emulator publishes the upload it is in.
TEST(DeviceEmulator, NewBurstRestartsAndStopEndsTheUpload) {
    TDeviceEmulator emu;
    THostPort host(emu.DevicePath());
    const TBytes image = TestImage(256, 5);
    const auto packets = PacketsFor(image, 0x01);
    host.Write(kBurst);
    ASSERT_EQ(Exchange(host, packets[0]), kAck);
    ASSERT_EQ(host.Read(), kReq);
    host.Write(kBurst);
    const TUploadResult first = Result(emu);
    EXPECT_EQ(first.Outcome, TOutcome::Restarted);
    EXPECT_EQ(first.PacketsAccepted, 1);

    ASSERT_EQ(Exchange(host, packets[0]), kAck);
    emu.Stop();
    const TUploadResult second = Result(emu);
    EXPECT_EQ(second.Outcome, TOutcome::Stopped);
    EXPECT_EQ(second.PacketsAccepted, 1);
    EXPECT_EQ(second.StartPage, 0x01);
}

// A lower bound only: each byte both ways takes its 10 bit times at 9600 baud.
TEST(DeviceEmulator, PacedUploadTakesTheWireTime) {
    TDeviceEmulator emu({.Baud = 9600});
    THostPort host(emu.DevicePath());
    const TBytes image = TestImage(256, 6);
    const auto start = std::chrono::steady_clock::now();
    host.Write(kBurst);
    PlayAll(host, PacketsFor(image, 0));
    ExpectRebuilt(Result(emu), image, 0);
    const int wireBytes = 3 + 9 * (36 + 2);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(wireBytes * 10'000'000LL / 9600));
}

}  // namespace
}  // namespace zelk::emu::test
