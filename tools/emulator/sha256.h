// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace zelk::emu {

// SHA-256 of the whole byte range (nettle's) as 64 lower-case hex digits, as
// sha256sum prints it.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

}  // namespace zelk::emu
