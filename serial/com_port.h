// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "common/main_thread_queue.h"
#include "serial/port_error.h"

namespace zelk {

class TPortBackend;
class TReadThread;

// Called on the main thread with every chunk (1..256 bytes) the port received.
using TOnRead = std::function<void(std::vector<std::uint8_t> bytes)>;
// Called on the main thread, once, when the port fails on the reader thread
// (the device hung up, say); nothing is received after it.
using TOnError = std::function<void(const EComPortError& error)>;

// "COM" + number, the name every port message uses.
std::string PortName(int number);
// Device for a port number: ZELK_COM<n> from the environment if set, else
// the platform's DefaultDevicePath(number).
std::string DevicePathForPort(int number);

// What a port asks of its driver besides the line's settings.
struct TPortOptions {
    // A byte to be passed on the moment it arrives: the device's request for
    // the next packet. On Windows the DCB's event character, which FTDI's
    // driver honours instead of holding received bytes up to its latency
    // timer; Linux asks such drivers for low latency whatever the byte. None
    // leaves the driver's own.
    std::optional<std::uint8_t> EventChar;
};

// The rates the device is run at, as the window lists them.
inline constexpr int kBaudRates[] = {1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200};
bool SupportedBaud(int baud);

// A serial port opened by number: 8 data bits, no parity, 1 stop bit, raw.
// A reader thread hands every received chunk to OnRead on the main thread and
// waits until it has been handled.
class TComPort {
public:
    // Throws EComPortError ("Error opening port COM5", ...).
    TComPort(int number, int baud, TMainThreadInvoker runOnMain, const TPortOptions& options = {});
    // Opens devicePath; name stands for the port in messages ("Error opening port " + name).
    TComPort(std::string name, std::string devicePath, int baud, TMainThreadInvoker runOnMain,
             const TPortOptions& options = {});
    // Stops and joins the reader, and closes the device. Returns within
    // milliseconds, also while a delivery waits for the main thread or runs
    // (the port may be destroyed from inside OnRead).
    ~TComPort();
    TComPort(const TComPort&) = delete;
    TComPort& operator=(const TComPort&) = delete;

    // Set on the main thread, right after construction. Chunks that arrive
    // before OnRead is set are dropped; without OnError a failure ends
    // reception silently.
    void SetOnRead(TOnRead onRead);
    void SetOnError(TOnError onError);
    // Queues all the bytes and returns without waiting for them to leave.
    // Throws EComPortError ("Error writing port COM5"), also for bytes of an
    // earlier call that the port failed to take after that call had returned.
    void Write(std::span<const std::uint8_t> bytes);

    const std::string& Name() const { return name_; }
    const std::string& DevicePath() const { return path_; }

private:
    friend class TReadThread;
    struct TTarget;

    void SendPending();  // with mutex_ held

    const std::string name_;
    const std::string path_;
    std::unique_ptr<TPortBackend> backend_;
    // What deliveries call; shared with deliveries that may still be queued.
    std::shared_ptr<TTarget> target_;

    std::mutex mutex_;
    std::vector<std::uint8_t> pending_;  // written bytes the driver has not taken yet, in order
    std::unique_ptr<EComPortError> writeError_;  // the driver refused pending_ while the reader sent it
    bool readerEnded_ = false;

    std::unique_ptr<TReadThread> reader_;
};

}  // namespace zelk
