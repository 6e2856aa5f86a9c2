// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "port_choice.h"

#include <algorithm>
#include <array>

#include "messages.h"
#include "serial/com_port.h"

namespace zelk::upload {

namespace {

std::string OrDash(const std::string& text) { return text.empty() ? "-" : text; }

std::string HolderText(const TSerialDevice& d) {
    if (d.Holders.empty()) return _("free");
    std::string text = _("in use:");
    for (std::size_t i = 0; i < d.Holders.size(); ++i)
        text += (i == 0 ? " " : ",") + d.Holders[i].Name + '/' + std::to_string(d.Holders[i].Pid);
    return text;
}

}  // namespace

std::string FormatPortList(const std::vector<TSerialDevice>& devices) {
    if (devices.empty()) return std::string(_("no serial device found")) + '\n';
    constexpr std::size_t kColumns = 10;
    using TRow = std::array<std::string, kColumns>;
    // The last column says where the device is: its link by ID on Linux,
    // where it is plugged on Windows (Device Manager's "Location").
#ifdef _WIN32
    const std::string where = _("LOCATION");
    const auto whereOf = [](const TSerialDevice& d) { return OrDash(d.Location); };
#else
    const std::string where = _("BY-ID");
    const auto whereOf = [](const TSerialDevice& d) { return OrDash(d.ById); };
#endif
    // TRANSLATORS: the column headings of --list-ports.
    std::vector<TRow> rows{{_("PORT"), _("DEVICE"), _("USB ID"), _("DRIVER"), _("ACCESS"), _("STATE"), _("PRODUCT"),
                            _("SERIAL"), _("LATENCY"), where}};
    for (const TSerialDevice& d : devices)
        rows.push_back({d.Number > 0 ? PortName(d.Number) : "-", d.Path, OrDash(d.VendorProduct), OrDash(d.Driver),
                        d.Accessible ? "rw" : _("denied"), HolderText(d), OrDash(d.Product), OrDash(d.Serial),
                        d.LatencyMs ? Fill(_("{1} ms"), {std::to_string(*d.LatencyMs)}) : "-", whereOf(d)});
    std::array<std::size_t, kColumns> width{};
    for (const TRow& row : rows)
        for (std::size_t c = 0; c < kColumns; ++c) width[c] = std::max(width[c], TextWidth(row[c]));
    std::string text;
    for (const TRow& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < kColumns; ++c) {
            line += row[c];
            if (c + 1 < kColumns) line += std::string(width[c] - TextWidth(row[c]) + 2, ' ');
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        text += line + '\n';
    }
    for (const TSerialDevice& d : devices)
        if (d.Number > kHighestPortNumber)
            text += Fill(_("{1} is above {2}, the highest number the window and --port reach: renumber it "
                           "({3}), or give zelk-upload -d {4}"),
                         {PortName(d.Number), std::to_string(kHighestPortNumber),
                          AdvancedSettingPlace(d, "COM Port Number"), d.Path}) +
                    '\n';
    return text;
}

std::string ChosenPortLine(const TSerialDevice& device) {
    std::string line = _("port: ") + (device.Number > 0 ? PortName(device.Number) + ' ' : std::string()) + device.Path;
    if (const std::string what = DeviceDescription(device); !what.empty()) line += " (" + what + ')';
    return line;
}

const TSerialDevice* DeviceOfPort(const std::vector<TSerialDevice>& devices, int number, const std::string& path) {
    // \\.\COM5 and COM5 name the port the record numbers 5.
    if (!path.empty()) {
        const std::string name = path.starts_with("\\\\.\\") ? path.substr(4) : path;
        number = ComNumber(name).value_or(0);
    }
    const auto found = std::ranges::find_if(devices, [&](const TSerialDevice& d) {
        return (number > 0 && d.Number == number) || (!path.empty() && (d.Path == path || d.ById == path));
    });
    return found != devices.end() ? &*found : nullptr;
}

std::string LatencyAdvice(const TSerialDevice* device, const std::string& portPath) {
    const std::string& path = device != nullptr ? device->Path : portPath;
    std::string what;
    if (device != nullptr) {
        what = DeviceDescription(*device);
        if (!device->Product.empty() && !device->VendorProduct.empty()) what += " (" + device->VendorProduct + ')';
    }
    if (!path.starts_with('/')) {
        if (device == nullptr)
            return _("Set its latency timer to 1 ms in Device Manager: the port's Properties, Port Settings, "
                     "Advanced.");
        const std::string port = PortName(device->Number);
        if (!device->LatencyMs)
            return Fill(
                _("The adapter on {1}, {2}, names no latency timer; where its driver has one, set it to 1 ms: {3}."),
                {port, what, AdvancedSettingPlace(*device, "Latency Timer (msec)")});
        return Fill(_("The adapter on {1}, {2}, has its latency timer at {3} ms: set it to 1 ms in "
                      "{4}."),
                    {port, what, std::to_string(*device->LatencyMs), LatencySettingPlace(*device)});
    }
    if (device != nullptr && device->LatencyMs)
        return Fill(_("The adapter on {1}, {2}, has its latency timer at {3} ms although zelk-upload asked its "
                      "driver for low latency: set it to 1 ms (as root: echo 1 > {4}), or try another adapter."),
                    {path, what.empty() ? path.substr(path.rfind('/') + 1) : what, std::to_string(*device->LatencyMs),
                     LatencyTimerFile(path)});
    return Fill(_("zelk-upload asks the driver for low latency, which normally fixes this on FTDI adapters; where "
                  "the driver does not take it, set the adapter's latency timer to 1 ms (as root: echo 1 > {1}), "
                  "or try another adapter."),
                {LatencyTimerFile(path)});
}

TPortChoice ChoosePort(const std::vector<TSerialDevice>& devices) {
    std::vector<TSerialDevice> usb;
    std::ranges::copy_if(devices, std::back_inserter(usb), &TSerialDevice::Usb);
    if (usb.size() == 1) return {usb.front(), {}};
    if (devices.empty())
        return {std::nullopt, _("no serial device found; plug in the adapter or give --port or --device")};
    const std::string why = usb.empty() ? _("no USB serial device found") : _("several USB serial devices found");
    return {std::nullopt, Fill(_("{1}; give --port or --device:"), {why}) + '\n' + FormatPortList(devices)};
}

}  // namespace zelk::upload
