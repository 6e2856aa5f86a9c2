// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zelk {

inline constexpr std::int32_t kImageSize = 65536;
inline constexpr std::int32_t kPageSize = 256;
using TImage = std::array<std::uint8_t, kImageSize>;

// A file that exists but cannot be opened or read; what() says why.
class EInOutError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class TLoadStatus {
    Loaded,
    Missing,   // nothing exists at the path
    TooLarge,  // 65,536 bytes or more
};

struct TLoadResult {
    TLoadStatus Status = TLoadStatus::Missing;
    std::int32_t ByteCount = 0;  // bytes read from the file
    std::int32_t FileLen = 0;    // ByteCount rounded up to whole pages
    std::string ShortName;
};

// n rounded up to the next multiple of 256 (n itself when already a multiple).
std::int32_t RoundFileLen(std::int32_t n);
std::int32_t BlockCount(std::int32_t fileLen);

// The name shown for a path: the part after the last '/', the part before the
// first dot cut to 8 characters, and the whole cut to 12 characters. Counts
// UTF-8 characters, never bytes.
std::string ShortName(std::string_view path);

// Reads the file at path into image. When it loads, bytes 0..ByteCount-1 hold
// the file, ByteCount..FileLen-1 are zero and the rest is left as it was. On
// any other outcome, and on EInOutError, the image is left untouched.
TLoadResult LoadImage(const std::string& path, TImage& image);

}  // namespace zelk
