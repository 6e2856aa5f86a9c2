// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

// Windows only: UTF-8, the programs' own text, to and from UTF-16, the wide
// API's. Invalid sequences become U+FFFD either way. Text the system gives
// (its messages, device names, paths) is always fetched as UTF-16 and
// converted here, never through the ANSI code page, which cannot hold every
// letter and which the programs' UTF-8 is not.
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

namespace zelk {

std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);

// The system's text for a GetLastError() code (FormatMessageW), UTF-8,
// without the line break it ends with: in the user's language,
// or in the language given (a LANGID) when the system has its texts, else in
// the user's; "error <code>" when the system knows none.
std::string SystemMessage(std::uint32_t code, std::uint16_t language = 0);

// GetLastError() codes whose message() is SystemMessage's: for
// std::system_error, whose own system_category() asks in the ANSI code page.
const std::error_category& Win32Category();

}  // namespace zelk
