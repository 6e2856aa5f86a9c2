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
// Oracles: ParseUartType gives exactly the decimal number the text starts
// with (after blanks, with a sign) when it fits an int, else nothing; the
// record is a device exactly when it has a node, a parent and a driver and is
// no placeholder (type 0); the device keeps the record's path, driver and
// access; its COM number is one whose path is the node's; its by-id link is
// one of DEVLINKS' words under /dev/serial/by-id/; vendor:product is made of
// the record's ids; ttyUSB and ttyACM are USB; its description is not empty.

#include <cctype>
#include <cstdint>
#include <limits>
#include <optional>
#include <sstream>
#include <string>

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

void Run(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
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
