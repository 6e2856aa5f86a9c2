// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "upload_options.h"

#include <getopt.h>

#include <algorithm>
#include <charconv>
#include <cctype>
#include <cmath>

#include "messages.h"
#include "serial/com_port.h"
#include "serial/port_range.h"

namespace zelk::upload {

namespace {

int ParseInt(const std::string& option, const std::string& text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        throw EUsageError(Fill(_("{1} expects a whole number, not '{2}'"), {option, text}));
    return value;
}

double ParseSeconds(const std::string& option, const std::string& text) {
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || value < 0)
        throw EUsageError(Fill(_("{1} expects a number of seconds (0 or more), not '{2}'"), {option, text}));
    return value;
}

}  // namespace

std::optional<std::string> CanonicalStart(const std::string& text) {
    std::string page;
    if (text.size() == 5 && text.substr(2) == "00h") page = text.substr(0, 2);
    if (text.size() == 5 && text.substr(2) == "00H") page = text.substr(0, 2);
    if (text.size() == 6 && (text.starts_with("0x") || text.starts_with("0X")) && text.substr(4) == "00")
        page = text.substr(2, 2);
    if (page.empty() || !std::isxdigit(static_cast<unsigned char>(page[0])) ||
        !std::isxdigit(static_cast<unsigned char>(page[1])))
        return std::nullopt;
    for (char& c : page) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return page + "00h";
}

TParsed ParseCommandLine(const std::vector<std::string>& args) {
    TParsed parsed;
    TUploadOptions& o = parsed.Options;

    enum : int { kVersion = 256, kLog, kListPorts };
    static const option kLongOptions[] = {
        {"port", required_argument, nullptr, 'p'},    {"device", required_argument, nullptr, 'd'},
        {"baud", required_argument, nullptr, 'b'},    {"start", required_argument, nullptr, 's'},
        {"retries", required_argument, nullptr, 'r'}, {"timeout", required_argument, nullptr, 't'},
        {"quiet", no_argument, nullptr, 'q'},         {"verbose", no_argument, nullptr, 'v'},
        {"help", no_argument, nullptr, 'h'},          {"version", no_argument, nullptr, kVersion},
        {"log", required_argument, nullptr, kLog},    {"list-ports", no_argument, nullptr, kListPorts},
        {nullptr, 0, nullptr, 0},
    };
    // getopt_long wants a program name first and writable strings.
    std::vector<std::string> storage;
    storage.reserve(args.size() + 1);
    storage.push_back("zelk-upload");
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : storage) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(storage.size());

    // The option as typed, for messages: "--port" or "-p".
    const auto named = [&](int index, int shortName) -> std::string {
        if (index >= 0) return std::string("--") + kLongOptions[index].name;
        return std::string("-") + static_cast<char>(shortName);
    };

    optind = 0;  // GNU: start afresh, also after an earlier parse
    opterr = 0;  // our own messages
    for (;;) {
        int index = -1;
        const int c = ::getopt_long(argc, argv.data(), ":p:d:b:s:r:t:qvh", kLongOptions, &index);
        if (c == -1) break;
        const std::string arg = named(index, c);
        const std::string value = optarg != nullptr ? optarg : "";
        switch (c) {
        case 'h':
            parsed.Command = TCommand::Help;
            return parsed;
        case kVersion:
            parsed.Command = TCommand::Version;
            return parsed;
        case kListPorts:
            parsed.Command = TCommand::ListPorts;
            break;
        case 'p':
            o.Port = ParseInt(arg, value);
            if (o.Port < kFirstPortNumber || o.Port > kLastPortNumber) throw EUsageError(_("the port number must be 1 to 20"));
            o.PortGiven = true;
            break;
        case 'd':
            o.Device = value;
            if (o.Device.empty()) throw EUsageError(Fill(_("{1} needs a device path"), {arg}));
            break;
        case 'b':
            o.Baud = ParseInt(arg, value);
            if (!SupportedBaud(o.Baud))
                throw EUsageError(Fill(_("unsupported baud rate {1}; use 1200, 2400, 4800, 9600, 14400, 19200, "
                                         "38400, 56000, 57600 or 115200"),
                                       {std::to_string(o.Baud)}));
            break;
        case 's': {
            const auto start = CanonicalStart(value);
            if (!start)
                throw EUsageError(Fill(_("invalid start address '{1}'; give the page as XX00h or 0xXX00 with two "
                                         "hex digits XX, e.g. 0100h or 0x0100"),
                                       {value}));
            o.Start = *start;
            break;
        }
        case 'r':
            o.Retries = ParseInt(arg, value);
            if (o.Retries < 0) throw EUsageError(Fill(_("{1} expects 0 or more"), {"--retries"}));
            break;
        case 't':
            o.TimeoutSeconds = ParseSeconds(arg, value);
            break;
        case 'q':
            o.Quiet = true;
            break;
        case 'v':
            o.Verbose = true;
            break;
        case kLog:
            o.LogFile = value;
            if (o.LogFile.empty()) throw EUsageError(Fill(_("{1} needs a file name"), {arg}));
            break;
        case ':': {
            // A long option names itself in the word that lacked its value.
            const std::string word = argv[optind - 1];
            throw EUsageError(Fill(_("{1} needs a value"),
                                   {word.starts_with("--") ? word.substr(0, word.find('=')) : named(-1, optopt)}));
        }
        default: {  // '?'
            const std::string word = argv[optind - 1];
            if (optopt != 0 && !word.starts_with("--"))
                throw EUsageError(Fill(_("unknown option {1}"), {named(-1, optopt)}));
            if (optopt != 0) throw EUsageError(Fill(_("option {1} takes no value"), {word.substr(0, word.find('='))}));
            throw EUsageError(Fill(_("unknown option {1}"), {word.substr(0, word.find('='))}));
        }
        }
    }
    if (parsed.Command == TCommand::ListPorts) return parsed;

    // getopt_long has moved the files behind the options, "--" included.
    const std::vector<std::string> files(argv.begin() + optind, argv.begin() + argc);
    if (o.PortGiven && !o.Device.empty()) throw EUsageError(_("give either --port or --device, not both"));
    if (files.empty()) throw EUsageError(_("no file to upload"));
    if (files.size() > 1) throw EUsageError(_("only one file can be uploaded at a time"));
    o.File = files.front();
    return parsed;
}

std::chrono::steady_clock::duration TimeoutDuration(double seconds) {
    // A double past the clock's range has no duration: converting it is
    // undefined (1e10 s is 1e19 ns, more than 64 bits hold).
    const double bounded = seconds > 0 ? std::min(seconds, kMaxTimeoutSeconds) : 0.0;
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(bounded));
}

std::string HelpText(const std::string& program) {
    std::string text = Fill(_(R"(Usage: {1} [options] FILE
       {1} --list-ports

Uploads FILE (at most 65,535 bytes) to the ZELK network controller of a
Vector-06C over a serial port, exactly as the ZELK window does. With neither
--port nor --device, the one USB serial adapter plugged in is used.

Options:
  -p, --port N         serial port number 1-20: COM1-4 are /dev/ttyS0-3,
                       COM5-12 /dev/ttyUSB0-7, COM13-20 /dev/ttyACM0-7;
                       ZELK_COM<N>=PATH in the environment maps N to any device
  -d, --device PATH    use this serial device instead of a port number
      --list-ports     list the serial devices present, with their numbers
  -b, --baud RATE      1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000,
                       57600 or 115200 (default 115200)
  -s, --start ADDR     start address in RAM as XX00h or 0xXX00 (default 0100h);
                       its first two hex digits XX are sent as the start page
  -t, --timeout SECS   give up when the device is silent this long (default 30;
                       0 waits forever, as the window does)
  -r, --retries N      give up when the device rejects the same packet N times
                       in a row (default 10; 0 never gives up)
  -q, --quiet          print nothing but errors
  -v, --verbose        print every packet sent and every reply, timed, on stderr
      --log FILE       write that trace to FILE (for bug reports)
  -h, --help           show this help
      --version        show the version

Exit status: 0 uploaded; 1 the transfer failed or was interrupted;
2 usage or file error, or no single device to choose; 3 port error;
4 time-out.
)"),
                {program});
#ifdef _WIN32
    text += _("\nMessages reach a console as Unicode text, whatever its code page; redirected\n"
              "to a file or a pipe they are UTF-8.\n");
#endif
    return text;
}

}  // namespace zelk::upload
