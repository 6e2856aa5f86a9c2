#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "transfer/port_link.h"  // EComPortError

namespace zelk {

// Runs fn on the main thread and returns once it has run. serial/ knows no
// GUI toolkit: the window supplies one built on Qt, the command line its own.
using TMainThreadInvoker = std::function<void(std::function<void()> fn)>;

class TReadThread;

// Called on the main thread with every chunk (1..256 bytes) the port received.
using TOnRead = std::function<void(TReadThread* sender, std::vector<std::uint8_t> bytes)>;

// "COM" + number, the name every port message uses.
std::string PortName(int number);
// The built-in table alone: COM1-4 -> /dev/ttyS0-3, COM5-12 -> /dev/ttyUSB0-7,
// COM13-20 -> /dev/ttyACM0-7; empty for any other number.
std::string DefaultDevicePath(int number);
// Device for a port number: ZELK_COM<n> from the environment if set, else
// DefaultDevicePath(number).
std::string DevicePathForPort(int number);

// A serial port opened by number: 8 data bits, no parity, 1 stop bit, raw.
// A reader thread hands every received chunk to OnRead on the main thread.
class TComPort {
public:
    // Throws EComPortError ("Error opening port COM5", ...).
    TComPort(int number, int baud, TMainThreadInvoker runOnMain);
    // Opens devicePath; name stands for the port in messages ("Error opening port " + name).
    TComPort(std::string name, std::string devicePath, int baud, TMainThreadInvoker runOnMain);
    // Returns at once; never waits for the reader thread.
    ~TComPort();
    TComPort(const TComPort&) = delete;
    TComPort& operator=(const TComPort&) = delete;

    // Set on the main thread, right after construction.
    void SetOnRead(TOnRead onRead);
    // Queues all the bytes and returns without waiting for them to leave.
    // Throws EComPortError ("Error writing port COM5"), also for bytes of an
    // earlier call that the port failed to take after that call had returned.
    void Write(std::span<const std::uint8_t> bytes);

    const std::string& Name() const;
    const std::string& DevicePath() const;

    // False once reception has ended for good: the port failed on the reader
    // thread, or OnRead threw. Writing may still work.
    bool Receiving() const;
    // The failure that ended reception on the reader thread ("Error reading
    // port COM5", ...). The port never raises it: the reader stops silently.
    std::optional<EComPortError> ReaderError() const;

    // Reader threads of all ports that have not ended yet. A thread ends on
    // its own soon after its port is destroyed.
    static int ReaderThreadCount();
    // Waits until no reader thread is left; false if some still run after limit.
    static bool WaitForReaderThreads(std::chrono::milliseconds limit);

private:
    friend class TReadThread;
    struct TShared;
    std::shared_ptr<TShared> shared_;
};

}  // namespace zelk
