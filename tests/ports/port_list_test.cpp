// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "common/unique_fd.h"
#include "serial/port_list.h"

namespace zelk {
namespace {

// An FTDI adapter as udev describes it with its database.
TPortRecord Ftdi() {
    TPortRecord r;
    r.SysName = "ttyUSB0";
    r.DevNode = "/dev/ttyUSB0";
    r.RealPath = "/dev/ttyUSB0";
    r.HasParent = true;
    r.Driver = "ftdi_sio";
    r.Properties = {
        {"DEVLINKS", "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0 "
                     "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"},
        {"ID_VENDOR_ID", "0403"},
        {"ID_MODEL_ID", "6001"},
        {"ID_MODEL", "FT232R_USB_UART"},
        {"ID_MODEL_ENC", "FT232R\\x20USB\\x20UART"},
        {"ID_SERIAL_SHORT", "A50285BI"},
    };
    r.Accessible = true;
    return r;
}

TEST(PortList, UdevRecordBecomesTheListedDevice) {
    const auto d = DeviceFromRecord(Ftdi(), {{1, "/dev/ttyS0"}, {5, "/dev/ttyUSB0"}});
    ASSERT_TRUE(d);
    EXPECT_EQ(d->Number, 5);
    EXPECT_EQ(d->Path, "/dev/ttyUSB0");
    EXPECT_EQ(d->ById, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    EXPECT_EQ(d->VendorProduct, "0403:6001");
    EXPECT_EQ(d->Product, "FT232R USB UART");
    EXPECT_EQ(d->Serial, "A50285BI");
    EXPECT_EQ(d->Driver, "ftdi_sio");
    EXPECT_TRUE(d->Usb);
    EXPECT_TRUE(d->Accessible);
    // ZELK_COM2=/dev/serial/by-id/... resolves to the adapter's node.
    EXPECT_EQ(DeviceFromRecord(Ftdi(), {{2, "/dev/ttyUSB0"}, {5, "/dev/ttyUSB0"}})->Number, 2);
    EXPECT_EQ(DeviceFromRecord(Ftdi(), {{5, "/dev/ttyUSB1"}})->Number, 0);
}

TEST(PortList, WithoutTheUdevDatabaseTheUsbAttributesServe) {
    TPortRecord r = Ftdi();
    r.Properties.clear();
    r.UsbAttributes = {{"idVendor", "1a86"}, {"idProduct", "7523"}, {"product", "USB Serial"}, {"serial", "X1 "}};
    const auto d = DeviceFromRecord(r, {});
    ASSERT_TRUE(d);
    EXPECT_EQ(d->VendorProduct, "1a86:7523");
    EXPECT_EQ(d->Product, "USB Serial");
    EXPECT_EQ(d->Serial, "X1");
    EXPECT_EQ(d->ById, "");
    // udev puts the hex id in ID_MODEL when the device has no name: the database's name then.
    r.Properties = {{"ID_MODEL", "7523"}, {"ID_MODEL_ID", "7523"}, {"ID_MODEL_FROM_DATABASE", "CH340 serial converter"}};
    r.UsbAttributes.clear();
    EXPECT_EQ(DeviceFromRecord(r, {})->Product, "CH340 serial converter");
}

TEST(PortList, PlaceholdersAndVirtualTerminalsAreNoSerialPorts) {
    TPortRecord uart;
    uart.SysName = "ttyS0";
    uart.DevNode = "/dev/ttyS0";
    uart.HasParent = true;
    uart.Driver = "serial";
    uart.UartType = 4;  // 16550A
    const auto real = DeviceFromRecord(uart, {{1, "/dev/ttyS0"}});
    ASSERT_TRUE(real);
    EXPECT_FALSE(real->Usb);
    EXPECT_EQ(real->Number, 1);

    TPortRecord placeholder = uart;
    placeholder.UartType = 0;  // no UART behind it
    EXPECT_FALSE(DeviceFromRecord(placeholder, {}));
    TPortRecord console;
    console.SysName = "tty1";
    console.DevNode = "/dev/tty1";
    EXPECT_FALSE(DeviceFromRecord(console, {}));
}

// The sysfs "type" attribute as the kernel writes it, and what it never
// should: a number past an int once wrapped to 0 and hid a real port.
TEST(PortList, UartTypeFromSysfs) {
    EXPECT_EQ(ParseUartType("4\n"), 4);
    EXPECT_EQ(ParseUartType("0\n"), 0);
    EXPECT_EQ(ParseUartType(" +17 and more"), 17);
    EXPECT_EQ(ParseUartType("-1"), -1);
    EXPECT_EQ(ParseUartType("2147483647"), 2147483647);
    EXPECT_FALSE(ParseUartType("4294967296"));
    EXPECT_FALSE(ParseUartType("-2147483649"));
    EXPECT_FALSE(ParseUartType("+-4"));
    EXPECT_FALSE(ParseUartType("unknown"));
    EXPECT_FALSE(ParseUartType(""));
}

TEST(PortList, PresenceOfAPortNumbersDevice) {
    TSerialDevice listed;
    listed.Number = 5;
    listed.Path = "/dev/ttyUSB0";
    EXPECT_EQ(PortPresence(5, "/dev/ttyUSB0", {listed}), TPresence::Present);
    EXPECT_EQ(PortPresence(6, "/dev/zelk-no-such-tty", {listed}), TPresence::Absent);
    // A pseudo-terminal, which udev does not list, is there when its node is.
    TUniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY));
    ASSERT_TRUE(master);
    ASSERT_EQ(::grantpt(master.Get()), 0);
    ASSERT_EQ(::unlockpt(master.Get()), 0);
    EXPECT_EQ(PortPresence(3, ::ptsname(master.Get()), {}), TPresence::Present);
}

}  // namespace
}  // namespace zelk
