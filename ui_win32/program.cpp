// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "ui_win32/program.h"

#include <optional>
#include <string>

#include "common/wide_text.h"
#include "ui_win32/main_window.h"
#include "window/command_line.h"
#include "window/texts.h"

namespace zelk::win32 {

namespace {

// A GUI program's text for the user: to its standard output or error when
// it has one (a pipe, a file, Wine's terminal), else to the console it was
// started from, else in a box.
void Say(const std::string& text, bool error) {
    HANDLE out = ::GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    const std::wstring wide = Utf8ToWide(text);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        if (::AttachConsole(ATTACH_PARENT_PROCESS)) out = ::GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    }
    if (out != nullptr && out != INVALID_HANDLE_VALUE) {
        DWORD mode = 0;
        DWORD written = 0;
        if (::GetConsoleMode(out, &mode)) {
            if (::WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr)) return;
        } else if (::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
            return;
        }
    }
    ::MessageBoxW(nullptr, wide.c_str(), Utf8ToWide(texts::kApplicationTitle).c_str(),
                  MB_OK | (error ? MB_ICONERROR : MB_ICONINFORMATION));
}

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, const wchar_t* const* argv) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(WideToUtf8(argv[i]));
    return arguments;
}

int RunWindowProgram(HINSTANCE instance, const std::vector<std::string>& arguments, int showCommand) {
    const TWindowCommandLine line = ParseWindowCommandLine(arguments);
    if (const std::optional<TCommandLineAnswer> answer = AnswerWindowCommandLine(line, ZELK_VERSION)) {
        if (!answer->Out.empty()) Say(answer->Out, false);
        if (!answer->Err.empty()) Say(answer->Err, true);
        return answer->Status;
    }
    TMainWindow window(instance);
    window.Show(showCommand);
    window.Logic().ApplyOptions(line.Options);
    return RunMessageLoop(window);
}

}  // namespace zelk::win32
