// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

// The one place where the reply-stream target touches TTransfer, so that a
// change of its interface is a change of this file only.

#include <algorithm>
#include <cstdint>
#include <span>

#include "transfer/file_image.h"
#include "transfer/transfer.h"

namespace zelk::fuzz {

class TTransferUnderTest {
public:
    TTransferUnderTest(TTransferEvents& events, TPortLink& port) : transfer_(events, port) {}

    // The image as LoadImage leaves it: the file, zeros to the end of its last
    // page, and whatever an earlier file left after that (`stale`).
    void Load(std::span<const std::uint8_t> file, std::uint8_t stale) {
        TImage& image = transfer_.Image();
        const std::int32_t fileLen = RoundFileLen(static_cast<std::int32_t>(file.size()));
        const auto end = std::copy(file.begin(), file.end(), image.begin());
        std::fill(end, image.begin() + fileLen, 0);
        std::fill(image.begin() + fileLen, image.end(), stale);
        transfer_.SetFileLen(fileLen);
    }
    std::int32_t FileLen() const { return transfer_.FileLen(); }

    bool Running() const { return transfer_.Running(); }
    void Start() { transfer_.Start(); }
    void Stop() { transfer_.Stop(); }
    void Read(std::span<const std::uint8_t> chunk) { transfer_.OnRead(chunk); }
    void PortFailed() { transfer_.PortFailed(); }

private:
    TTransfer transfer_;
};

}  // namespace zelk::fuzz
