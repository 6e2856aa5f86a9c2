// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "common/unique_fd.h"
#include "tools/emulator/response_times.h"

namespace zelk::emu {

// The bytes the controller sends.
inline constexpr std::uint8_t kRequestByte = 0x05;
inline constexpr std::uint8_t kAcceptByte = 0x06;
inline constexpr std::uint8_t kRejectByte = 0xF4;
// Answer to a packet that breaks the protocol; the host takes it as an unexpected reply.
inline constexpr std::uint8_t kViolationByte = 0x15;

struct TEmulatorOptions {
    // Terminal device to serve. Empty: the emulator creates a pseudo-terminal pair
    // and the host opens its slave side, TDeviceEmulator::DevicePath().
    std::string DevicePath{};
    // Paces both directions as on a line of this many baud, 10 bits a byte.
    // 0: no pacing, bytes go as fast as the host takes them.
    int Baud = 0;
    // A request that brings no byte within this time is sent again (a re-request).
    std::chrono::milliseconds RequestTimeout{2000};
    // An upload whose first page header has not come this long after the burst
    // ends as NoHeader; this is how the upload of an empty file ends, since its
    // host sends nothing after the burst. Zero: keep asking for ever.
    std::chrono::milliseconds FirstHeaderTimeout{0};
    // Pause between the host taking a reply out of its input queue and the next request.
    std::chrono::microseconds RequestGap{200};
    // Holds everything it sends this long before writing it, requests and
    // replies alike, as a USB serial adapter holds received bytes until its
    // latency timer runs out (16 ms by default on FTDI chips). 0: no delay.
    std::chrono::milliseconds ReplyDelay{0};

    // Fault injection. Packets are numbered from 1 in each upload, in the order
    // they arrive, headers and data alike, resent ones included.
    std::set<int> RejectPackets{};         // answered 0xF4 although they are right
    int UnexpectedReplyAt = 0;             // answered UnexpectedReply, which ends the upload
    std::uint8_t UnexpectedReply = 0x42;
    int AckWithRequestAt = 0;              // acknowledged with 06 05 in one write
};

enum class TOutcome {
    Completed,   // every page arrived and was acknowledged
    NoHeader,    // FirstHeaderTimeout passed without a header: an empty upload
    Aborted,     // the emulator sent the injected unexpected reply
    Violation,   // the host broke the protocol; see Violations
    Restarted,   // a new start burst came in the middle; the next upload follows
    Stopped,     // the emulator was stopped in the middle
    Failed,      // the terminal failed; see Error
};
const char* OutcomeName(TOutcome outcome);

struct TUploadResult {
    TOutcome Outcome = TOutcome::Stopped;
    bool HeaderSeen = false;
    std::uint8_t StartPage = 0;       // S from the first header
    std::uint8_t BlockCountByte = 0;  // C from the first header; 0 means 256 pages
    int Pages = 0;                    // pages received in full
    int PacketsReceived = 0;
    int PacketsAccepted = 0;
    int PacketsRejected = 0;          // answered 0xF4: injected ones and checksum errors
    int ChecksumErrors = 0;
    int ReRequests = 0;
    std::vector<std::string> Violations;
    // Page k in order of arrival at offset 256 k; C × 256 bytes (65,536 for C = 0),
    // pages that never came stay zero. Empty when no header came.
    std::vector<std::uint8_t> Bytes;
    std::string Sha256;               // of Bytes, lower-case hex
    // For every request answered by a packet: from writing 0x05 to reading the
    // packet's last byte. Bounded: a host may send packets for days.
    TResponseTimes ResponseTimes;
    std::string Error;                // why the terminal failed
};

// The multi-line text zelk-emu prints after each upload.
std::string FormatSummary(const TUploadResult& result);

// The ZELK controller on its own thread: waits for a start burst, plays one
// upload, publishes its result and waits for the next burst, until stopped.
class TDeviceEmulator {
public:
    // Opens the terminal and starts the thread. Throws std::system_error, or
    // std::invalid_argument for a baud rate the terminal does not take.
    explicit TDeviceEmulator(TEmulatorOptions options = {});
    // Stops the thread.
    ~TDeviceEmulator();
    TDeviceEmulator(const TDeviceEmulator&) = delete;
    TDeviceEmulator& operator=(const TDeviceEmulator&) = delete;

    // The path the host opens: the slave side of the pseudo-terminal, or the given device.
    const std::string& DevicePath() const;

    // Ends the thread; an upload in the middle is published as Stopped. Idempotent.
    void Stop();

    // The oldest unclaimed result, waiting up to timeout for one.
    std::optional<TUploadResult> WaitResult(std::chrono::milliseconds timeout);
    // The oldest unclaimed result, without waiting.
    std::optional<TUploadResult> TakeResult();
    // Readable while a result is unclaimed, for poll() or a socket notifier.
    int ResultFd() const;

private:
    using TClock = std::chrono::steady_clock;
    using TPacket = std::array<std::uint8_t, 36>;
    struct TStopRequest {};
    struct TReceived {
        enum { Packet, Timeout, Incomplete, Burst } Kind;
        std::size_t Have;                 // bytes of the packet that came
        TClock::time_point LastByteAt;
    };

    void OpenPseudoTerminal();
    void OpenDevice();
    void Run();
    void WaitForBurst();
    bool TakeBurst();
    bool PlayUpload(TUploadResult& result);
    TReceived ReadPacket(TPacket& packet, TClock::time_point since, std::optional<TClock::time_point> giveUpAt);
    void Publish(TUploadResult result);

    bool Fill(std::optional<TClock::time_point> deadline);
    void SleepUntil(TClock::time_point deadline);
    void Send(std::initializer_list<std::uint8_t> bytes);
    void Send(std::span<const std::uint8_t> bytes);
    int HostQueued();
    void WaitHostTook(std::optional<TClock::time_point> giveUpAt = std::nullopt);

    TEmulatorOptions options_;
    std::string path_;
    TUniqueFd line_;   // master side, or the given device
    TUniqueFd slave_;  // own descriptor of the slave side: keeps the pair alive, shows the host's queue
    TUniqueFd stop_;
    TUniqueFd ready_;
    std::chrono::nanoseconds byteTime_{0};

    // Emulator thread only.
    std::deque<std::uint8_t> in_;
    TClock::time_point txFree_{};
    TClock::time_point rxFree_{};
    std::optional<TUploadResult> current_;

    std::mutex mutex_;
    std::condition_variable resultCv_;
    std::deque<TUploadResult> results_;
    std::thread thread_;
};

}  // namespace zelk::emu
