// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// Fuzz target: any bytes from a host into zelk-emu's device model.
//
// Input, read from the front (fuzz_input.h; missing bytes read as zero):
//   byte 0     faults: bit 0 reject packet R although it is right, bit 1
//              answer packet U with byte X and end, bit 2 acknowledge
//              packet A with 06 05
//   bytes 1-4  R, U, A, X (05, 06 and F4 stand for 42, as zelk-emu sends)
//   the rest   chunks, each a length byte and that many bytes: what the host
//              sends while the device waits for a burst, or in answer to one
//              request (05) of the device
//
// The stream is cut as zelk-emu cuts it: it waits for 55 55 55, then reads
// 36 bytes a packet after each request; a burst in place of a packet starts
// the next upload, bytes that come unasked end the upload, a packet cut short
// ends it (the host fell silent), a request with no answer at all is a
// re-request. Oracles: no crash, bounded memory, and in every upload's
// summary received = accepted + rejected (+ the one packet that ended it),
// each answer one of 06 / F4 / 15 / the injected byte, the rebuilt bytes the
// accepted data packets' payload in order, the page count within C.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <deque>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "tools/emulator/device_model.h"
#include "tools/emulator/sha256.h"

namespace zelk::fuzz {
namespace {

using emu::TDeviceModel;
using emu::TOutcome;
using emu::TUploadResult;

class THostLine {
public:
    explicit THostLine(TFuzzInput& in) : in_(in) {}

    std::deque<std::uint8_t> Queue;

    // The host's next chunk arrives; false when the input has no more.
    bool Next() {
        if (in_.Empty()) return false;
        const auto chunk = in_.Take(in_.Byte());
        Queue.insert(Queue.end(), chunk.begin(), chunk.end());
        return true;
    }
    bool BurstFirst() const {
        return Queue.size() >= 3 && std::all_of(Queue.begin(), Queue.begin() + 3, [](std::uint8_t b) { return b == 0x55; });
    }

private:
    TFuzzInput& in_;
};

struct TUploadCheck {
    std::vector<std::uint8_t> Payload;  // of the data packets answered 06, in order
    bool EndedOnPacket = false;         // the last packet's answer ended the upload without 06
    bool InputEnded = false;
};

// All zero: its first byte, and each byte the same as the next (one memcmp,
// not a counted loop over up to 64 KiB).
bool Zeros(std::span<const std::uint8_t> bytes) {
    return bytes.empty() || (bytes[0] == 0 && std::memcmp(bytes.data(), bytes.data() + 1, bytes.size() - 1) == 0);
}

void CheckResult(const TUploadResult& r, const TUploadCheck& c, const emu::TEmulatorOptions& options) {
    const std::string summary = emu::FormatSummary(r);
    const auto check = [&](bool ok, const char* what) {
        if (!ok) Fail(__FILE__, __LINE__, what, summary);
    };
    check(r.Violations.size() == (r.Outcome == TOutcome::Violation ? 1u : 0u), "one violation exactly when it ended so");
    check(r.PacketsReceived == r.PacketsAccepted + r.PacketsRejected + (c.EndedOnPacket ? 1 : 0),
          "received = accepted + rejected + the packet that ended the upload");
    check(r.ChecksumErrors <= r.PacketsRejected, "checksum errors among the rejected packets");
    check(r.PacketsRejected - r.ChecksumErrors <= static_cast<int>(options.RejectPackets.size()),
          "rejected packets beyond the checksum errors are the injected ones");
    check(r.HeaderSeen == (r.PacketsAccepted > 0), "the first accepted packet is the header");
    const int pages = r.HeaderSeen ? (r.BlockCountByte == 0 ? 256 : r.BlockCountByte) : 0;
    check(r.Bytes.size() == static_cast<std::size_t>(pages) * 256, "C x 256 rebuilt bytes");
    check(r.Pages <= pages, "pages within C");
    check(r.PacketsAccepted >= 9 * r.Pages && r.PacketsAccepted <= 9 * r.Pages + 8, "pages match accepted packets");
    check(r.Outcome != TOutcome::Completed || (r.Pages == pages && r.Violations.empty()), "complete uploads have every page");
    check(r.Outcome != TOutcome::Stopped || c.InputEnded, "stopped only when the host's bytes ran out");
    check(c.Payload.size() <= r.Bytes.size() && std::equal(c.Payload.begin(), c.Payload.end(), r.Bytes.begin()) &&
              Zeros(std::span<const std::uint8_t>(r.Bytes).subspan(c.Payload.size())),
          "the rebuilt bytes are the accepted payload, then zeros");
    check(emu::Sha256Hex(r.Bytes).size() == 64, "a SHA-256 in hex");
    check(summary.find("packets: " + std::to_string(r.PacketsReceived) + " received, " +
                       std::to_string(r.PacketsAccepted) + " accepted, ") != std::string::npos,
          "the summary shows the counts");
}

// A new upload's result and check, as if made afresh, with the room of
// their byte vectors kept.
void Reset(TUploadResult& r, TUploadCheck& c) {
    std::vector<std::uint8_t> bytes = std::move(r.Bytes);
    std::vector<std::uint8_t> payload = std::move(c.Payload);
    bytes.clear();
    payload.clear();
    r = TUploadResult{};
    c = TUploadCheck{};
    r.Bytes = std::move(bytes);
    c.Payload = std::move(payload);
}

// One upload after its burst, the stream cut as zelk-emu cuts it. True when
// the next upload's burst came and has been taken.
bool PlayUpload(THostLine& line, const emu::TEmulatorOptions& options, TUploadResult& r, TUploadCheck& c) {
    TDeviceModel model(options, r);
    bool request = true;
    for (;;) {
        if (request) {
            if (line.BurstFirst()) {
                line.Queue.erase(line.Queue.begin(), line.Queue.begin() + 3);
                r.Outcome = TOutcome::Restarted;
                return true;
            }
            if (!line.Queue.empty()) {
                r.Violations.push_back(std::to_string(line.Queue.size()) + " bytes came unasked");
                line.Queue.clear();
                r.Outcome = TOutcome::Violation;
                return false;
            }
            if (!line.Next()) {
                c.InputEnded = true;
                r.Outcome = TOutcome::Stopped;
                return false;
            }
        }
        request = true;

        TDeviceModel::TPacket p{};
        const std::size_t have = std::min(line.Queue.size(), p.size());
        std::copy_n(line.Queue.begin(), have, p.begin());
        line.Queue.erase(line.Queue.begin(), line.Queue.begin() + static_cast<std::ptrdiff_t>(have));
        if (have >= 3 && std::all_of(p.begin(), p.begin() + 3, [](std::uint8_t b) { return b == 0x55; })) {
            line.Queue.insert(line.Queue.begin(), p.begin() + 3, p.begin() + static_cast<std::ptrdiff_t>(have));
            r.Outcome = TOutcome::Restarted;
            return true;
        }
        if (have == 0) {
            ++r.ReRequests;
            continue;
        }
        const int accepted = r.PacketsAccepted;
        const int rejected = r.PacketsRejected;
        const TDeviceModel::TStep step = have < p.size() ? model.Incomplete(have) : model.Packet(p);
        const auto reply = step.Reply();
        ZELK_FUZZ_CHECK(reply.size() == 1 || (reply.size() == 2 && reply[0] == 0x06 && reply[1] == 0x05 &&
                                              r.PacketsReceived == options.AckWithRequestAt),
                        "answer " + Hex(reply));
        ZELK_FUZZ_CHECK(step.RequestSent == (reply.size() == 2), "answer " + Hex(reply));
        const std::uint8_t b = reply[0];
        ZELK_FUZZ_CHECK((b == 0x06) == (r.PacketsAccepted == accepted + 1) &&
                            (b == 0xF4) == (r.PacketsRejected == rejected + 1) &&
                            (b == 0x06 || b == 0xF4 || b == emu::kViolationByte ||
                             (b == options.UnexpectedReply && r.PacketsReceived == options.UnexpectedReplyAt)),
                        "answer " + Hex(reply) + " for packet " + Hex(p));
        if (b == 0x06 && p[1] != 0) c.Payload.insert(c.Payload.end(), p.begin() + 3, p.begin() + 35);
        if (step.Ended) {
            c.EndedOnPacket = b != 0x06;
            return false;
        }
        if (step.RequestSent && !line.Next()) {
            c.InputEnded = true;
            r.Outcome = TOutcome::Stopped;
            return false;
        }
        request = !step.RequestSent;
    }
}

void Run(const std::uint8_t* data, std::size_t size) {
    TFuzzInput in(data, size);
    const std::uint8_t faults = in.Byte();
    emu::TEmulatorOptions options;
    const int reject = in.Byte();
    const int unexpected = in.Byte();
    const int ackWithRequest = in.Byte();
    options.UnexpectedReply = in.Byte();
    // zelk-emu injects 0x42; a reply the protocol knows would be no fault.
    if (options.UnexpectedReply == 0x05 || options.UnexpectedReply == 0x06 || options.UnexpectedReply == 0xF4)
        options.UnexpectedReply = 0x42;
    if (faults & 1) options.RejectPackets = {reject};
    if (faults & 2) options.UnexpectedReplyAt = unexpected;
    if (faults & 4) options.AckWithRequestAt = ackWithRequest;

    THostLine line(in);
    bool burstTaken = false;
    for (;;) {
        if (!burstTaken) {
            int run = 0;
            for (;;) {
                while (!line.Queue.empty() && run < 3) {
                    run = line.Queue.front() == 0x55 ? run + 1 : 0;
                    line.Queue.pop_front();
                }
                if (run == 3) break;
                if (!line.Next()) return;
            }
        }
        // Kept from upload to upload with the room of their bytes (up to
        // 64 KiB each): a run allocates and clears no more than it uses.
        static TUploadResult r;
        static TUploadCheck c;
        Reset(r, c);
        burstTaken = PlayUpload(line, options, r, c);
        CheckResult(r, c, options);
        if (c.InputEnded) return;
    }
}

}  // namespace
}  // namespace zelk::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zelk::fuzz::Run(data, size);
    return 0;
}
