// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace zelk {

class TForm1;

// What the window's command line asks for; each option left out leaves its
// control as the window starts.
struct TWindowOptions {
    std::optional<int> Port;       // 1-20, through the up-down control
    std::optional<int> Baud;       // selects the speed list's "br<Baud>"
    std::optional<QString> Start;  // typed into the start box
    std::optional<QString> File;   // loaded as if picked in the dialog
};

enum class TWindowCommand { Run, Help, Version, UsageError };

struct TWindowCommandLine {
    TWindowCommand Command = TWindowCommand::Run;
    TWindowOptions Options;
    QString Error;  // for UsageError
};

// `zelk [-p N] [-b RATE] [-s TEXT] [FILE]`, the program name first. Needs no
// application object, so --help and --version need no display.
TWindowCommandLine ParseWindowCommandLine(const QStringList& arguments);
QString WindowHelpText();

// Sets the controls as a user would, so that their own checks run, then loads
// the file, whose errors show as a load from the dialog shows them.
void ApplyWindowOptions(TForm1& form, const TWindowOptions& options);

}  // namespace zelk
