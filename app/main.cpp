// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include <QApplication>
#include <QFile>
#include <QStringList>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "ui/ABOUT.h"
#include "ui/close_on_signals.h"
#include "ui/fils_io.h"
#include "ui/main_zelk.h"
#include "window/command_line.h"
#include "window/texts.h"

namespace {

std::vector<std::string> Encoded(const QStringList& arguments) {
    std::vector<std::string> encoded;
    for (const QString& a : arguments) encoded.push_back(QFile::encodeName(a).toStdString());
    return encoded;
}

// The exit status when the command line is answered without the window.
std::optional<int> Answer(const zelk::TWindowCommandLine& line) {
    const std::optional<zelk::TCommandLineAnswer> answer = zelk::AnswerWindowCommandLine(line, ZELK_VERSION);
    if (!answer) return std::nullopt;
    std::cout << answer->Out << std::flush;
    std::cerr << answer->Err;
    return answer->Status;
}

}  // namespace

int main(int argc, char* argv[]) {
    // --help, --version and usage errors first, with no window system; an
    // error that may come from Qt's own options waits until they are out.
    const std::vector<std::string> given(argv, argv + argc);
    const zelk::TWindowCommandLine early = zelk::ParseWindowCommandLine(given);
    if (early.Command != zelk::TWindowCommand::Run &&
        (early.Command != zelk::TWindowCommand::UsageError || !zelk::MayHoldToolkitOptions(given)))
        return *Answer(early);

    zelk::TForm1* window = nullptr;
    // Before QApplication, whose threads must inherit the blocked signals.
    zelk::TCloseOnSignals closeOnSignals([&window] {
        if (window != nullptr) window->close();  // releases the port
        // Also ends the loops of modal dialogs that may be open.
        QCoreApplication::exit(0);
    });
    QApplication app(argc, argv);
    // The name, not the display name: Qt would append a display name to
    // every window caption.
    QApplication::setApplicationName(zelk::texts::kApplicationTitle);
    QApplication::setApplicationVersion(ZELK_VERSION);
    const zelk::TWindowCommandLine line = zelk::ParseWindowCommandLine(Encoded(QApplication::arguments()));
    if (const std::optional<int> status = Answer(line)) return *status;

    zelk::TForm1 form1;
    zelk::TAboutBox aboutBox;
    zelk::TForm2 form2;
    form1.Attach(aboutBox, form2);
    window = &form1;
    closeOnSignals.Watch();
    form1.show();
    form1.Logic().ApplyOptions(line.Options);
    return app.exec();
}
