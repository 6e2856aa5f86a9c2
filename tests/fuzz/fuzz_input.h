// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

// What every fuzz target shares: a reader that takes the input from its
// front (so that seeds and dictionary words line up with the fields), and a
// check that ends the run as a finding.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace zelk::fuzz {

// Reports a broken oracle and aborts, which libFuzzer records as a crash
// with the input that caused it.
[[noreturn]] inline void Fail(const char* file, int line, const char* condition, const std::string& detail) {
    std::fprintf(stderr, "\n%s:%d: oracle broken: %s\n  %s\n", file, line, condition, detail.c_str());
    std::fflush(stderr);
    std::abort();
}

#define ZELK_FUZZ_CHECK(condition, detail)                                          \
    do {                                                                            \
        if (!(condition)) ::zelk::fuzz::Fail(__FILE__, __LINE__, #condition, detail); \
    } while (0)

// Reads an input front to back; past its end every byte reads as zero.
class TFuzzInput {
public:
    TFuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool Empty() const { return pos_ >= size_; }
    std::size_t Left() const { return size_ - pos_; }

    std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    // Little-endian.
    std::uint16_t Word() {
        const std::uint16_t low = Byte();
        return static_cast<std::uint16_t>(low | Byte() << 8);
    }
    // Up to n bytes.
    std::span<const std::uint8_t> Take(std::size_t n) {
        const std::size_t take = n < Left() ? n : Left();
        const std::span<const std::uint8_t> out(data_ + pos_, take);
        pos_ += take;
        return out;
    }
    std::span<const std::uint8_t> Rest() { return Take(Left()); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

inline std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string s;
    char text[4];
    for (const std::uint8_t b : bytes) {
        std::snprintf(text, sizeof text, "%02X ", b);
        s += text;
    }
    return s;
}

// An argument vector from fuzz input: NUL bytes separate the arguments, which
// follow `first` (the program name, or nothing). No input, no arguments.
inline std::vector<std::string> Arguments(const std::uint8_t* data, std::size_t size,
                                          std::vector<std::string> first = {}) {
    std::vector<std::string> args = std::move(first);
    if (size == 0) return args;
    // One allocation for the vector and one for each long argument, not one
    // for every doubling.
    const std::uint8_t* const end = data + size;
    args.reserve(args.size() + 1 + static_cast<std::size_t>(std::count(data, end, std::uint8_t{0})));
    for (const std::uint8_t* from = data;;) {
        const std::uint8_t* const nul = std::find(from, end, std::uint8_t{0});
        args.emplace_back(reinterpret_cast<const char*>(from), static_cast<std::size_t>(nul - from));
        if (nul == end) return args;
        from = nul + 1;
    }
}

}  // namespace zelk::fuzz
