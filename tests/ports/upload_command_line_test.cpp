// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include <gtest/gtest.h>

#include <sstream>

#include "port_choice.h"
#include "trace.h"
#include "upload_options.h"
#include "uploader.h"

namespace zelk::upload {
namespace {

std::string UsageError(const std::vector<std::string>& args) {
    try {
        ParseCommandLine(args);
    } catch (const EUsageError& e) {
        return e.what();
    }
    return "(accepted)";
}

TEST(UploadCommandLine, ValuesJoinedToTheirOptionsAndGroupedFlags) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-p5", "a.rom"}, {"-qp", "5", "a.rom"}, {"--port=5", "a.rom"}, {"a.rom", "--port", "5"}}) {
        const TParsed p = ParseCommandLine(args);
        EXPECT_EQ(p.Options.Port, 5) << args[0];
        EXPECT_TRUE(p.Options.PortGiven);
        EXPECT_EQ(p.Options.File, "a.rom");
    }
    EXPECT_TRUE(ParseCommandLine({"-qp", "5", "a.rom"}).Options.Quiet);
    const TParsed v = ParseCommandLine({"-vs0x2000", "-b9600", "--log", "t.log", "a.rom"});
    EXPECT_TRUE(v.Options.Verbose);
    EXPECT_EQ(v.Options.Start, "2000h");
    EXPECT_EQ(v.Options.Baud, 9600);
    EXPECT_EQ(v.Options.LogFile, "t.log");
    EXPECT_FALSE(ParseCommandLine({"a.rom"}).Options.PortGiven);
    EXPECT_EQ(ParseCommandLine({"--list-ports"}).Command, TCommand::ListPorts);
}

TEST(UploadCommandLine, MessagesNameTheOptionAsTyped) {
    EXPECT_EQ(UsageError({"--frobnicate=1", "a.rom"}), "unknown option --frobnicate");
    EXPECT_EQ(UsageError({"-x", "a.rom"}), "unknown option -x");
    EXPECT_EQ(UsageError({"a.rom", "-s"}), "-s needs a value");
    EXPECT_EQ(UsageError({"a.rom", "--log"}), "--log needs a value");
    EXPECT_EQ(UsageError({"--port=5x", "a.rom"}), "--port expects a whole number, not '5x'");
    // A second parse starts afresh (getopt keeps its place in globals).
    EXPECT_EQ(UsageError({"-q"}), "no file to upload");
}

TEST(UploadCommandLine, LogFileThatCannotBeOpenedIsAUsageError) {
    TUploadOptions options;
    options.File = "a.rom";
    options.LogFile = "/nonexistent/zelk-test/trace.log";
    std::ostringstream err;
    EXPECT_EQ(RunUpload(options, err, false), kExitUsageOrFile);
    EXPECT_EQ(err.str(), "Cannot open log file /nonexistent/zelk-test/trace.log: No such file or directory\n");
}

TEST(UploadTrace, LinesAreTimedHexWithTheirLength) {
    const std::uint8_t packet[] = {0xE6, 0x00, 0x1F};
    const std::uint8_t ack[] = {0x05};
    EXPECT_EQ(FormatTraceLine(0.123456, '>', packet), "+0.123456 > E6 00 1F (3 bytes)");
    EXPECT_EQ(FormatTraceLine(0.124001, '<', ack), "+0.124001 < 05");
}

TSerialDevice Device(int number, std::string path, bool usb) {
    TSerialDevice d;
    d.Number = number;
    d.Path = std::move(path);
    d.Usb = usb;
    d.Accessible = true;
    return d;
}

TEST(PortListing, OneAlignedLineADevice) {
    TSerialDevice ftdi = Device(5, "/dev/ttyUSB0", true);
    ftdi.VendorProduct = "0403:6001";
    ftdi.Driver = "ftdi_sio";
    ftdi.Product = "FT232R USB UART";
    ftdi.Serial = "A50285BI";
    ftdi.ById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    TSerialDevice uart = Device(0, "/dev/ttyS4", false);
    uart.Driver = "serial";
    uart.Accessible = false;
    uart.Holders = {{1234, "minicom"}};
    ftdi.LatencyMs = 16;
    EXPECT_EQ(FormatPortList({ftdi, uart}),
              "PORT  DEVICE        USB ID     DRIVER    ACCESS  STATE                 PRODUCT          SERIAL    LATENCY  "
              "BY-ID\n"
              "COM5  /dev/ttyUSB0  0403:6001  ftdi_sio  rw      free                  FT232R USB UART  A50285BI  16 ms    "
              "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\n"
              "-     /dev/ttyS4    -          serial    denied  in use: minicom/1234  -                -         -        "
              "-\n");
    EXPECT_EQ(FormatPortList({}), "no serial device found\n");
    EXPECT_EQ(ChosenPortLine(ftdi), "port: COM5 /dev/ttyUSB0 (FT232R USB UART)");
}

// Windows: a port above the window's range is listed with the way to it,
// and the notice of late replies names the adapter, its timer and where to set it.
TEST(PortListing, WindowsAdvice) {
    TSerialDevice ftdi = Device(23, "\\\\.\\COM23", true);
    ftdi.Product = "USB Serial Port (COM23)";
    ftdi.VendorProduct = "0403:6001";
    ftdi.LatencyMs = 16;
    EXPECT_NE(FormatPortList({ftdi}).find("COM23 is above 20, the highest number the window and --port reach: "
                                          "renumber it (Device Manager \u2192 Ports (COM & LPT) \u2192 USB Serial Port "
                                          "(COM23) \u2192 Properties \u2192 Port Settings \u2192 Advanced\u2026 \u2192 COM Port "
                                          "Number), or give zelk-upload -d \\\\.\\COM23\n"),
              std::string::npos)
        << FormatPortList({ftdi});
    const std::vector<TSerialDevice> devices{Device(1, "\\\\.\\COM1", false), ftdi};
    EXPECT_EQ(DeviceOfPort(devices, 23, ""), &devices[1]);
    EXPECT_EQ(DeviceOfPort(devices, 1, "\\\\.\\COM23"), &devices[1]);
    EXPECT_EQ(DeviceOfPort(devices, 1, "com23"), &devices[1]);
    EXPECT_EQ(DeviceOfPort(devices, 2, ""), nullptr);
    EXPECT_EQ(LatencyAdvice(&ftdi, ftdi.Path),
              "The adapter on COM23, USB Serial Port (COM23) (0403:6001), has its latency timer at 16 ms: set "
              "it to 1 ms in Device Manager \u2192 Ports (COM & LPT) \u2192 USB Serial Port (COM23) "
              "\u2192 Properties \u2192 Port Settings \u2192 Advanced\u2026 \u2192 Latency Timer (msec) \u2192 1.");
    EXPECT_NE(LatencyAdvice(nullptr, "\\\\.\\COM3").find("Device Manager"), std::string::npos);
}

// Linux: the notice names the adapter's own sysfs file, never another's.
TEST(PortListing, LinuxLatencyAdviceNamesTheAdapterOpened) {
    TSerialDevice ftdi = Device(8, "/dev/ttyUSB3", true);
    ftdi.Product = "FT232R USB UART";
    ftdi.VendorProduct = "0403:6001";
    ftdi.LatencyMs = 16;
    EXPECT_EQ(LatencyAdvice(&ftdi, ftdi.Path),
              "The adapter on /dev/ttyUSB3, FT232R USB UART (0403:6001), has its latency timer at 16 ms although "
              "zelk-upload asked its driver for low latency: set it to 1 ms (as root: echo 1 > "
              "/sys/bus/usb-serial/devices/ttyUSB3/latency_timer), or try another adapter.");
    const TSerialDevice ch340 = Device(6, "/dev/ttyUSB1", true);
    for (const auto& [device, path, file] :
         {std::tuple{&ch340, "/dev/ttyUSB1", "/ttyUSB1/latency_timer"}, {nullptr, "/dev/ttyUSB2", "/ttyUSB2/latency_timer"}}) {
        const std::string advice = LatencyAdvice(device, path);
        EXPECT_NE(advice.find("asks the driver for low latency"), std::string::npos) << advice;
        EXPECT_NE(advice.find(file), std::string::npos) << advice;
    }
    // A link the user gave names the device it leads to.
    ftdi.ById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    EXPECT_EQ(DeviceOfPort({ftdi}, 0, ftdi.ById)->Path, "/dev/ttyUSB3");
}

TEST(PortListing, OnlyASingleUsbDeviceIsChosen) {
    const TSerialDevice usb = Device(13, "/dev/ttyACM0", true);
    const TSerialDevice uart = Device(1, "/dev/ttyS0", false);
    EXPECT_EQ(ChoosePort({uart, usb}).Device->Path, "/dev/ttyACM0");
    EXPECT_FALSE(ChoosePort({}).Device);
    EXPECT_FALSE(ChoosePort({uart}).Device);
    const TPortChoice two = ChoosePort({usb, Device(5, "/dev/ttyUSB0", true)});
    EXPECT_FALSE(two.Device);
    EXPECT_NE(two.Problem.find("\nCOM5   /dev/ttyUSB0"), std::string::npos) << two.Problem;
}

}  // namespace
}  // namespace zelk::upload
