// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <cstdint>
#include <span>

namespace zelk {

// How the transfer reaches the serial port: one write of a whole packet.
class TPortLink {
public:
    virtual ~TPortLink() = default;
    // Hands the bytes to the open port. Returns false, sending nothing, when no
    // port is open. Throws (a std::exception saying why) when the port fails
    // to take them.
    virtual bool Write(std::span<const std::uint8_t> bytes) = 0;
};

}  // namespace zelk
