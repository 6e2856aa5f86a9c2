// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// The port list on Windows: the system's device records of the Ports class
// (SetupAPI), each with its registry keys, read into a TWinPortRecord; then
// every COM name the system has that no record names (a port a driver made
// without a device record, Wine's ports). No device is ever opened here:
// opening a port can reset the device on its other side (DTR).
#include <windows.h>
#include <devguid.h>
#include <devpropdef.h>
#include <setupapi.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <type_traits>
#include <string>
#include <utility>
#include <vector>

#include "common/wide_text.h"
#include "serial/com_port.h"
#include "serial/port_list.h"

namespace zelk {

namespace {

struct TDevInfoDeleter {
    void operator()(HDEVINFO set) const {
        if (set != INVALID_HANDLE_VALUE) ::SetupDiDestroyDeviceInfoList(set);
    }
};
using TDevInfoSet = std::unique_ptr<std::remove_pointer_t<HDEVINFO>, TDevInfoDeleter>;

class TRegKey {
public:
    explicit TRegKey(HKEY key) : key_(key == INVALID_HANDLE_VALUE ? nullptr : key) {}
    ~TRegKey() {
        if (key_ != nullptr) ::RegCloseKey(key_);
    }
    TRegKey(const TRegKey&) = delete;
    TRegKey& operator=(const TRegKey&) = delete;

    // A REG_SZ value; empty when there is none.
    std::string Text(const wchar_t* name) const {
        if (key_ == nullptr) return {};
        std::wstring value(256, L'\0');
        DWORD type = 0;
        DWORD bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
        if (::RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &bytes) !=
                ERROR_SUCCESS ||
            (type != REG_SZ && type != REG_EXPAND_SZ))
            return {};
        value.resize(bytes / sizeof(wchar_t));
        // Stored with or without its terminating null.
        while (!value.empty() && value.back() == L'\0') value.pop_back();
        return WideToUtf8(value);
    }
    std::optional<std::uint32_t> Number(const wchar_t* name) const {
        if (key_ == nullptr) return std::nullopt;
        DWORD value = 0;
        DWORD type = 0;
        DWORD bytes = sizeof value;
        if (::RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes) != ERROR_SUCCESS ||
            type != REG_DWORD || bytes != sizeof value)
            return std::nullopt;
        return value;
    }

private:
    HKEY key_;
};

// A device's property as strings: one for REG_SZ, each of a REG_MULTI_SZ.
std::vector<std::string> Property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    std::vector<wchar_t> buffer(512);
    DWORD type = 0;
    DWORD needed = 0;
    if (!::SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type, reinterpret_cast<BYTE*>(buffer.data()),
                                             static_cast<DWORD>(buffer.size() * sizeof(wchar_t)), &needed)) {
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
        buffer.assign(needed / sizeof(wchar_t) + 1, L'\0');
        if (!::SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type,
                                                 reinterpret_cast<BYTE*>(buffer.data()),
                                                 static_cast<DWORD>(buffer.size() * sizeof(wchar_t)), &needed))
            return {};
    }
    if (type != REG_SZ && type != REG_MULTI_SZ && type != REG_EXPAND_SZ) return {};
    buffer.resize(std::min<std::size_t>(buffer.size(), needed / sizeof(wchar_t)));
    std::vector<std::string> strings;
    for (auto from = buffer.begin(); from != buffer.end();) {
        const auto end = std::find(from, buffer.end(), L'\0');
        if (end != from) strings.push_back(WideToUtf8(std::wstring_view(&*from, static_cast<std::size_t>(end - from))));
        if (end == buffer.end() || type != REG_MULTI_SZ) break;
        from = end + 1;
    }
    return strings;
}

std::string FirstProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    std::vector<std::string> values = Property(set, device, property);
    return values.empty() ? std::string() : std::move(values.front());
}

// Instance IDs are at most 200 characters (MAX_DEVICE_ID_LEN).
constexpr DWORD kIdLength = 201;

std::string InstanceId(HDEVINFO set, SP_DEVINFO_DATA& device) {
    std::array<wchar_t, kIdLength> id{};
    if (!::SetupDiGetDeviceInstanceIdW(set, &device, id.data(), kIdLength, nullptr)) return {};
    id.back() = L'\0';
    return WideToUtf8(id.data());
}

// DEVPKEY_Device_Parent (devpkey.h), spelt out: defining it there takes INITGUID.
constexpr DEVPROPKEY kParentKey{{0x4340a6c5, 0x93fa, 0x4706, {0x97, 0x2c, 0x7b, 0x64, 0x80, 0x08, 0xa5, 0xa7}}, 8};

// The USB device a port sits on (FTDI's bus, a composite device's
// interface): its instance ID and location, as far as the system says.
void ReadParent(HDEVINFO set, SP_DEVINFO_DATA& device, TWinPortRecord& r) {
    std::array<wchar_t, kIdLength> id{};
    DEVPROPTYPE type = 0;
    if (!::SetupDiGetDevicePropertyW(set, &device, &kParentKey, &type, reinterpret_cast<BYTE*>(id.data()),
                                     static_cast<DWORD>(id.size() * sizeof(wchar_t)), nullptr, 0) ||
        type != DEVPROP_TYPE_STRING)
        return;
    id.back() = L'\0';
    r.ParentInstanceId = WideToUtf8(id.data());
    const TDevInfoSet parentSet(::SetupDiCreateDeviceInfoList(nullptr, nullptr));
    if (parentSet.get() == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA parent{};
    parent.cbSize = sizeof parent;
    if (::SetupDiOpenDeviceInfoW(parentSet.get(), id.data(), nullptr, 0, &parent))
        r.ParentLocation = FirstProperty(parentSet.get(), parent, SPDRP_LOCATION_INFORMATION);
}

TWinPortRecord RecordOf(HDEVINFO set, SP_DEVINFO_DATA& device) {
    TWinPortRecord r;
    r.InstanceId = InstanceId(set, device);
    r.HardwareIds = Property(set, device, SPDRP_HARDWAREID);
    r.CompatibleIds = Property(set, device, SPDRP_COMPATIBLEIDS);
    r.FriendlyName = FirstProperty(set, device, SPDRP_FRIENDLYNAME);
    r.DeviceDesc = FirstProperty(set, device, SPDRP_DEVICEDESC);
    r.Service = FirstProperty(set, device, SPDRP_SERVICE);
    r.Location = FirstProperty(set, device, SPDRP_LOCATION_INFORMATION);
    {
        // Enum\<instance>\Device Parameters: the port's name, FTDI's timer.
        const TRegKey parameters(::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ));
        r.PortName = parameters.Text(L"PortName");
        r.LatencyTimer = parameters.Number(L"LatencyTimer");
    }
    {
        // Control\Class\{4d36e978-...}\NNNN: what the installed driver wrote.
        const TRegKey driver(::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ));
        r.DriverVersion = driver.Text(L"DriverVersion");
    }
    ReadParent(set, device, r);
    return r;
}

// The COM names the system has (\\.\COMn reaches each), with the kernel's
// device behind it: \Device\Serial0, \Device\VCP0, \Device\USBSER000.
std::vector<std::pair<int, std::string>> DosComNames() {
    std::vector<wchar_t> names(16384);
    DWORD got = 0;
    for (;;) {
        got = ::QueryDosDeviceW(nullptr, names.data(), static_cast<DWORD>(names.size()));
        if (got != 0 || ::GetLastError() != ERROR_INSUFFICIENT_BUFFER || names.size() >= (1u << 22)) break;
        names.resize(names.size() * 4);
    }
    std::vector<std::pair<int, std::string>> ports;
    for (std::size_t at = 0; at < got && names[at] != L'\0';) {
        const std::wstring name(&names[at]);
        at += name.size() + 1;
        const std::optional<int> number = ComNumber(WideToUtf8(name));
        if (!number) continue;
        std::array<wchar_t, 512> target{};
        if (::QueryDosDeviceW(name.c_str(), target.data(), static_cast<DWORD>(target.size())) == 0) continue;
        ports.emplace_back(*number, WideToUtf8(target.data()));
    }
    return ports;
}

}  // namespace

std::vector<TSerialDevice> ListSerialDevices() {
    std::vector<TSerialDevice> devices;
    const TDevInfoSet set(::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT));
    if (set.get() != INVALID_HANDLE_VALUE) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        for (DWORD index = 0; ::SetupDiEnumDeviceInfo(set.get(), index, &device); ++index)
            if (auto listed = DeviceFromRecord(RecordOf(set.get(), device))) devices.push_back(std::move(*listed));
    }
    for (const auto& [number, kernelName] : DosComNames()) {
        if (std::ranges::any_of(devices, [n = number](const TSerialDevice& d) { return d.Number == n; })) continue;
        TSerialDevice device;
        device.Number = number;
        device.Path = "\\\\.\\COM" + std::to_string(number);
        device.Driver = kernelName;
        device.Usb = !kernelName.starts_with("\\Device\\Serial");
        device.Accessible = true;
        devices.push_back(std::move(device));
    }
    std::ranges::sort(devices, {}, &TSerialDevice::Number);
    return devices;
}

// A number is present when the system has that COM name.
TPresence PortPresence(int number, const std::string&, const std::vector<TSerialDevice>& devices) {
    return std::ranges::any_of(devices, [number](const TSerialDevice& d) { return d.Number == number; })
               ? TPresence::Present
               : TPresence::Absent;
}

}  // namespace zelk
