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
    d.Usb = r.SysName.starts_with("ttyUSB") || r.SysName.starts_with("ttyACM") || !r.UsbAttributes.empty() ||
            Get(r.Properties, "ID_BUS") == "usb";
    d.Accessible = r.Accessible;
    d.Holders = r.Holders;
    return d;
}

std::string DeviceDescription(const TSerialDevice& device) {
    if (!device.Product.empty()) return device.Product;
    if (!device.VendorProduct.empty()) return device.VendorProduct;
    return device.Driver;
}

}  // namespace zelk
