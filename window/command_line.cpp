// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "window/command_line.h"

#include <charconv>

#include "common/licence.h"
#include "serial/com_port.h"
#include "serial/port_range.h"
#include "window/texts.h"

namespace zelk {

namespace {

// Characters, not bytes, of UTF-8 text: a lead byte with the continuation
// bytes it announces is one. Any other byte, a stray continuation byte
// included, is one of its own, as a decoder shows it (U+FFFD): "A" and a
// hundred continuation bytes are many characters, not one.
std::size_t CharacterCount(const std::string& text) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size(); ++n) {
        const auto lead = static_cast<unsigned char>(text[i++]);
        const int more = lead >= 0xF0 && lead <= 0xF4 ? 3 : lead >= 0xE0 && lead <= 0xEF ? 2 : lead >= 0xC2 && lead <= 0xDF ? 1 : 0;
        for (int k = 0; k < more && i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80; ++k) ++i;
    }
    return n;
}

std::optional<int> Decimal(const std::string& text) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

enum class TOption { Port, Baud, Start, Help, Version };

struct TOptionName {
    char Short;  // 0 for none
    const char* Long;
    TOption Option;
    bool TakesValue;
};

constexpr TOptionName kOptions[] = {
    {'p', "port", TOption::Port, true},   {'b', "baud", TOption::Baud, true}, {'s', "start", TOption::Start, true},
    {'h', "help", TOption::Help, false},  {0, "version", TOption::Version, false},
};

const TOptionName* ByShort(char c) {
    for (const TOptionName& o : kOptions)
        if (o.Short != 0 && o.Short == c) return &o;
    return nullptr;
}

const TOptionName* ByLong(std::string_view name) {
    for (const TOptionName& o : kOptions)
        if (name == o.Long) return &o;
    return nullptr;
}

}  // namespace

TWindowCommandLine ParseWindowCommandLine(const std::vector<std::string>& arguments) {
    TWindowCommandLine line;
    std::optional<std::string> error;  // the first one; help and version still win
    std::vector<std::string> unknown;
    std::optional<std::string> port, baud, start;
    std::vector<std::string> files;
    bool help = false, version = false;

    const auto take = [&](const TOptionName& o, const std::string& value) {
        switch (o.Option) {
        case TOption::Port: port = value; break;
        case TOption::Baud: baud = value; break;
        case TOption::Start: start = value; break;
        case TOption::Help: help = true; break;
        case TOption::Version: version = true; break;
        }
    };
    const auto missing = [&](const std::string& written) {
        if (!error) error = "Missing value after '" + written + "'.";
    };

    bool optionsEnded = false;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            files.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        if (a[1] == '-') {
            const std::size_t eq = a.find('=');
            const std::string name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
            const TOptionName* o = ByLong(name);
            if (!o) {
                unknown.push_back(name);
                continue;
            }
            if (!o->TakesValue) {
                // --help=x is no --help: a usage error, unless a real --help or --version wins.
                if (eq == std::string::npos)
                    take(*o, {});
                else if (!error)
                    error = "Unexpected value after '--" + name + "'.";
            } else if (eq != std::string::npos) {
                take(*o, a.substr(eq + 1));
            } else if (i + 1 < arguments.size()) {
                take(*o, arguments[++i]);
            } else {
                missing(a);
            }
            continue;
        }
        // Short options, grouped: -qp 5 would be -q -p 5; a value may follow joined (-p5).
        for (std::size_t k = 1; k < a.size(); ++k) {
            const TOptionName* o = ByShort(a[k]);
            if (!o) {
                // One character of UTF-8 text, whole, in the message.
                std::size_t end = k + 1;
                while (end < a.size() && (static_cast<unsigned char>(a[end]) & 0xC0) == 0x80) ++end;
                unknown.push_back(a.substr(k, end - k));
                k = end - 1;
                continue;
            }
            if (!o->TakesValue) {
                take(*o, {});
                continue;
            }
            if (k + 1 < a.size())
                take(*o, a.substr(k + 1));
            else if (i + 1 < arguments.size())
                take(*o, arguments[++i]);
            else
                missing("-" + std::string(1, a[k]));
            break;
        }
    }

    if (help) {
        line.Command = TWindowCommand::Help;
        return line;
    }
    if (version) {
        line.Command = TWindowCommand::Version;
        return line;
    }
    const auto fail = [&line](std::string message) {
        line.Command = TWindowCommand::UsageError;
        line.Error = std::move(message);
        line.Options = {};
        return line;
    };
    if (unknown.size() == 1) return fail("Unknown option '" + unknown.front() + "'.");
    if (unknown.size() > 1) {
        std::string names;
        for (const std::string& u : unknown) names += (names.empty() ? "" : ", ") + u;
        return fail("Unknown options: " + names + ".");
    }
    if (error) return fail(*error);

    TWindowOptions& o = line.Options;
    if (port) {
        const std::optional<int> n = Decimal(*port);
        if (!n || *n < kFirstPortNumber || *n > kLastPortNumber)
            return fail("the port number must be " + std::to_string(kFirstPortNumber) + " to " +
                        std::to_string(kLastPortNumber) + ", not '" + *port + "'");
        o.Port = *n;
    }
    if (baud) {
        const std::optional<int> rate = Decimal(*baud);
        if (!rate || !SupportedBaud(*rate))
            return fail("unsupported baud rate '" + *baud +
                        "'; use 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600 or 115200");
        o.Baud = *rate;
    }
    if (start) {
        if (CharacterCount(*start) > static_cast<std::size_t>(texts::kStartMaxLength))
            return fail("the start address takes at most 5 characters (e.g. 0100h), not '" + *start + "'");
        o.Start = *start;
    }
    if (files.size() > 1) return fail("only one file can be loaded");
    if (files.size() == 1) o.File = files.front();
    return line;
}

std::string WindowHelpText() {
#ifdef _WIN32
    constexpr const char* kPorts = R"(  -p, --port N       serial port number 1-20 (default 1), COMN as Device
                     Manager numbers it; ZELK_COM<N>=NAME in the
                     environment maps N to any device
)";
#else
    constexpr const char* kPorts = R"(  -p, --port N       serial port number 1-20 (default 1): COM1-4 are
                     /dev/ttyS0-3, COM5-12 /dev/ttyUSB0-7, COM13-20
                     /dev/ttyACM0-7; ZELK_COM<N>=PATH in the environment
                     maps N to any device
)";
#endif
    std::string text = R"(Usage: zelk [OPTION]... [FILE]
Opens the ZELK window, which uploads a program file (at most 65,535 bytes) to
the ZELK network controller of a Vector-06C over a serial port.

The options set the window's controls as if the user had set them, and FILE
is loaded as if it had been picked in the open-file dialog; the port still
opens with the window's port button.

)";
    text += kPorts;
    text += R"(  -b, --baud RATE    1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000,
                     57600 or 115200 (default 115200)
  -s, --start TEXT   start address in RAM, e.g. 0000h or 0100h (default
                     0100h); the window checks it as it checks typed text
  -h, --help         show this help and exit
      --version      show the version and exit

)";
#ifndef _WIN32
    // The window's toolkit (Qt) takes its own options out first.
    text += "Qt's own options, such as -platform NAME or -style NAME, are taken as well.\n\n";
#endif
    text += "Exit status: 0 when the window is closed; 2 for a usage error.\n";
    return text;
}

std::string WindowVersionText(const std::string& version) { return "zelk " + version + '\n' + kLicenceNotice; }

std::optional<TCommandLineAnswer> AnswerWindowCommandLine(const TWindowCommandLine& line, const std::string& version) {
    switch (line.Command) {
    case TWindowCommand::Help:
        return TCommandLineAnswer{WindowHelpText(), "", 0};
    case TWindowCommand::Version:
        return TCommandLineAnswer{WindowVersionText(version), "", 0};
    case TWindowCommand::UsageError:
        return TCommandLineAnswer{"", "zelk: " + line.Error + "\nTry 'zelk --help' for more information.\n", 2};
    case TWindowCommand::Run:
        break;
    }
    return std::nullopt;
}

bool MayHoldToolkitOptions(const std::vector<std::string>& arguments) {
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (a == "--") break;
        if (a.empty() || a[0] != '-') continue;
        if (a.size() > 1 && a[1] == '-') {
            const std::size_t eq = a.find('=');
            const TOptionName* o = ByLong(std::string_view(a).substr(2, eq == std::string::npos ? std::string::npos : eq - 2));
            if (o == nullptr) return true;
            if (o->TakesValue && eq == std::string::npos) ++i;
            continue;
        }
        // One of the window's short options, its value joined or next; a
        // letter after it makes a word, such as -platform.
        const TOptionName* o = a.size() > 1 ? ByShort(a[1]) : nullptr;
        if (o == nullptr || (a.size() > 2 && letter(a[2]))) return true;
        if (o->TakesValue && a.size() == 2) ++i;
    }
    return false;
}

}  // namespace zelk
