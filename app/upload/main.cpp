// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "common/licence.h"
#ifdef _WIN32
#include "common/wide_text.h"
#include "console.h"
#endif
#include "messages.h"
#include "port_choice.h"
#include "serial/port_list.h"
#include "upload_options.h"
#include "uploader.h"

namespace {

// The arguments after the program name, UTF-8.
int Run(const std::vector<std::string>& arguments) {
    using namespace zelk::upload;
    const std::string program = "zelk-upload";
    InitMessages();
#ifdef _WIN32
    // The messages are UTF-8 (a path may hold any letters): to a console
    // they go as UTF-16, elsewhere as UTF-8.
    const TConsoleText consoleText;
    DWORD consoleMode = 0;
    const bool errIsTerminal = ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &consoleMode) != 0;
#else
    // A reader of our messages that goes away (| head) must not end the
    // upload half way: its writes fail quietly instead.
    std::signal(SIGPIPE, SIG_IGN);
    const bool errIsTerminal = ::isatty(STDERR_FILENO) == 1;
#endif
    try {
        TParsed parsed = ParseCommandLine(arguments);
        switch (parsed.Command) {
        case TCommand::Help:
            std::cout << HelpText(program);
            return kExitUploaded;
        case TCommand::Version:
            std::cout << program << ' ' << ZELK_VERSION << '\n' << zelk::kLicenceNotice;
            return kExitUploaded;
        case TCommand::ListPorts:
            std::cout << FormatPortList(zelk::ListSerialDevices());
            return kExitUploaded;
        case TCommand::Upload: {
            TUploadOptions& options = parsed.Options;
            // Neither -p nor -d: the one USB serial device present, never a
            // wait on a port that is not there.
            if (!options.PortGiven && options.Device.empty()) {
                const TPortChoice choice = ChoosePort(zelk::ListSerialDevices());
                if (!choice.Device) {
                    std::cerr << program << ": " << choice.Problem << (choice.Problem.ends_with('\n') ? "" : "\n");
                    return kExitUsageOrFile;
                }
                if (choice.Device->Number > 0 && choice.Device->Number <= zelk::kHighestPortNumber)
                    options.Port = choice.Device->Number;
                else
                    options.Device = choice.Device->Path;
                if (!options.Quiet) std::cerr << ChosenPortLine(*choice.Device) << '\n';
            }
            return RunUpload(options, std::cerr, errIsTerminal);
        }
        }
    } catch (const EUsageError& e) {
        std::cerr << program << ": " << e.what() << '\n'
                  << Fill(_("Try '{1} --help' for more information."), {program}) << '\n';
        return kExitUsageOrFile;
    } catch (const std::exception& e) {
        std::cerr << program << ": " << e.what() << '\n';
        return kExitTransferFailed;
    }
    return kExitTransferFailed;
}

}  // namespace

#ifdef _WIN32
// -municode: the arguments as the system has them, UTF-16, so that a file
// name in any script reaches the program whatever the ANSI code page.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(zelk::WideToUtf8(argv[i]));
    return Run(arguments);
}
#else
int main(int argc, char** argv) { return Run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
