// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "app/window_options.h"

#include <QCommandLineParser>
#include <QComboBox>
#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>

#include "serial/com_port.h"
#include "ui/main_zelk.h"
#include "ui/up_down.h"

namespace zelk {

namespace {

constexpr int kStartMaxLength = 5;  // as many characters as the start box takes

template <class T>
T& Control(TForm1& form, const char* name) {
    T* control = form.findChild<T*>(name);
    if (!control) throw std::logic_error(std::string("the window has no control ") + name);
    return *control;
}

}  // namespace

TWindowCommandLine ParseWindowCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    const QCommandLineOption port({"p", "port"}, {}, "N");
    const QCommandLineOption baud({"b", "baud"}, {}, "RATE");
    const QCommandLineOption start({"s", "start"}, {}, "TEXT");
    const QCommandLineOption help(QStringList{"h", "help"});
    const QCommandLineOption version("version");
    parser.addOptions({port, baud, start, help, version});
    parser.addPositionalArgument("FILE", {});

    TWindowCommandLine line;
    const bool parsed = parser.parse(arguments);
    if (parser.isSet(help)) {
        line.Command = TWindowCommand::Help;
        return line;
    }
    if (parser.isSet(version)) {
        line.Command = TWindowCommand::Version;
        return line;
    }
    const auto fail = [&line](const QString& error) {
        line.Command = TWindowCommand::UsageError;
        line.Error = error;
        return line;
    };
    if (!parsed) return fail(parser.errorText());

    TWindowOptions& o = line.Options;
    if (parser.isSet(port)) {
        bool ok = false;
        const int n = parser.value(port).toInt(&ok);
        if (!ok || n < 1 || n > 20) return fail("the port number must be 1 to 20, not '" + parser.value(port) + "'");
        o.Port = n;
    }
    if (parser.isSet(baud)) {
        bool ok = false;
        const int rate = parser.value(baud).toInt(&ok);
        if (!ok || !SupportedBaud(rate))
            return fail("unsupported baud rate '" + parser.value(baud) +
                        "'; use 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600 or 115200");
        o.Baud = rate;
    }
    if (parser.isSet(start)) {
        const QString text = parser.value(start);
        if (text.size() > kStartMaxLength)
            return fail("the start address takes at most 5 characters (e.g. 0100h), not '" + text + "'");
        o.Start = text;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) return fail("only one file can be loaded");
    if (files.size() == 1) o.File = files.constFirst();
    return line;
}

QString WindowHelpText() {
    return R"(Usage: zelk [OPTION]... [FILE]
Opens the ZELK window, which uploads a program file (at most 65,535 bytes) to
the ZELK network controller of a Vector-06C over a serial port.

The options set the window's controls as if the user had set them, and FILE
is loaded as if it had been picked in the open-file dialog; the port still
opens with the window's port button.

  -p, --port N       serial port number 1-20 (default 1): COM1-4 are
                     /dev/ttyS0-3, COM5-12 /dev/ttyUSB0-7, COM13-20
                     /dev/ttyACM0-7; ZELK_COM<N>=PATH in the environment
                     maps N to any device
  -b, --baud RATE    1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000,
                     57600 or 115200 (default 115200)
  -s, --start TEXT   start address in RAM, e.g. 0000h or 0100h (default
                     0100h); the window checks it as it checks typed text
  -h, --help         show this help and exit
      --version      show the version and exit

Qt's own options, such as -platform NAME or -style NAME, are taken as well.

Exit status: 0 when the window is closed; 2 for a usage error.
)";
}

void ApplyWindowOptions(TForm1& form, const TWindowOptions& options) {
    if (options.Port) Control<TUpDown>(form, "UDCom").SetPosition(*options.Port);
    if (options.Baud) {
        auto& speed = Control<QComboBox>(form, "CB_Speed");
        speed.setCurrentIndex(speed.findText("br" + QString::number(*options.Baud)));
    }
    if (options.Start) Control<QComboBox>(form, "StartBox").setEditText(*options.Start);
    if (options.File) form.LoadPath(*options.File);
}

}  // namespace zelk
