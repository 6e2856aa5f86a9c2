// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <iostream>
#include <optional>
#include <string>

#include "common/unique_fd.h"
#include "serial/port_list.h"
#include "window/window_logic.h"

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
    r.LatencyTimer = 16;
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
    EXPECT_EQ(d->LatencyMs, 16);
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

// Windows' device records of the Ports class as real machines have them.
struct TWinCase {
    const char* Kind;
    TWinPortRecord Record;
    int Number;
    const char* UsbId;
    const char* Product;
    const char* Serial;
    const char* Driver;
    const char* Location;
    std::optional<int> Latency;
    bool Usb;
};

const TWinCase kWinCases[] = {
    {"FTDI FT232R on FTDI's bus; the serial in the instance ID, then the channel letter",
     {"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", {"FTDIBUS\\COMPORT&VID_0403&PID_6001"}, {},
      "USB\\VID_0403&PID_6001\\A50285BI", "COM5", "USB Serial Port (COM5)", "USB Serial Port", "FTDISER",
      "2.12.36.4", "", "Port_#0002.Hub_#0001", 16},
     5, "0403:6001", "USB Serial Port (COM5)", "A50285BI", "FTDISER 2.12.36.4", "Port_#0002.Hub_#0001", 16, true},
    {"CH340 without a serial number: Windows makes up the instance part",
     {"USB\\VID_1A86&PID_7523\\5&2B2A1F4C&0&2",
      {"USB\\VID_1A86&PID_7523&REV_0264", "USB\\VID_1A86&PID_7523"},
      {"USB\\Class_FF&SubClass_01&Prot_02", "USB\\Class_FF&SubClass_01", "USB\\Class_FF"},
      "USB\\ROOT_HUB30\\4&1B2C3D4E&0&0", "COM3", "USB-SERIAL CH340 (COM3)", "USB-SERIAL CH340", "CH341SER_A64",
      "3.8.2023.2", "Port_#0002.Hub_#0001", "", std::nullopt},
     3, "1a86:7523", "USB-SERIAL CH340 (COM3)", "", "CH341SER_A64 3.8.2023.2", "Port_#0002.Hub_#0001",
     std::nullopt, true},
    {"CP2102 renumbered above 20",
     {"USB\\VID_10C4&PID_EA60\\0001", {"USB\\VID_10C4&PID_EA60&REV_0100", "USB\\VID_10C4&PID_EA60"},
      {"USB\\Class_FF&SubClass_00&Prot_00", "USB\\Class_FF"}, "USB\\ROOT_HUB30\\4&1B2C3D4E&0&0", "COM23",
      "Silicon Labs CP210x USB to UART Bridge (COM23)", "Silicon Labs CP210x USB to UART Bridge", "silabser",
      "10.1.10.0", "Port_#0001.Hub_#0003", "", std::nullopt},
     23, "10c4:ea60", "Silicon Labs CP210x USB to UART Bridge (COM23)", "0001", "silabser 10.1.10.0",
     "Port_#0001.Hub_#0003", std::nullopt, true},
    {"PL2303, with its friendly name missing",
     {"USB\\VID_067B&PID_2303\\6&3A2C1B5D&0&1", {"USB\\VID_067B&PID_2303&REV_0300", "USB\\VID_067B&PID_2303"}, {},
      "", "COM6", "", "Prolific USB-to-Serial Comm Port", "Ser2pl", "3.8.41.0", "Port_#0001.Hub_#0001", "",
      std::nullopt},
     6, "067b:2303", "Prolific USB-to-Serial Comm Port", "", "Ser2pl 3.8.41.0", "Port_#0001.Hub_#0001",
     std::nullopt, true},
    {"CDC-ACM board, an interface of a composite device: the serial is its parent's",
     {"USB\\VID_2E8A&PID_000A&MI_00\\7&1E5D9C2F&0&0000",
      {"USB\\VID_2E8A&PID_000A&REV_0100&MI_00", "USB\\VID_2E8A&PID_000A&MI_00"},
      {"USB\\Class_02&SubClass_02&Prot_00", "USB\\Class_02&SubClass_02", "USB\\Class_02"},
      "USB\\VID_2E8A&PID_000A\\E660583883724A2F", "COM7", "USB Serial Device (COM7)", "USB Serial Device",
      "usbser", "10.0.19041.1", "", "Port_#0001.Hub_#0001", std::nullopt},
     7, "2e8a:000a", "USB Serial Device (COM7)", "E660583883724A2F", "usbser 10.0.19041.1",
     "Port_#0001.Hub_#0001", std::nullopt, true},
    {"on-board 16550",
     {"ACPI\\PNP0501\\0", {"ACPI\\VEN_PNP&DEV_0501", "ACPI\\PNP0501", "*PNP0501"}, {},
      "ACPI\\PNP0A08\\0", "COM1", "Communications Port (COM1)", "Communications Port", "Serial", "10.0.19041.1",
      "", "", std::nullopt},
     1, "", "Communications Port (COM1)", "", "Serial 10.0.19041.1", "", std::nullopt, false},
};

TEST(PortList, WindowsRecordBecomesTheListedDevice) {
    for (const TWinCase& c : kWinCases) {
        SCOPED_TRACE(c.Kind);
        const auto d = DeviceFromRecord(c.Record);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->Number, c.Number);
        EXPECT_EQ(d->Path, "\\\\.\\COM" + std::to_string(c.Number));
        EXPECT_EQ(d->VendorProduct, c.UsbId);
        EXPECT_EQ(d->Product, c.Product);
        EXPECT_EQ(d->Serial, c.Serial);
        EXPECT_EQ(d->Driver, c.Driver);
        EXPECT_EQ(d->Location, c.Location);
        EXPECT_EQ(d->LatencyMs, c.Latency);
        EXPECT_EQ(d->Usb, c.Usb);
    }
    // A printer port is of the same class.
    TWinPortRecord printer = kWinCases[5].Record;
    printer.PortName = "LPT1";
    EXPECT_FALSE(DeviceFromRecord(printer));
}

// The window's device hint: each device with what is known of it; the
// adapter's timer and where to set it only after replies came late.
TEST(PortList, WindowHintNamesTheDeviceAndOnlyLateRepliesItsTimer) {
    const auto ftdi = DeviceFromRecord(kWinCases[0].Record);
    ASSERT_TRUE(ftdi);
    const std::string list =
        "\n\nПоследовательные устройства:\nCOM5  \\\\.\\COM5  USB Serial Port (COM5)  0403:6001  A50285BI  "
        "FTDISER 2.12.36.4  Port_#0002.Hub_#0001  Latency Timer 16 мс";
    EXPECT_EQ(DeviceHint(ftdi->Path, true, {*ftdi}), ftdi->Path + list);
    const std::string hint = DeviceHint(ftdi->Path, true, {*ftdi}, TLateReplies{5, 15.94});
    std::cout << hint << '\n';
    EXPECT_EQ(hint, ftdi->Path +
                        "\nОтветы приходят с опозданием 15.9 мс (медиана первых 100 пакетов). Адаптер держит принятое "
                        "до конца своего таймера: Latency Timer 16 мс. Установите 1 мс: Диспетчер устройств → Порты "
                        "(COM и LPT) → USB Serial Port (COM5) → Свойства → Параметры порта → Дополнительно… → "
                        "Latency Timer (msec) → 1" +
                        list);
    // On Linux the place is the adapter's sysfs file.
    TSerialDevice usb0;
    usb0.Number = 5;
    usb0.Path = "/dev/ttyUSB0";
    EXPECT_NE(DeviceHint(usb0.Path, true, {usb0}, TLateReplies{5, 16})
                  .find("echo 1 > /sys/bus/usb-serial/devices/ttyUSB0/latency_timer\n"),
              std::string::npos);
    // A port the list does not show: the file of the port opened, not another's.
    EXPECT_NE(DeviceHint("/dev/ttyUSB2", true, {}, TLateReplies{5, 16}).find("/devices/ttyUSB2/latency_timer\n"),
              std::string::npos);
}

TEST(PortList, ComNumbers) {
    EXPECT_EQ(ComNumber("COM1"), 1);
    EXPECT_EQ(ComNumber("com23"), 23);
    EXPECT_EQ(ComNumber("COM255"), 255);
    for (const char* name : {"COM", "COM0", "COM01", "COM5x", "COM-1", "COM256", "LPT1", ""})
        EXPECT_FALSE(ComNumber(name)) << name;
}

}  // namespace
}  // namespace zelk
