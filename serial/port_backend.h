// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <thread>

#include "serial/port_error.h"

namespace zelk {
struct TPortOptions;
}

namespace zelk {

// What one platform does for TComPort: open and configure the device, wait
// for input, room or a wake-up, read, write and close. Each platform has one
// file that implements it (chosen in CMake); TComPort does the rest: delivery
// on the main thread, bytes waiting to be written, lifetime and error reports.
//
// Threads: the reader thread calls Wait and Read; Write is called on the main
// thread, and on the reader thread for bytes that had to wait for room, never
// both at once (TComPort's lock). Wake may be called from any thread. The
// destructor runs after the reader thread has been joined.
class TPortBackend {
public:
    struct TReady {
        bool Input = false;  // bytes are queued for Read (or a read will tell why not)
        bool Room = false;   // Write may take more bytes
        bool Woken = false;  // Wake() was called
    };

    virtual ~TPortBackend() = default;  // undoes what opening changed, closes the device

    // Waits with no time limit until input is queued (when wantInput), the
    // driver can take more output (when wantRoom), or Wake() is called. A
    // spurious return with nothing ready is allowed. Throws EComPortError:
    // "Error waiting port COMn event"; a device that hung up or failed,
    // "Error reading port COMn".
    virtual TReady Wait(bool wantInput, bool wantRoom) = 0;

    // Reads what the driver has queued, at most buffer.size() bytes, without
    // blocking; 0 when nothing is queued after all. Throws EComPortError:
    // "Error clearing port COMn" (the queue could not be queried) or
    // "Error reading port COMn".
    virtual std::size_t Read(std::span<std::uint8_t> buffer) = 0;

    // Hands bytes to the driver without blocking and returns how many it took,
    // which may be fewer than offered, even none. Throws EComPortError
    // "Error writing port COMn".
    virtual std::size_t Write(std::span<const std::uint8_t> bytes) = 0;

    // Makes the Wait in progress, or the next one, return with Woken.
    virtual void Wake() = 0;
};

// Opens the device at path for the port called name ("COM5") and sets it to
// 8 data bits, no parity, 1 stop bit at baud, passing every byte unchanged,
// with what options ask where the platform has it. Throws EComPortError with
// the exact message of the step that failed ("Error opening port COM5",
// "Error setting port COM5 state", ...).
std::unique_ptr<TPortBackend> OpenPortBackend(const std::string& name, const std::string& path, int baud,
                                              const TPortOptions& options);

// The platform's device for a port number, empty for none: on Linux
// /dev/ttyS0-3, /dev/ttyUSB0-7 and /dev/ttyACM0-7 for 1-20; on Windows \\.\COMn.
std::string DefaultDevicePath(int number);

// What a port's reader thread is called in ps, top and a debugger.
inline constexpr char kReaderThreadName[] = "zelk-port";

// Gives the thread kReaderThreadName where the platform can; called by the
// thread that started it, so the name is set when the call returns.
void NameReaderThread(std::jthread& thread);

}  // namespace zelk
