// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include <gtest/gtest.h>

#include <cstdlib>

#include "serial/com_port.h"
#include "serial/port_backend.h"

namespace zelk {
namespace {

TEST(PortNames, MessagesNameThePortComAndNumber) {
    EXPECT_EQ(PortName(1), "COM1");
    EXPECT_EQ(PortName(20), "COM20");
}

TEST(PortNames, TableCoversSerialThenUsbThenAcmDevices) {
    EXPECT_EQ(DefaultDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(DefaultDevicePath(4), "/dev/ttyS3");
    EXPECT_EQ(DefaultDevicePath(5), "/dev/ttyUSB0");
    EXPECT_EQ(DefaultDevicePath(12), "/dev/ttyUSB7");
    EXPECT_EQ(DefaultDevicePath(13), "/dev/ttyACM0");
    EXPECT_EQ(DefaultDevicePath(20), "/dev/ttyACM7");
    EXPECT_EQ(DefaultDevicePath(0), "");
    EXPECT_EQ(DefaultDevicePath(21), "");
    EXPECT_EQ(DefaultDevicePath(-5), "");
}

TEST(PortNames, EnvironmentOverridesOneNumber) {
    ::setenv("ZELK_COM7", "/dev/serial/by-id/usb-adapter", 1);
    ::setenv("ZELK_COM8", "", 1);
    EXPECT_EQ(DevicePathForPort(7), "/dev/serial/by-id/usb-adapter");
    EXPECT_EQ(DevicePathForPort(8), "/dev/ttyUSB3");  // empty means not set
    EXPECT_EQ(DevicePathForPort(17), "/dev/ttyACM4");
    ::unsetenv("ZELK_COM7");
    ::unsetenv("ZELK_COM8");
    EXPECT_EQ(DevicePathForPort(7), "/dev/ttyUSB2");
}

}  // namespace
}  // namespace zelk
