// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

// Windows only: UTF-8, the programs' own text, to and from UTF-16, the wide
// API's. Invalid sequences become U+FFFD either way.
#include <string>
#include <string_view>

namespace zelk {

std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);

}  // namespace zelk
