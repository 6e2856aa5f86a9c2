// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// The port list on Linux: libudev's records of subsystem tty, and a udev
// monitor for devices coming and going. No device is ever opened here:
// opening a port can reset the device on its other side (DTR), so holders
// come from /proc and the UART type from sysfs.
#include <libudev.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "serial/port_list.h"

namespace zelk {

namespace {

struct TUdevDeleter {
    void operator()(udev* p) const { udev_unref(p); }
    void operator()(udev_enumerate* p) const { udev_enumerate_unref(p); }
    void operator()(udev_device* p) const { udev_device_unref(p); }
    void operator()(udev_monitor* p) const { udev_monitor_unref(p); }
};
template <class T>
using TUdevPtr = std::unique_ptr<T, TUdevDeleter>;

std::string Str(const char* s) { return s != nullptr ? std::string(s) : std::string(); }

TPortRecord RecordOf(udev_device* dev) {
    TPortRecord r;
    r.SysName = Str(udev_device_get_sysname(dev));
    r.DevNode = Str(udev_device_get_devnode(dev));
    if (!r.DevNode.empty()) r.RealPath = ResolvedPath(r.DevNode);
    // Parents belong to the child: never unref them.
    udev_device* parent = udev_device_get_parent(dev);
    r.HasParent = parent != nullptr;
    // Since Linux 6.5 a UART's tty sits below "port" and "ctrl" devices of
    // the serial-base bus, whose drivers are generic: the one above them
    // drives the hardware.
    for (udev_device* p = parent; p != nullptr && r.Driver.empty(); p = udev_device_get_parent(p))
        if (Str(udev_device_get_subsystem(p)) != "serial-base") r.Driver = Str(udev_device_get_driver(p));
    // The 8250 driver's "type" attribute is TIOCGSERIAL's type, read without opening the port.
    if (const char* type = udev_device_get_sysattr_value(dev, "type"); type != nullptr)
        r.UartType = ParseUartType(type);
    // ftdi_sio's timer, on the usb-serial port the tty sits below.
    if (udev_device* port = udev_device_get_parent_with_subsystem_devtype(dev, "usb-serial", nullptr))
        if (const char* timer = udev_device_get_sysattr_value(port, "latency_timer"); timer != nullptr)
            r.LatencyTimer = ParseUartType(timer);
    for (udev_list_entry* e = udev_device_get_properties_list_entry(dev); e != nullptr; e = udev_list_entry_get_next(e))
        r.Properties[Str(udev_list_entry_get_name(e))] = Str(udev_list_entry_get_value(e));
    if (udev_device* usb = udev_device_get_parent_with_subsystem_devtype(dev, "usb", "usb_device")) {
        for (const char* name : {"idVendor", "idProduct", "product", "serial", "manufacturer"})
            if (const char* value = udev_device_get_sysattr_value(usb, name)) r.UsbAttributes[name] = value;
    }
    if (!r.DevNode.empty()) {
        r.Accessible = ::access(r.DevNode.c_str(), R_OK | W_OK) == 0;
    }
    return r;
}

}  // namespace

std::vector<TSerialDevice> ListSerialDevices() {
    std::vector<TSerialDevice> devices;
    TUdevPtr<udev> context(udev_new());
    if (!context) return devices;
    TUdevPtr<udev_enumerate> enumerate(udev_enumerate_new(context.get()));
    if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(enumerate.get()) < 0)
        return devices;
    const TNumberTable numbers = CurrentNumberTable();
    for (udev_list_entry* e = udev_enumerate_get_list_entry(enumerate.get()); e != nullptr;
         e = udev_list_entry_get_next(e)) {
        TUdevPtr<udev_device> dev(udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(e)));
        if (!dev) continue;  // gone since the scan
        TPortRecord record = RecordOf(dev.get());
        // Only for the devices that are listed: it reads all of /proc.
        if (!record.HasParent || record.Driver.empty() || record.UartType == 0) continue;
        // The kernel announces a removal while the device is still in sysfs,
        // but after its node is gone: no node, not present.
        if (record.DevNode.empty() || ::access(record.DevNode.c_str(), F_OK) != 0) continue;
        record.Holders = PortHolders(record.DevNode);
        if (auto device = DeviceFromRecord(record, numbers)) devices.push_back(std::move(*device));
    }
    std::ranges::sort(devices, [](const TSerialDevice& a, const TSerialDevice& b) {
        const int na = a.Number == 0 ? INT_MAX : a.Number;
        const int nb = b.Number == 0 ? INT_MAX : b.Number;
        return na != nb ? na < nb : a.Path < b.Path;
    });
    return devices;
}

TPresence PortPresence(int number, const std::string& devicePath, const std::vector<TSerialDevice>& devices) {
    if (std::ranges::any_of(devices, [&](const TSerialDevice& d) { return d.Number == number; }))
        return TPresence::Present;
    struct stat info {};
    if (devicePath.empty() || ::stat(devicePath.c_str(), &info) != 0) return TPresence::Absent;
    // A character device the kernel registered (/sys/dev/char/M:m) is one
    // udev lists when it is a serial port; one it does not list is a
    // placeholder. Others (pseudo-terminals) are taken as they are.
    if (!S_ISCHR(info.st_mode)) return TPresence::Present;
    const std::string sys =
        "/sys/dev/char/" + std::to_string(major(info.st_rdev)) + ':' + std::to_string(minor(info.st_rdev));
    return ::access(sys.c_str(), F_OK) == 0 ? TPresence::Absent : TPresence::Present;
}

struct TPortWatcher::TImpl {
    TUdevPtr<udev> Context;
    TUdevPtr<udev_monitor> Monitor;
};

TPortWatcher::TPortWatcher() : impl_(std::make_unique<TImpl>()) {
    impl_->Context.reset(udev_new());
    if (!impl_->Context) return;
    // Events from udev come after it has made the device node and its
    // links; where no udev daemon runs (a container), the kernel's own.
    const char* source = ::access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
    TUdevPtr<udev_monitor> monitor(udev_monitor_new_from_netlink(impl_->Context.get(), source));
    if (!monitor || udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor.get()) < 0)
        return;
    impl_->Monitor = std::move(monitor);
}

TPortWatcher::~TPortWatcher() = default;

int TPortWatcher::Fd() const { return impl_->Monitor ? udev_monitor_get_fd(impl_->Monitor.get()) : -1; }

bool TPortWatcher::Drain() {
    if (!impl_->Monitor) return false;
    bool changed = false;
    // The monitor's socket does not block: this ends when the queue is empty.
    while (TUdevPtr<udev_device> dev{udev_monitor_receive_device(impl_->Monitor.get())}) {
        const std::string action = Str(udev_device_get_action(dev.get()));
        if (action != "change") changed = true;  // add, remove, bind, unbind, move
    }
    return changed;
}

}  // namespace zelk
