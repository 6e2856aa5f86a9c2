// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "tools/emulator/device_emulator.h"

namespace zelk::emu {

// "0x0A".
std::string HexByte(std::uint8_t b);

// The controller's part of one upload without a terminal or a clock: what it
// checks in each packet the host sends, what it answers and what it records.
// TDeviceEmulator feeds it the packets it reads; the fuzz target feeds it any
// bytes at all.
class TDeviceModel {
public:
    using TPacket = std::array<std::uint8_t, 36>;

    // The answer to one packet.
    struct TStep {
        std::array<std::uint8_t, 2> Bytes{};
        std::size_t Size = 0;
        bool Ended = false;        // the upload is over; the result's Outcome says how
        bool RequestSent = false;  // the answer asks for the next packet itself (06 05)
        std::span<const std::uint8_t> Reply() const { return {Bytes.data(), Size}; }
    };

    // Records into result, which must outlive the model; the options' fault
    // injection applies.
    TDeviceModel(const TEmulatorOptions& options, TUploadResult& result);

    // A whole packet came.
    TStep Packet(const TPacket& p);
    // Only `have` bytes of a packet came before the host fell silent.
    TStep Incomplete(std::size_t have);

private:
    enum class TKind { FirstHeader, Header, Data };

    TStep Violation(int seq, const std::string& what);

    const TEmulatorOptions& options_;
    TUploadResult& r_;
    TKind kind_ = TKind::FirstHeader;
    int pages_ = 0;  // known from the first header
    int page_ = 0;
    int piece_ = 0;
    std::uint8_t block_ = 0;
};

}  // namespace zelk::emu
