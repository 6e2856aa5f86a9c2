// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include <QApplication>
#include <QFile>
#include <QRegularExpression>
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

constexpr const char* kQtOptionsNote =
    "Qt's own options, such as -platform NAME or -style NAME, are taken as well.";

std::vector<std::string> Encoded(const QStringList& arguments) {
    std::vector<std::string> encoded;
    for (const QString& a : arguments) encoded.push_back(QFile::encodeName(a).toStdString());
    return encoded;
}

// Whether an argument may be one of Qt's own options (-platform NAME,
// -style NAME, ...), which QApplication takes out: anything dashed that is
// not this program's own option or an option's value.
bool MayHoldQtOptions(const QStringList& arguments) {
    static const QRegularExpression own("^(-[pbsh]([^A-Za-z].*)?|--(port|baud|start|help|version)(=.*)?)$");
    static const QRegularExpression takesValue("^(-[pbs]|--(port|baud|start))$");
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == "--") break;
        if (!a.startsWith('-')) continue;
        if (!own.match(a).hasMatch()) return true;
        if (takesValue.match(a).hasMatch()) ++i;
    }
    return false;
}

// The exit status when the command line is answered without the window.
std::optional<int> Answer(const zelk::TWindowCommandLine& line) {
    switch (line.Command) {
    case zelk::TWindowCommand::Help:
        std::cout << zelk::WindowHelpText(kQtOptionsNote);
        return 0;
    case zelk::TWindowCommand::Version:
        std::cout << zelk::WindowVersionText(ZELK_VERSION);
        return 0;
    case zelk::TWindowCommand::UsageError:
        std::cerr << "zelk: " << line.Error << "\nTry 'zelk --help' for more information.\n";
        return 2;
    case zelk::TWindowCommand::Run:
        break;
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char* argv[]) {
    // --help, --version and usage errors first, with no window system; an
    // error that may come from Qt's own options waits until they are out.
    const std::vector<std::string> given(argv, argv + argc);
    QStringList arguments;
    for (const std::string& a : given) arguments << QFile::decodeName(QByteArray::fromStdString(a));
    const zelk::TWindowCommandLine early = zelk::ParseWindowCommandLine(given);
    if (early.Command != zelk::TWindowCommand::Run &&
        (early.Command != zelk::TWindowCommand::UsageError || !MayHoldQtOptions(arguments)))
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
