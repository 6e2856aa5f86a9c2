// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// Fuzz target: the port list's reading of what udev and sysfs say about a tty.
//
// Input: lines "KEY=VALUE" (any bytes but newline in both; a line without
// '=' is a key with an empty value), as `udevadm info -q property` prints
// a device's properties. Keys of the record itself:
//   @sys @node @real @driver   SysName, DevNode, RealPath, Driver
//   @parent @access            HasParent, Accessible (present: true)
//   @type                      the sysfs "type" attribute, read by ParseUartType
//   usb:NAME                   an attribute of the USB device above it
//   com:N                      the COM number N reaches the path VALUE
// Every other key is a udev property (DEVLINKS, ID_MODEL_ENC, ...).
//
// An input whose first line is "@win" is a Windows device record instead:
//   @id @parent-id @port @friendly @desc @service @version @loc @parent-loc
//   @hw @compat (one ID a line, repeatable)   @latency (a number)
// Oracles: the record is a device exactly when its port name is "COM" and a
// number 1 to 255 without sign or leading zero; the device is \\.\COMn;
// its USB ID is four lower-case hex digits, ':', four more, found as VID_/PID_
// in one of the IDs; its serial is part of the instance or the parent's ID
// and holds no '&' or '\\'; the latency timer is the record's when at most 255.
//
// Oracles: ParseUartType gives exactly the decimal number the text starts
// with (after blanks, with a sign) when it fits an int, else nothing; the
// record is a device exactly when it has a node, a parent and a driver and is
// no placeholder (type 0); the device keeps the record's path, driver and
// access; its COM number is one whose path is the node's; its by-id link is
// one of DEVLINKS' words under /dev/serial/by-id/; vendor:product is made of
// the record's ids; ttyUSB and ttyACM are USB; its description is not empty.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "serial/port_list.h"

namespace zelk::fuzz {
namespace {

// The number a sysfs value starts with, computed digit by digit; nothing
// when there is none or it leaves an int's range.
std::optional<int> ExpectedUartType(const std::string& text) {
    std::size_t pos = 0;
    while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
    if (pos == text.size() || !std::isdigit(static_cast<unsigned char>(text[pos]))) return std::nullopt;
    long long value = 0;
    for (; pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])); ++pos) {
        value = value * 10 + (text[pos] - '0');
        if (value > static_cast<long long>(std::numeric_limits<int>::max()) + 1) return std::nullopt;
    }
    if (negative) value = -value;
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) return std::nullopt;
    return static_cast<int>(value);
}

std::string Get(const std::map<std::string, std::string>& values, const std::string& key) {
    const auto found = values.find(key);
    return found != values.end() ? found->second : std::string();
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

void RunWindows(const std::string& text) {
    TWinPortRecord r;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t eq = line.find('=');
        const std::string key = line.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
        if (key == "@id") r.InstanceId = value;
        else if (key == "@parent-id") r.ParentInstanceId = value;
        else if (key == "@port") r.PortName = value;
        else if (key == "@friendly") r.FriendlyName = value;
        else if (key == "@desc") r.DeviceDesc = value;
        else if (key == "@service") r.Service = value;
        else if (key == "@version") r.DriverVersion = value;
        else if (key == "@loc") r.Location = value;
        else if (key == "@parent-loc") r.ParentLocation = value;
        else if (key == "@hw") r.HardwareIds.push_back(value);
        else if (key == "@compat") r.CompatibleIds.push_back(value);
        else if (key == "@latency") r.LatencyTimer = static_cast<std::uint32_t>(ExpectedUartType(value).value_or(0));
    }
    const std::string port = Lower(r.PortName);
    const std::string digits = port.size() > 3 ? port.substr(3) : std::string();
    const bool numbered = port.starts_with("com") && !digits.empty() && digits.size() <= 3 && digits[0] != '0' &&
                          std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
                          std::stoi(digits) <= 255;
    const std::optional<TSerialDevice> d = DeviceFromRecord(r);
    ZELK_FUZZ_CHECK(d.has_value() == numbered, "port name '" + r.PortName + "'");
    if (!d) return;
    ZELK_FUZZ_CHECK(d->Number == std::stoi(digits) && d->Path == "\\\\.\\COM" + digits, "path '" + d->Path + "'");
    if (!d->VendorProduct.empty()) {
        const std::string& id = d->VendorProduct;
        const bool shaped = id.size() == 9 && id[4] == ':' && std::all_of(id.begin(), id.end(), [](char c) {
            return c == ':' || std::isdigit(static_cast<unsigned char>(c)) || (c >= 'a' && c <= 'f');
        });
        ZELK_FUZZ_CHECK(shaped, "USB ID '" + id + "'");
        bool found = false;
        std::vector<std::string> ids = r.HardwareIds;
        ids.push_back(r.InstanceId);
        ids.push_back(r.ParentInstanceId);
        for (const std::string& each : ids) {
            const std::string lower = Lower(each);
            for (const char joint : {'&', '+'})
                found = found || lower.find("vid_" + id.substr(0, 4) + joint + "pid_" + id.substr(5)) != std::string::npos;
        }
        ZELK_FUZZ_CHECK(found, "USB ID '" + id + "' in no ID");
    }
    if (!d->Serial.empty()) {
        ZELK_FUZZ_CHECK(d->Serial.find_first_of("&\\") == std::string::npos &&
                            (r.InstanceId.find(d->Serial) != std::string::npos ||
                             r.ParentInstanceId.find(d->Serial) != std::string::npos),
                        "serial '" + d->Serial + "'");
    }
    const bool timer = r.LatencyTimer && *r.LatencyTimer <= 255;
    ZELK_FUZZ_CHECK(d->LatencyMs.has_value() == timer && (!timer || *d->LatencyMs == static_cast<int>(*r.LatencyTimer)),
                    "latency timer");
}

void Run(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (text.starts_with("@win\n")) return RunWindows(text.substr(5));
    TPortRecord r;
    TNumberTable numbers;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const std::size_t eq = line.find('=');
        const std::string key = line.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
        if (key == "@sys") {
            r.SysName = value;
        } else if (key == "@node") {
            r.DevNode = value;
        } else if (key == "@real") {
            r.RealPath = value;
        } else if (key == "@driver") {
            r.Driver = value;
        } else if (key == "@parent") {
            r.HasParent = true;
        } else if (key == "@access") {
            r.Accessible = true;
        } else if (key == "@type") {
            r.UartType = ParseUartType(value);
            const std::optional<int> expected = ExpectedUartType(value);
            ZELK_FUZZ_CHECK(r.UartType == expected,
                            "type '" + value + "' read as " + (r.UartType ? std::to_string(*r.UartType) : "nothing") +
                                ", expected " + (expected ? std::to_string(*expected) : "nothing"));
        } else if (key.starts_with("usb:")) {
            r.UsbAttributes[key.substr(4)] = value;
        } else if (key.starts_with("com:")) {
            numbers.emplace_back(ExpectedUartType(key.substr(4)).value_or(0), value);
        } else {
            r.Properties[key] = value;
        }
    }

    const std::optional<TSerialDevice> d = DeviceFromRecord(r, numbers);
    const bool device = !r.DevNode.empty() && r.HasParent && !r.Driver.empty() && !(r.UartType && *r.UartType == 0);
    ZELK_FUZZ_CHECK(d.has_value() == device, "a device: " + std::to_string(d.has_value()));
    if (!d) return;
    ZELK_FUZZ_CHECK(d->Path == r.DevNode && d->Driver == r.Driver && d->Accessible == r.Accessible,
                    "path '" + d->Path + "', driver '" + d->Driver + "'");
    const std::string real = r.RealPath.empty() ? r.DevNode : r.RealPath;
    bool numbered = false;
    for (const auto& [number, path] : numbers) numbered = numbered || path == real || path == r.DevNode;
    if (d->Number != 0 || numbered) {
        bool found = false;
        for (const auto& [number, path] : numbers)
            found = found || (number == d->Number && (path == real || path == r.DevNode));
        ZELK_FUZZ_CHECK(found, "COM number " + std::to_string(d->Number) + " reaches another path");
    }
    if (!d->ById.empty()) {
        ZELK_FUZZ_CHECK(d->ById.starts_with("/dev/serial/by-id/"), "by-id link '" + d->ById + "'");
        std::istringstream words(Get(r.Properties, "DEVLINKS"));
        bool found = false;
        for (std::string word; words >> word;) found = found || word == d->ById;
        ZELK_FUZZ_CHECK(found, "by-id link '" + d->ById + "' is no word of DEVLINKS");
    }
    if (!d->VendorProduct.empty()) {
        const std::string fromUdev = Get(r.Properties, "ID_VENDOR_ID") + ":" + Get(r.Properties, "ID_MODEL_ID");
        const std::string fromUsb = Get(r.UsbAttributes, "idVendor") + ":" + Get(r.UsbAttributes, "idProduct");
        ZELK_FUZZ_CHECK(d->VendorProduct == fromUdev || d->VendorProduct == fromUsb,
                        "vendor:product '" + d->VendorProduct + "'");
    }
    if (r.SysName.starts_with("ttyUSB") || r.SysName.starts_with("ttyACM")) ZELK_FUZZ_CHECK(d->Usb, r.SysName);
    ZELK_FUZZ_CHECK(!DeviceDescription(*d).empty(), "an empty description");
}

}  // namespace
}  // namespace zelk::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zelk::fuzz::Run(data, size);
    return 0;
}
