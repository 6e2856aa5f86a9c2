// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

// Packets built on their own, independent of the transfer core: what the
// device expects on the wire.

#include <algorithm>
#include <cstdint>
#include <vector>

namespace zelk::test {

using TBytes = std::vector<std::uint8_t>;

// Sync, bytes 1 and 2, body in bytes 3..34, checksum of bytes 1..34.
inline TBytes Packet(std::uint8_t b1, std::uint8_t b2, const std::uint8_t* body = nullptr) {
    TBytes p(36, 0);
    p[0] = 0xE6;
    p[1] = b1;
    p[2] = b2;
    if (body != nullptr) std::copy(body, body + 32, p.begin() + 3);
    unsigned sum = 0;
    for (int i = 1; i <= 34; ++i) sum += p[i];
    p[35] = static_cast<std::uint8_t>(sum);
    return p;
}

// A data packet: piece code (8 for the first piece), page number, 32 bytes.
inline TBytes DataPacket(std::uint8_t code, std::uint8_t block, const std::uint8_t* data) {
    return Packet(code, block, data);
}

// Every packet of an upload of image (whole pages) at start page s.
inline std::vector<TBytes> PacketsFor(const TBytes& image, std::uint8_t s) {
    const std::size_t pages = image.size() / 256;
    const auto c = static_cast<std::uint8_t>(pages);
    std::vector<TBytes> packets;
    auto block = static_cast<std::uint8_t>(s + 2 * c);
    for (std::size_t k = 0; k < pages; ++k, --block) {
        if (k == 0) {
            std::uint8_t body[32]{};
            body[29] = s;
            body[30] = c;
            body[31] = c;
            packets.push_back(Packet(0, 0, body));
        } else {
            packets.push_back(Packet(0, block));
        }
        for (int j = 0; j < 8; ++j)
            packets.push_back(Packet(static_cast<std::uint8_t>(j == 0 ? 8 : j), block, &image[256 * k + 32 * j]));
    }
    return packets;
}

}  // namespace zelk::test
