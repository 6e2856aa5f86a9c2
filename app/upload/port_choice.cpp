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
    constexpr std::size_t kColumns = 9;
    using TRow = std::array<std::string, kColumns>;
    // TRANSLATORS: the column headings of --list-ports.
    std::vector<TRow> rows{{_("PORT"), _("DEVICE"), _("USB ID"), _("DRIVER"), _("ACCESS"), _("STATE"), _("PRODUCT"),
                            _("SERIAL"), _("BY-ID")}};
    for (const TSerialDevice& d : devices)
        rows.push_back({d.Number > 0 ? PortName(d.Number) : "-", d.Path, OrDash(d.VendorProduct), OrDash(d.Driver),
                        d.Accessible ? "rw" : _("denied"), HolderText(d), OrDash(d.Product), OrDash(d.Serial),
                        OrDash(d.ById)});
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
    return text;
}

std::string ChosenPortLine(const TSerialDevice& device) {
    std::string line = _("port: ") + (device.Number > 0 ? PortName(device.Number) + ' ' : std::string()) + device.Path;
    if (const std::string what = DeviceDescription(device); !what.empty()) line += " (" + what + ')';
    return line;
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
