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

// With neither --port nor --device: the one USB serial device present, or the
// reason there is none to choose (with the list, when there are devices).
struct TPortChoice {
    std::optional<TSerialDevice> Device;
    std::string Problem;
};
TPortChoice ChoosePort(const std::vector<TSerialDevice>& devices);

}  // namespace zelk::upload
