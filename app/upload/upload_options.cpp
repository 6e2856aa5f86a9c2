#include "upload_options.h"

#include <algorithm>
#include <charconv>
#include <cctype>
#include <cmath>

#include "serial/com_port.h"

namespace zelk::upload {

namespace {

int ParseInt(const std::string& option, const std::string& text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        throw EUsageError(option + " expects a whole number, not '" + text + "'");
    return value;
}

double ParseSeconds(const std::string& option, const std::string& text) {
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || value < 0)
        throw EUsageError(option + " expects a number of seconds (0 or more), not '" + text + "'");
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
    bool portGiven = false;
    std::vector<std::string> files;

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool hasInlineValue = false;
        if (arg.rfind("--", 0) == 0) {
            if (const auto eq = arg.find('='); eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                hasInlineValue = true;
            }
        }
        const auto takeValue = [&]() -> std::string {
            if (hasInlineValue) return value;
            if (i + 1 >= args.size()) throw EUsageError(arg + " needs a value");
            return args[++i];
        };

        if (arg == "-h" || arg == "--help") {
            parsed.Command = TCommand::Help;
            return parsed;
        } else if (arg == "--version") {
            parsed.Command = TCommand::Version;
            return parsed;
        } else if (arg == "-p" || arg == "--port") {
            o.Port = ParseInt(arg, takeValue());
            if (o.Port < 1 || o.Port > 20) throw EUsageError("the port number must be 1 to 20");
            portGiven = true;
        } else if (arg == "-d" || arg == "--device") {
            o.Device = takeValue();
            if (o.Device.empty()) throw EUsageError(arg + " needs a device path");
        } else if (arg == "-b" || arg == "--baud") {
            o.Baud = ParseInt(arg, takeValue());
            if (!SupportedBaud(o.Baud))
                throw EUsageError("unsupported baud rate " + std::to_string(o.Baud) +
                                  "; use 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600 or 115200");
        } else if (arg == "-s" || arg == "--start") {
            const std::string text = takeValue();
            const auto start = CanonicalStart(text);
            if (!start)
                throw EUsageError("invalid start address '" + text +
                                  "'; give the page as XX00h or 0xXX00 with two hex digits XX, e.g. 0100h or 0x0100");
            o.Start = *start;
        } else if (arg == "-r" || arg == "--retries") {
            o.Retries = ParseInt(arg, takeValue());
            if (o.Retries < 0) throw EUsageError("--retries expects 0 or more");
        } else if (arg == "-t" || arg == "--timeout") {
            o.TimeoutSeconds = ParseSeconds(arg, takeValue());
        } else if (arg == "-q" || arg == "--quiet") {
            o.Quiet = true;
        } else if (arg == "--") {
            files.insert(files.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            break;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw EUsageError("unknown option " + arg);
        } else {
            files.push_back(arg);
        }
    }

    if (portGiven && !o.Device.empty()) throw EUsageError("give either --port or --device, not both");
    if (files.empty()) throw EUsageError("no file to upload");
    if (files.size() > 1) throw EUsageError("only one file can be uploaded at a time");
    o.File = files.front();
    return parsed;
}

std::string HelpText(const std::string& program) {
    return "Usage: " + program + R"( [options] FILE

Uploads FILE (at most 65,535 bytes) to the ZELK network controller of a
Vector-06C over a serial port, exactly as the ZELK window does.

Options:
  -p, --port N         serial port number 1-20 (default 1): COM1-4 are /dev/ttyS0-3,
                       COM5-12 /dev/ttyUSB0-7, COM13-20 /dev/ttyACM0-7;
                       ZELK_COM<N>=PATH in the environment maps N to any device
  -d, --device PATH    use this serial device instead of a port number
  -b, --baud RATE      1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000,
                       57600 or 115200 (default 115200)
  -s, --start ADDR     start address in RAM as XX00h or 0xXX00 (default 0100h);
                       its first two hex digits XX are sent as the start page
  -t, --timeout SECS   give up when the device is silent this long (default 30;
                       0 waits forever, as the window does)
  -r, --retries N      give up when the device rejects the same packet N times
                       in a row (default 10; 0 never gives up)
  -q, --quiet          print nothing but errors
  -h, --help           show this help
      --version        show the version

Exit status: 0 uploaded; 1 the transfer failed or was interrupted;
2 usage or file error; 3 port error; 4 time-out.
)";
}

}  // namespace zelk::upload
