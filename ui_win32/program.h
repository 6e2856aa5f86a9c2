// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace zelk::win32 {

// zelk.exe: answers --help, --version and usage errors, or runs the window
// with the command line's options until it closes. arguments are UTF-8,
// the program's name first. Returns the exit status.
// wmain's arguments in UTF-8.
std::vector<std::string> Utf8Arguments(int argc, const wchar_t* const* argv);

int RunWindowProgram(HINSTANCE instance, const std::vector<std::string>& arguments, int showCommand);

}  // namespace zelk::win32
