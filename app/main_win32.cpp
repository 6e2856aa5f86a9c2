// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// zelk.exe: the window on Windows (ui_win32/). -municode: the arguments
// arrive as UTF-16, so file names in any script reach the program whole.
#include <windows.h>

#include "ui_win32/program.h"

int wmain(int argc, wchar_t** argv) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    ::GetStartupInfoW(&startup);
    const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? startup.wShowWindow : SW_SHOWDEFAULT;
    return zelk::win32::RunWindowProgram(::GetModuleHandleW(nullptr), zelk::win32::Utf8Arguments(argc, argv), show);
}
