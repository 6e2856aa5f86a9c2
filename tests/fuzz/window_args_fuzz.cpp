// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// Fuzz target: the window's command line (ParseWindowCommandLine, zelk_window).
//
// Input: the arguments after the program name, each ended by a NUL byte (the
// last one by the input's end), any bytes at all.
//
// Oracles: a usage error has a message and no options; otherwise no message,
// a port 1-20, a baud rate of the list, a start text of at most 5 characters
// (so at most 20 bytes, and at most 5 code points when it is valid UTF-8),
// and a file that is one of the arguments. Parsing is a pure function: the
// same arguments give the same result again.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "serial/com_port.h"
#include "window/command_line.h"

namespace zelk::fuzz {
namespace {

// Code points of valid UTF-8 (shortest forms, no surrogates, at most
// U+10FFFF); nothing for anything else.
std::optional<std::size_t> CodePoints(const std::string& text) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size(); ++n) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t more = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) {
            cp = c;
        } else if (c >= 0xC2 && c <= 0xDF) {
            more = 1, cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2, cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3, cp = c & 0x07;
        } else {
            return std::nullopt;
        }
        if (i + more >= text.size()) return std::nullopt;
        for (std::size_t k = 1; k <= more; ++k) {
            const auto d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xC0) != 0x80) return std::nullopt;
            cp = cp << 6 | (d & 0x3F);
        }
        const std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (cp < least[more] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
        i += more + 1;
    }
    return n;
}

void Run(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> args = Arguments(data, size, {"zelk"});
    const TWindowCommandLine line = ParseWindowCommandLine(args);
    const TWindowCommandLine again = ParseWindowCommandLine(args);
    ZELK_FUZZ_CHECK(line.Command == again.Command && line.Options == again.Options && line.Error == again.Error,
                    "a second parse of the same arguments differs");
    const TWindowOptions& o = line.Options;
    if (line.Command == TWindowCommand::UsageError) {
        ZELK_FUZZ_CHECK(!line.Error.empty(), "a usage error without a message");
        ZELK_FUZZ_CHECK(o == TWindowOptions{}, "a usage error with options: " + line.Error);
        return;
    }
    ZELK_FUZZ_CHECK(line.Error.empty(), "a message without a usage error: " + line.Error);
    if (line.Command != TWindowCommand::Run) return;
    ZELK_FUZZ_CHECK(!o.Port || (*o.Port >= 1 && *o.Port <= 20), "port " + std::to_string(*o.Port));
    ZELK_FUZZ_CHECK(!o.Baud || SupportedBaud(*o.Baud), "baud " + std::to_string(*o.Baud));
    if (o.Start) {
        const std::optional<std::size_t> points = CodePoints(*o.Start);
        ZELK_FUZZ_CHECK(o.Start->size() <= 20 && (!points || *points <= 5),
                        "start text of " + std::to_string(o.Start->size()) + " bytes: " +
                            Hex({reinterpret_cast<const std::uint8_t*>(o.Start->data()), o.Start->size()}));
    }
    if (o.File) {
        bool found = false;
        for (std::size_t i = 1; i < args.size(); ++i) found = found || args[i] == *o.File;
        ZELK_FUZZ_CHECK(found, "the file is none of the arguments");
    }
}

}  // namespace
}  // namespace zelk::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zelk::fuzz::Run(data, size);
    return 0;
}
