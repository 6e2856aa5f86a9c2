// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

// Windows only: zelk-upload.exe's UTF-8 text on standard output and error.

#include <cstddef>
#include <memory>
#include <streambuf>
#include <string_view>

namespace zelk::upload {

// While it lives, std::cout and std::cerr write their UTF-8 text readably
// wherever it goes: to a console as UTF-16 (WriteConsoleW), right whatever
// the console's code page (866 in a Russian cmd.exe, Windows Terminal);
// redirected to a file or a pipe as the UTF-8 bytes themselves (with the C
// runtime's CR LF line ends). The console's code page is left as it is.
class TConsoleText {
public:
    TConsoleText();
    ~TConsoleText();
    TConsoleText(const TConsoleText&) = delete;
    TConsoleText& operator=(const TConsoleText&) = delete;

private:
    std::unique_ptr<std::streambuf> out_;
    std::unique_ptr<std::streambuf> err_;
    std::streambuf* oldOut_ = nullptr;
    std::streambuf* oldErr_ = nullptr;
};

// How many bytes at the start of text are whole UTF-8 sequences: what may be
// converted now, the rest waiting for the bytes that complete it. A byte
// that can start or continue no sequence counts as whole (it becomes U+FFFD).
std::size_t WholeUtf8Prefix(std::string_view text);

}  // namespace zelk::upload
