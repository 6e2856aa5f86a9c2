#include <cstdlib>
#include <string>

#include "serial/com_port.h"

namespace zelk {

std::string PortName(int number) { return "COM" + std::to_string(number); }

std::string DefaultDevicePath(int number) {
    if (number >= 1 && number <= 4) return "/dev/ttyS" + std::to_string(number - 1);
    if (number >= 5 && number <= 12) return "/dev/ttyUSB" + std::to_string(number - 5);
    if (number >= 13 && number <= 20) return "/dev/ttyACM" + std::to_string(number - 13);
    return {};
}

std::string DevicePathForPort(int number) {
    const std::string variable = "ZELK_COM" + std::to_string(number);
    if (const char* path = std::getenv(variable.c_str()); path != nullptr && *path != '\0') return path;
    return DefaultDevicePath(number);
}

}  // namespace zelk
