#include "serial/port_error.h"

#include <cerrno>

namespace zelk {

bool EComPortError::PermissionDenied() const {
#ifdef _WIN32
    return Errno == 5;  // ERROR_ACCESS_DENIED
#else
    return Errno == EACCES || Errno == EPERM;
#endif
}

std::string PermissionHint() {
    return "Serial ports belong to the dialout group. Join it with\n"
           "    sudo usermod -aG dialout $USER\n"
           "then log out and in again.";
}

}  // namespace zelk
