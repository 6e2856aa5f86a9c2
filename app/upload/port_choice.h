// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <optional>
#include <string>
#include <vector>

#include "serial/port_list.h"

namespace zelk::upload {

// The devices as --list-ports prints them: a heading, then one line each in
// columns, or "no serial device found".
std::string FormatPortList(const std::vector<TSerialDevice>& devices);

// "port: COM5 /dev/ttyUSB0 (FT232R USB UART)"
std::string ChosenPortLine(const TSerialDevice& device);

// Of the devices listed, the one a port number (when path is empty) or a
// device path reaches; nothing when none does.
const TSerialDevice* DeviceOfPort(const std::vector<TSerialDevice>& devices, int number, const std::string& path);

// What the notice of late replies says about the adapter: its name, its
// latency timer and where to set that to 1 ms, in the terms of the system its
// path is of (Device Manager, or the usb-serial port's sysfs file). device
// may be null; portPath is the device the upload opened.
std::string LatencyAdvice(const TSerialDevice* device, const std::string& portPath);

// With neither --port nor --device: the one USB serial device present, or the
// reason there is none to choose (with the list, when there are devices).
struct TPortChoice {
    std::optional<TSerialDevice> Device;
    std::string Problem;
};
TPortChoice ChoosePort(const std::vector<TSerialDevice>& devices);

}  // namespace zelk::upload
