#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace zelk {

// The serial port's error. what() is the exact user-facing message, such as
// "Error opening port COM7"; Detail keeps the operating system's reason and the
// device path (for example "/dev/ttyUSB0: Permission denied") for a second line.
class EComPortError : public std::runtime_error {
public:
    explicit EComPortError(const std::string& message, std::string detail = {}, int errnum = 0)
        : std::runtime_error(message), Detail(std::move(detail)), Errno(errnum) {}

    std::string Detail;
    int Errno = 0;
};

// How the transfer reaches the serial port: one write of a whole packet.
class TPortLink {
public:
    virtual ~TPortLink() = default;
    // Hands the bytes to the open port. Returns false, sending nothing, when no
    // port is open. Throws EComPortError when the port fails to take them.
    virtual bool Write(std::span<const std::uint8_t> bytes) = 0;
};

}  // namespace zelk
