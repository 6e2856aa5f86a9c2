// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// The port list's portable part: from what the system says about a tty to
// the device the list shows. No I/O here but in CurrentNumberTable.
#include "serial/port_list.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "serial/com_port.h"
#include "serial/port_range.h"

namespace zelk {

namespace {

std::string Get(const std::map<std::string, std::string>& values, const std::string& key) {
    const auto found = values.find(key);
    return found != values.end() ? found->second : std::string();
}

// udev's *_ENC values escape blanks and odd bytes as \xNN.
std::string DecodeUdevEscapes(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string Trimmed(std::string text) {
    const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
    while (!text.empty() && blank(static_cast<unsigned char>(text.back()))) text.pop_back();
    const auto first = std::find_if_not(text.begin(), text.end(), [&](char c) { return blank(static_cast<unsigned char>(c)); });
    return std::string(first, text.end());
}

std::string ProductName(const TPortRecord& r) {
    const std::string modelId = Get(r.Properties, "ID_MODEL_ID");
    // Without a product string of its own udev puts the hex id in ID_MODEL.
    const auto named = [&](const std::string& model) { return !model.empty() && model != modelId; };
    if (const std::string enc = Trimmed(DecodeUdevEscapes(Get(r.Properties, "ID_MODEL_ENC"))); named(enc)) return enc;
    if (std::string model = Get(r.Properties, "ID_MODEL"); named(model)) {
        std::ranges::replace(model, '_', ' ');
        return model;
    }
    if (const std::string product = Trimmed(Get(r.UsbAttributes, "product")); !product.empty()) return product;
    return Get(r.Properties, "ID_MODEL_FROM_DATABASE");
}

}  // namespace

std::string ResolvedPath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(path, error);
    return error ? path : resolved.string();
}

TNumberTable CurrentNumberTable() {
    TNumberTable table;
    for (int number = kFirstPortNumber; number <= kLastPortNumber; ++number) {
        const std::string path = DevicePathForPort(number);
        if (path.empty()) continue;
        table.emplace_back(number, ResolvedPath(path));
    }
    return table;
}

std::optional<int> ParseUartType(std::string_view text) {
    // As strtol reads it: blanks, a sign, digits; whatever follows is ignored.
    std::size_t pos = 0;
    while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
    if (pos < text.size() && text[pos] == '+') {
        if (++pos < text.size() && text[pos] == '-') return std::nullopt;
    }
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data() + pos, text.data() + text.size(), value);
    if (ec != std::errc()) return std::nullopt;
    return value;
}

std::optional<TSerialDevice> DeviceFromRecord(const TPortRecord& r, const TNumberTable& numbers) {
    // Virtual consoles, pseudo-terminals and the like have no parent device;
    // the kernel keeps ttyS placeholders for UARTs that are not there, with
    // port type 0 ("unknown").
    if (r.DevNode.empty() || !r.HasParent || r.Driver.empty()) return std::nullopt;
    if (r.UartType && *r.UartType == 0) return std::nullopt;

    TSerialDevice d;
    d.Path = r.DevNode;
    const std::string real = r.RealPath.empty() ? r.DevNode : r.RealPath;
    for (const auto& [number, path] : numbers) {
        if (path == real || path == r.DevNode) {
            d.Number = number;
            break;
        }
    }
    std::istringstream links(Get(r.Properties, "DEVLINKS"));
    for (std::string link; links >> link;) {
        if (link.starts_with("/dev/serial/by-id/")) {
            d.ById = link;
            break;
        }
    }
    std::string vendor = Get(r.Properties, "ID_VENDOR_ID");
    std::string model = Get(r.Properties, "ID_MODEL_ID");
    if (vendor.empty() || model.empty()) {
        vendor = Get(r.UsbAttributes, "idVendor");
        model = Get(r.UsbAttributes, "idProduct");
    }
    if (!vendor.empty() && !model.empty()) d.VendorProduct = vendor + ':' + model;
    d.Product = ProductName(r);
    d.Serial = Get(r.Properties, "ID_SERIAL_SHORT");
    if (d.Serial.empty()) d.Serial = Trimmed(Get(r.UsbAttributes, "serial"));
    d.Driver = r.Driver;
    d.LatencyMs = r.LatencyTimer;
    d.Usb = r.SysName.starts_with("ttyUSB") || r.SysName.starts_with("ttyACM") || !r.UsbAttributes.empty() ||
            Get(r.Properties, "ID_BUS") == "usb";
    d.Accessible = r.Accessible;
    d.Holders = r.Holders;
    return d;
}

namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) { return Lower(a) == Lower(b); });
}

// "0403:6001" from the first "VID_0403&PID_6001" (USB) or "VID_0403+PID_6001"
// (FTDI's bus) in an ID, lower case as on Linux; empty when there is none.
std::string UsbIdIn(std::string_view id) {
    const auto hex4 = [](std::string_view t) {
        return t.size() >= 4 && std::all_of(t.begin(), t.begin() + 4, [](char c) {
                   return std::isxdigit(static_cast<unsigned char>(c)) != 0;
               });
    };
    for (std::size_t at = 0; at + 17 <= id.size(); ++at) {
        const std::string_view rest = id.substr(at);
        if (!StartsWithNoCase(rest, "VID_") || !hex4(rest.substr(4)) || (rest[8] != '&' && rest[8] != '+') ||
            !StartsWithNoCase(rest.substr(9), "PID_") || !hex4(rest.substr(13)))
            continue;
        std::string usbId = std::string(rest.substr(4, 4)) + ':' + std::string(rest.substr(13, 4));
        std::ranges::transform(usbId, usbId.begin(), Lower);
        return usbId;
    }
    return {};
}

// The parts of an instance ID: enumerator, device, instance.
std::vector<std::string_view> IdParts(std::string_view id) {
    std::vector<std::string_view> parts;
    for (std::size_t from = 0;;) {
        const std::size_t end = id.find('\\', from);
        parts.push_back(id.substr(from, end == std::string_view::npos ? std::string_view::npos : end - from));
        if (end == std::string_view::npos) return parts;
        from = end + 1;
    }
}

// The USB serial number in an instance ID. Windows makes the instance part
// of a USB device its serial number when the device has one, and a made-up
// "5&2b2a1f4c&0&2" (with '&') when not. FTDI's bus driver names its ports
// VID_0403+PID_6001+<serial><channel letter>.
std::string SerialIn(std::string_view id) {
    const std::vector<std::string_view> parts = IdParts(id);
    if (parts.size() != 3) return {};
    if (StartsWithNoCase(parts[0], "FTDIBUS")) {
        const std::size_t plus = parts[1].rfind('+');
        if (plus == std::string_view::npos) return {};
        const std::string_view serial = parts[1].substr(plus + 1);
        if (serial.size() < 2 || serial.find('&') != std::string_view::npos) return {};
        return std::string(serial.substr(0, serial.size() - 1));
    }
    // An interface of a composite device (MI_00) has a made-up instance part.
    if (!StartsWithNoCase(parts[0], "USB") || UsbIdIn(parts[1]).empty() || parts[2].empty() ||
        parts[2].find('&') != std::string_view::npos)
        return {};
    return std::string(parts[2]);
}

}  // namespace

std::optional<int> ComNumber(std::string_view portName) {
    // Digits only, no sign, no leading zero.
    if (!StartsWithNoCase(portName, "COM") || portName.size() == 3 || portName[3] < '1' || portName[3] > '9')
        return std::nullopt;
    int number = 0;
    const auto [end, ec] = std::from_chars(portName.data() + 3, portName.data() + portName.size(), number);
    if (ec != std::errc() || end != portName.data() + portName.size() || number > 255) return std::nullopt;
    return number;
}

std::optional<TSerialDevice> DeviceFromRecord(const TWinPortRecord& r) {
    const std::optional<int> number = ComNumber(r.PortName);
    if (!number) return std::nullopt;
    TSerialDevice d;
    d.Number = *number;
    d.Path = "\\\\.\\COM" + std::to_string(*number);
    for (const std::string& id : r.HardwareIds)
        if (d.VendorProduct.empty()) d.VendorProduct = UsbIdIn(id);
    if (d.VendorProduct.empty()) d.VendorProduct = UsbIdIn(r.InstanceId);
    if (d.VendorProduct.empty()) d.VendorProduct = UsbIdIn(r.ParentInstanceId);
    d.Product = Trimmed(r.FriendlyName.empty() ? r.DeviceDesc : r.FriendlyName);
    d.Serial = SerialIn(r.InstanceId);
    if (d.Serial.empty()) d.Serial = SerialIn(r.ParentInstanceId);
    d.Driver = Trimmed(r.Service + ' ' + r.DriverVersion);
    d.Location = Trimmed(r.Location.empty() ? r.ParentLocation : r.Location);
    if (r.LatencyTimer && *r.LatencyTimer <= 255) d.LatencyMs = static_cast<int>(*r.LatencyTimer);
    const auto onUsb = [](std::string_view id) {
        return StartsWithNoCase(id, "USB\\") || StartsWithNoCase(id, "FTDIBUS\\");
    };
    d.Usb = !d.VendorProduct.empty() || onUsb(r.InstanceId) || onUsb(r.ParentInstanceId) ||
            std::ranges::any_of(r.CompatibleIds, onUsb);
    // Opening is the only test, and it would reset the device (DTR).
    d.Accessible = true;
    return d;
}

std::string AdvancedSettingPlace(const TSerialDevice& device, const std::string& setting) {
    const std::string name = device.Product.empty() ? PortName(device.Number) : device.Product;
    return "Device Manager → Ports (COM & LPT) → " + name +
           " → Properties → Port Settings → Advanced… → " + setting;
}

std::string DeviceDescription(const TSerialDevice& device) {
    if (!device.Product.empty()) return device.Product;
    if (!device.VendorProduct.empty()) return device.VendorProduct;
    return device.Driver;
}

}  // namespace zelk
