// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "serial/port_holder.h"

namespace zelk {

// A serial device that is present, as the port list shows it.
struct TSerialDevice {
    int Number = 0;            // the COM number that reaches it; 0 for none
    std::string Path;          // /dev/ttyUSB0
    std::string ById;          // /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0, when udev made one
    std::string VendorProduct; // USB "0403:6001", when known
    std::string Product;       // "FT232R USB UART", when known
    std::string Serial;        // "A50285BI", when known
    std::string Driver;        // "ftdi_sio", "cdc_acm", "serial8250"; on Windows the service and its version, "FTDISER 2.12.36.4"
    std::string Location;      // Windows: where Device Manager says it is plugged, "Port_#0002.Hub_#0001"
    std::optional<int> LatencyMs;  // the adapter's latency timer (FTDI), when it has one
    bool Usb = false;          // a USB adapter (ttyUSB, ttyACM or any device below a USB device)
    bool Accessible = false;   // this user may open it for reading and writing
    std::vector<TPortHolder> Holders;  // other programs that have it open
};

// What the system says about one tty device, gathered from udev and sysfs:
// the seam between the system and the list, so the list can be built from
// made-up records.
struct TPortRecord {
    std::string SysName;   // ttyUSB0
    std::string DevNode;   // /dev/ttyUSB0
    std::string RealPath;  // DevNode with links resolved
    bool HasParent = false;     // sits below a hardware device
    std::string Driver;         // the parent's driver, empty for none
    std::optional<int> UartType;  // TIOCGSERIAL type where the driver reports one; 0 is "unknown" (no UART)
    std::optional<int> LatencyTimer;  // the usb-serial port's latency_timer (ftdi_sio), ms
    std::map<std::string, std::string> Properties;     // udev properties: DEVLINKS, ID_VENDOR_ID, ID_MODEL, ...
    std::map<std::string, std::string> UsbAttributes;  // the USB device's idVendor, idProduct, product, serial
    bool Accessible = false;
    std::vector<TPortHolder> Holders;
};

// What Windows' device records say about one port of the Ports class
// (SetupAPI and the device's registry keys), strings as the system keeps
// them, converted to UTF-8: the seam between the system and the list.
struct TWinPortRecord {
    std::string InstanceId;                  // FTDIBUS\VID_0403+PID_6001+A50285BIA\0000
    std::vector<std::string> HardwareIds;    // FTDIBUS\COMPORT&VID_0403&PID_6001
    std::vector<std::string> CompatibleIds;  // USB\Class_02&SubClass_02&Prot_01
    std::string ParentInstanceId;            // USB\VID_0403&PID_6001\A50285BI, when the system names it
    std::string PortName;                    // Device Parameters\PortName: "COM5"
    std::string FriendlyName;                // "USB Serial Port (COM5)"
    std::string DeviceDesc;                  // "USB Serial Port"
    std::string Service;                     // "FTDISER"
    std::string DriverVersion;               // the driver key's DriverVersion: "2.12.36.4"
    std::string Location;                    // LocationInformation
    std::string ParentLocation;              // the parent's, for a port that has none of its own
    std::optional<std::uint32_t> LatencyTimer;  // Device Parameters\LatencyTimer (FTDI's driver)
};

// The COM number of a port name, "COM5" (any case) -> 5; nothing for others (LPT1).
std::optional<int> ComNumber(std::string_view portName);

// The device a Windows record stands for, or nothing for a port of the
// class that is no COM port (a printer port).
std::optional<TSerialDevice> DeviceFromRecord(const TWinPortRecord& record);

// The highest number the window and --port reach; higher ones only by path.
inline constexpr int kHighestPortNumber = 20;

// Windows: where a user finds a setting of the port's advanced settings in
// Device Manager, in English: "Device Manager → Ports (COM & LPT) →
// USB Serial Port (COM5) → Properties → Port Settings → Advanced… → <setting>".
std::string AdvancedSettingPlace(const TSerialDevice& device, const std::string& setting);
// The latency timer's: "... → Latency Timer (msec) → 1".
inline std::string LatencySettingPlace(const TSerialDevice& device) {
    return AdvancedSettingPlace(device, "Latency Timer (msec) → 1");
}

// Linux: the latency timer of the usb-serial port whose tty is at
// devicePath: "/sys/bus/usb-serial/devices/ttyUSB0/latency_timer".
inline std::string LatencyTimerFile(const std::string& devicePath) {
    return "/sys/bus/usb-serial/devices/" + devicePath.substr(devicePath.rfind('/') + 1) + "/latency_timer";
}

// COM number -> real path of the device it reaches (DevicePathForPort, links resolved).
using TNumberTable = std::vector<std::pair<int, std::string>>;

// The table for 1..20 as the environment sets it now.
TNumberTable CurrentNumberTable();

// The value of a tty's sysfs "type" attribute (TIOCGSERIAL's port type), or
// of another number attribute (latency_timer), as the kernel writes it, a
// decimal number and a newline; nothing for text that is no number or one
// out of an int's range.
std::optional<int> ParseUartType(std::string_view text);

// The device a record stands for, or nothing for a tty that is no serial
// port (a virtual console, a legacy ttyS placeholder without a UART).
std::optional<TSerialDevice> DeviceFromRecord(const TPortRecord& record, const TNumberTable& numbers);

// Every serial device present, by COM number (those without one last), then path.
// Empty where udev cannot be asked.
std::vector<TSerialDevice> ListSerialDevices();

// How the device of a port number stands.
enum class TPresence { Present, Absent };
// Present when a listed device has that number, or when the path exists but
// is no tty udev knows (a pseudo-terminal, which udev does not list).
TPresence PortPresence(int number, const std::string& devicePath, const std::vector<TSerialDevice>& devices);

// "FT232R USB UART", else the vendor:product, else the driver; empty when nothing is known.
std::string DeviceDescription(const TSerialDevice& device);

// Follows serial devices coming and going: a udev monitor for subsystem tty.
// Put Fd() on an event loop; when it is readable, call Drain().
class TPortWatcher {
public:
    // Without a usable udev, Fd() is -1 and nothing is ever reported.
    TPortWatcher();
    ~TPortWatcher();
    TPortWatcher(const TPortWatcher&) = delete;
    TPortWatcher& operator=(const TPortWatcher&) = delete;

    int Fd() const;
    // Reads every event waiting, without blocking; true if a device was added
    // or removed (the set of devices may have changed).
    bool Drain();

private:
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
};

}  // namespace zelk
