// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// The Win32 backend under TComPort, run under Wine: COM1 is a pseudo-terminal
// with zelk-emu on its other side (scripts/test-windows.sh sets that up);
// COM7 has nothing behind it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "common/main_thread_queue.h"
#include "common/unique_handle.h"
#include "common/wide_text.h"
#include "serial/com_port.h"
#include "serial/line_settings_win32.h"
#include "serial/port_backend.h"

namespace zelk::test {
namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

constexpr int kEmulatedPort = 1;
constexpr int kEmptyPort = 7;
constexpr auto kBound = 10s;  // generous: Wine on a loaded 2-core machine

template <typename TMake>
std::optional<EComPortError> ErrorOf(TMake make) {
    try {
        make();
    } catch (const EComPortError& e) {
        return e;
    }
    return std::nullopt;
}

// Wine names itself in ntdll; Windows does not.
bool UnderWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The line as a second opener finds it once the port has closed.
DCB LineOf(int number) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    const TUniqueHandle h(::CreateFileW(Utf8ToWide(DevicePathForPort(number)).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(h) << ::GetLastError();
    if (h) {
        EXPECT_TRUE(::GetCommState(h.Get(), &dcb)) << ::GetLastError();
    }
    return dcb;
}

class PortTest : public ::testing::Test {
protected:
    // Runs queued calls until done() holds or the bound passes.
    template <typename TDone>
    bool RunUntil(TDone done) {
        const auto deadline = TClock::now() + kBound;
        while (!done()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now());
            if (left <= 0ms) return false;
            if (::WaitForSingleObject(static_cast<HANDLE>(main.WaitHandle()), static_cast<DWORD>(left.count())) ==
                WAIT_OBJECT_0)
                main.RunPending();
        }
        return true;
    }

    // Opens COM1 and collects what it receives.
    std::unique_ptr<TComPort> Open(int baud = 115200) {
        auto port = std::make_unique<TComPort>(kEmulatedPort, baud, main.Invoker(), TPortOptions{0x05});
        port->SetOnRead([this](std::vector<std::uint8_t> bytes) {
            deliveredOnMain = deliveredOnMain && std::this_thread::get_id() == mainThread;
            received.insert(received.end(), bytes.begin(), bytes.end());
        });
        port->SetOnError([this](const EComPortError& e) { error = e; });
        return port;
    }

    // The start burst: the emulated controller answers with its first request, 0x05.
    void ExchangeBurst(TComPort& port) {
        received.clear();
        const std::vector<std::uint8_t> burst{0x55, 0x55, 0x55};
        port.Write(burst);
        ASSERT_TRUE(RunUntil([&] { return !received.empty() || error; })) << "no reply within the bound";
        ASSERT_FALSE(error) << error->what() << ": " << error->Detail;
        EXPECT_EQ(received, std::vector<std::uint8_t>{0x05});
    }

    TMainThreadQueue main;
    const std::thread::id mainThread = std::this_thread::get_id();
    std::vector<std::uint8_t> received;
    std::optional<EComPortError> error;
    bool deliveredOnMain = true;
};

TEST_F(PortTest, PortWithNothingBehindIsAnOpeningError) {
    const auto e = ErrorOf([&] { TComPort(kEmptyPort, 9600, main.Invoker()); });
    ASSERT_TRUE(e);
    EXPECT_STREQ(e->what(), "Error opening port COM7");
    EXPECT_EQ(e->Detail.rfind("\\\\.\\COM7: ", 0), 0u) << e->Detail;
    EXPECT_GT(e->Detail.size(), std::string("\\\\.\\COM7: ").size()) << "the system's text follows the device";
    EXPECT_NE(e->Errno, 0);
    EXPECT_FALSE(e->PermissionDenied());

    const auto none = ErrorOf([&] { TComPort(21, 9600, main.Invoker()); });
    ASSERT_TRUE(none);
    EXPECT_STREQ(none->what(), "Error opening port COM21");
    EXPECT_EQ(none->Detail, "COM21: no device for this port number");
}

TEST_F(PortTest, PortHeldByThisProgramIsInUse) {
    if (UnderWine()) GTEST_SKIP() << "Wine lets a second handle open a serial device that one holds";
    const auto first = Open();
    const auto e = ErrorOf([&] { Open(); });
    ASSERT_TRUE(e);
    EXPECT_STREQ(e->what(), "Error opening port COM1");
    EXPECT_EQ(e->Detail, "\\\\.\\COM1: in use by another program");
}

TEST_F(PortTest, EveryRateIsSetAt8N1) {
    for (const int baud : kBaudRates) {
        Open(baud).reset();
        const DCB line = LineOf(kEmulatedPort);
        // Wine sets rates that termios has no constant for through the
        // serial driver's custom divisor on top of 38400, which a
        // pseudo-terminal does not have: it reads back 38400.
        const bool wineCustomRate = UnderWine() && (baud == 14400 || baud == 56000);
        EXPECT_EQ(line.BaudRate, static_cast<DWORD>(wineCustomRate ? 38400 : baud));
        EXPECT_EQ(line.ByteSize, 8) << baud;
        EXPECT_EQ(line.Parity, NOPARITY) << baud;
        EXPECT_EQ(line.StopBits, ONESTOPBIT) << baud;
    }
}

// The backend's own codes: a port Windows refuses is one in use (there is
// no group to join); what Wine answers for a terminal that hung up is an I/O failure.
TEST(PortErrors, SystemCodesMapToKinds) {
    const std::pair<DWORD, TPortErrorKind> cases[] = {
        {ERROR_FILE_NOT_FOUND, TPortErrorKind::NotFound},    {ERROR_ACCESS_DENIED, TPortErrorKind::InUse},
        {ERROR_NOT_READY, TPortErrorKind::IoFailure},        {ERROR_BROKEN_PIPE, TPortErrorKind::IoFailure},
        {ERROR_INVALID_PARAMETER, TPortErrorKind::SettingsRefused}, {0, TPortErrorKind::Other}};
    for (const auto& [code, kind] : cases)
        EXPECT_EQ(EComPortError("m", "d", static_cast<int>(code)).Kind, kind) << code;
    EXPECT_EQ(PermissionHint(), "");
}

// The event character the port is asked for, for FTDI's driver, which
// passes on what it holds when that byte comes; none leaves the driver's.
TEST(LineSettings, EventCharacterComesFromThePortOptions) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.EvtChar = 'x';
    dcb.XonChar = 0x11;
    SetLineFields(dcb, 9600, {});
    EXPECT_EQ(dcb.EvtChar, 'x');
    SetLineFields(dcb, 115200, TPortOptions{0x05});
    EXPECT_EQ(static_cast<unsigned char>(dcb.EvtChar), 0x05);
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.XonChar, 0x11);  // the rest as it was
}

// The same, as the driver reports it once the port has been opened.
TEST_F(PortTest, DriverReportsTheRequestByteAsEventCharacter) {
    // Wine's serial driver keeps no event character: it reports 0 whatever was set.
    if (UnderWine()) GTEST_SKIP() << "Wine reports EvtChar 0 whatever was set";
    Open().reset();
    EXPECT_EQ(static_cast<unsigned char>(LineOf(kEmulatedPort).EvtChar), 0x05);
}

TEST_F(PortTest, RepliesArriveOnTheMainThread) {
    const auto port = Open();
    ExchangeBurst(*port);
    EXPECT_TRUE(deliveredOnMain);
}

// The reader sits in Wait, as between two replies of an upload.
TEST_F(PortTest, ClosingWhileTheReaderWaitsIsPrompt) {
    auto port = Open();
    ExchangeBurst(*port);
    const auto started = TClock::now();
    port.reset();
    EXPECT_LT(TClock::now() - started, 500ms);
}

// As the uploader stops: from inside a delivery, with a write just handed over.
TEST_F(PortTest, ClosingFromInsideOnReadIsPrompt) {
    auto port = Open();
    std::optional<TClock::duration> took;
    port->SetOnRead([&](std::vector<std::uint8_t>) {
        const std::vector<std::uint8_t> packet(36, 0);
        port->Write(packet);
        const auto started = TClock::now();
        port.reset();
        took = TClock::now() - started;
    });
    const std::vector<std::uint8_t> burst{0x55, 0x55, 0x55};
    port->Write(burst);
    ASSERT_TRUE(RunUntil([&] { return took.has_value(); }));
    EXPECT_LT(*took, 500ms);
}

// Run with the emulator stopped (scripts/test-windows.sh): nothing reads the
// other side, so the driver's queue fills and writes stay pending. The main
// thread must not wait for them, and closing must still be prompt.
TEST_F(PortTest, StalledDeviceBlocksNoWriteAndClosingIsPrompt) {
    auto port = Open();
    const std::vector<std::uint8_t> packet(36, 0xA5);
    auto slowest = TClock::duration::zero();
    for (int i = 0; i < 4096; ++i) {  // 144 KiB, more than a terminal buffers
        const auto started = TClock::now();
        port->Write(packet);
        slowest = std::max(slowest, TClock::now() - started);
        if (slowest > 2s) break;
    }
    EXPECT_LT(slowest, 2s) << "a write waited for the device";
    EXPECT_FALSE(error) << error->what() << ": " << error->Detail;
    const auto started = TClock::now();
    port.reset();
    EXPECT_LT(TClock::now() - started, 2s);
}

TEST(PortNames, ComNumbersMapToWin32DeviceNames) {
    EXPECT_EQ(DefaultDevicePath(1), "\\\\.\\COM1");
    EXPECT_EQ(DefaultDevicePath(20), "\\\\.\\COM20");
    EXPECT_EQ(DefaultDevicePath(0), "");
    EXPECT_EQ(DefaultDevicePath(21), "");
}

}  // namespace
}  // namespace zelk::test
