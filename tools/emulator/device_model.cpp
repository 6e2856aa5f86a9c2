// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "tools/emulator/device_model.h"

#include <algorithm>
#include <cstdio>

namespace zelk::emu {
namespace {

constexpr std::uint8_t kSyncByte = 0xE6;
constexpr int kPageBytes = 256;
constexpr int kPieceBytes = 32;

std::uint8_t Checksum(const TDeviceModel::TPacket& p) {
    unsigned sum = 0;
    for (int i = 1; i <= 34; ++i) sum += p[i];
    return static_cast<std::uint8_t>(sum);
}

bool ZeroRange(const TDeviceModel::TPacket& p, int from, int to) {
    return std::all_of(p.begin() + from, p.begin() + to + 1, [](std::uint8_t b) { return b == 0; });
}

TDeviceModel::TStep Answer(std::uint8_t b, bool ended = false) {
    TDeviceModel::TStep step;
    step.Bytes[0] = b;
    step.Size = 1;
    step.Ended = ended;
    return step;
}

}  // namespace

std::string HexByte(std::uint8_t b) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", b);
    return text;
}

TDeviceModel::TDeviceModel(const TEmulatorOptions& options, TUploadResult& result)
    : options_(options), r_(result) {}

TDeviceModel::TStep TDeviceModel::Violation(int seq, const std::string& what) {
    r_.Violations.push_back("packet " + std::to_string(seq) + ": " + what);
    r_.Outcome = TOutcome::Violation;
    return Answer(kViolationByte, true);
}

TDeviceModel::TStep TDeviceModel::Incomplete(std::size_t have) {
    const int seq = ++r_.PacketsReceived;
    return Violation(seq, "only " + std::to_string(have) + " of 36 bytes came");
}

TDeviceModel::TStep TDeviceModel::Packet(const TPacket& p) {
    const int seq = ++r_.PacketsReceived;
    if (p[0] != kSyncByte) return Violation(seq, "sync byte " + HexByte(p[0]) + " instead of 0xE6");
    if (Checksum(p) != p[35]) {
        ++r_.ChecksumErrors;
        ++r_.PacketsRejected;
        return Answer(kRejectByte);
    }
    // Made only for a message: a fuzz run passes here for every packet.
    const auto where = [&] {
        return "page " + std::to_string(page_) + " (number " + HexByte(block_) + "); got code " + HexByte(p[1]) +
               ", number " + HexByte(p[2]);
    };
    switch (kind_) {
    case TKind::FirstHeader:
        if (!ZeroRange(p, 1, 31) || p[33] != p[34])
            return Violation(seq, "expected the first page header: zeros, then S, C, C");
        break;
    case TKind::Header:
        if (p[1] != 0 || p[2] != block_ || !ZeroRange(p, 3, 34)) return Violation(seq, "expected the header of " + where());
        break;
    case TKind::Data:
        if (p[1] != (piece_ == 0 ? 8 : piece_) || p[2] != block_)
            return Violation(seq, "expected piece " + std::to_string(piece_) + " of " + where());
        break;
    }
    if (options_.RejectPackets.contains(seq)) {
        ++r_.PacketsRejected;
        return Answer(kRejectByte);
    }
    if (seq == options_.UnexpectedReplyAt) {
        r_.Outcome = TOutcome::Aborted;
        return Answer(options_.UnexpectedReply, true);
    }

    ++r_.PacketsAccepted;
    switch (kind_) {
    case TKind::FirstHeader:
        r_.HeaderSeen = true;
        r_.StartPage = p[32];
        r_.BlockCountByte = p[33];
        pages_ = r_.BlockCountByte == 0 ? 256 : r_.BlockCountByte;
        r_.Bytes.assign(static_cast<std::size_t>(pages_) * kPageBytes, 0);
        block_ = static_cast<std::uint8_t>(r_.StartPage + 2 * r_.BlockCountByte);
        kind_ = TKind::Data;
        piece_ = 0;
        break;
    case TKind::Header:
        kind_ = TKind::Data;
        piece_ = 0;
        break;
    case TKind::Data:
        std::copy(p.begin() + 3, p.begin() + 35, r_.Bytes.begin() + page_ * kPageBytes + piece_ * kPieceBytes);
        if (++piece_ == 8) {
            ++r_.Pages;
            ++page_;
            --block_;
            kind_ = TKind::Header;
        }
        break;
    }
    const bool last = r_.HeaderSeen && page_ == pages_;
    if (last) {
        r_.Outcome = TOutcome::Completed;
        return Answer(kAcceptByte, true);
    }
    TStep step = Answer(kAcceptByte);
    if (seq == options_.AckWithRequestAt) {
        // The 05 asks for the next packet at once: no separate request follows.
        step.Bytes[1] = kRequestByte;
        step.Size = 2;
        step.RequestSent = true;
    }
    return step;
}

}  // namespace zelk::emu
