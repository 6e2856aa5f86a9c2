// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// The port's Linux backend: termios2, poll() and an eventfd.
//
// Exclusivity. The port is locked with flock(), which the kernel drops with
// the last descriptor, however the process ends (kill -9 included). The tty's
// exclusive-mode flag (TIOCEXCL) is never set: it outlives a killed holder and
// would then lock every other user out until the adapter is plugged again.
// A flag that another program set is respected, as far as we can tell that
// program still holds the device; it is never cleared.
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <system_error>

#include "common/unique_fd.h"
#include "serial/line_settings.h"
#include "serial/port_backend.h"
#include "serial/port_holder.h"

namespace zelk {

std::string DefaultDevicePath(int number) {
    if (number >= 1 && number <= 4) return "/dev/ttyS" + std::to_string(number - 1);
    if (number >= 5 && number <= 12) return "/dev/ttyUSB" + std::to_string(number - 5);
    if (number >= 13 && number <= 20) return "/dev/ttyACM" + std::to_string(number - 13);
    return {};
}

void NameReaderThread(std::jthread& thread) { ::pthread_setname_np(thread.native_handle(), kReaderThreadName); }

TPortErrorKind PortErrorKindOf(int errnum) {
    switch (errnum) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return TPortErrorKind::NotFound;
    case EACCES:
    case EPERM:
        return TPortErrorKind::PermissionDenied;
    case EBUSY:
    case EWOULDBLOCK:
        return TPortErrorKind::InUse;
    case EIO:
    case EPIPE:
    case ENOSPC:
    case EBADF:
    case ETIMEDOUT:
        return TPortErrorKind::IoFailure;
    case EINVAL:
        return TPortErrorKind::SettingsRefused;
    default:
        return TPortErrorKind::Other;
    }
}

std::string PermissionHint() {
    return "Serial ports belong to the dialout group. Join it with\n"
           "    sudo usermod -aG dialout $USER\n"
           "then log out and in again.";
}

namespace {

bool AllDigits(const char* s) { return *s != '\0' && std::all_of(s, s + std::char_traits<char>::length(s), ::isdigit); }

// Does process pid have target open? Reads the links in /proc/<pid>/fd.
bool HasOpen(const std::string& pid, const std::string& target) {
    const std::string dir = "/proc/" + pid + "/fd";
    DIR* fds = ::opendir(dir.c_str());
    if (fds == nullptr) return false;
    bool found = false;
    while (const dirent* entry = ::readdir(fds)) {
        if (!AllDigits(entry->d_name)) continue;
        char link[PATH_MAX];
        const ssize_t n = ::readlink((dir + '/' + entry->d_name).c_str(), link, sizeof link - 1);
        if (n > 0 && std::string_view(link, static_cast<std::size_t>(n)) == target) {
            found = true;
            break;
        }
    }
    ::closedir(fds);
    return found;
}

// A tty that hung up fails writes, reads and queries with EIO; a USB serial
// adapter pulled out fails them with ENODEV until the driver has hung the tty
// up. Whichever call sees it first, the user is told the same: the device
// hung up.
std::string HangUpText(int err) { return err == EIO || err == ENODEV ? "the device hung up" : std::string(); }

// Drivers report the rate they really set, and some round it to what their
// clock divider makes. Within 2 % a UART link still works; anything further
// off is a rate the driver refused (a quiet fall-back to 9600, say).
bool RateTaken(unsigned wanted, unsigned got) {
    const unsigned long long diff = wanted > got ? wanted - got : got - wanted;
    return diff * 50 <= wanted;
}

// What opening changed on the device, put back when the port closes: the
// line as it was found, then the low-latency flag. A member declared after
// the descriptor, so that it runs before the descriptor closes (which drops
// the lock), also when opening fails half-way. A device that hung up refuses
// both, and then nothing is left to put back.
class TDeviceRestorer {
public:
    TDeviceRestorer() = default;
    TDeviceRestorer(const TDeviceRestorer&) = delete;
    TDeviceRestorer& operator=(const TDeviceRestorer&) = delete;
    ~TDeviceRestorer() {
        if (Line) Line->Restore(Fd);
        if (LowLatency) {
            serial_struct info{};
            if (::ioctl(Fd, TIOCGSERIAL, &info) == 0) {
                info.flags &= ~ASYNC_LOW_LATENCY;
                ::ioctl(Fd, TIOCSSERIAL, &info);
            }
        }
    }

    int Fd = -1;
    std::optional<TSavedLine> Line;  // the line as found
    bool LowLatency = false;         // we set ASYNC_LOW_LATENCY
};

class TLinuxBackend final : public TPortBackend {
public:
    TLinuxBackend(std::string name, std::string path, int baud);

    TReady Wait(bool wantInput, bool wantRoom) override;
    std::size_t Read(std::span<std::uint8_t> buffer) override;
    std::size_t Write(std::span<const std::uint8_t> bytes) override;
    void Wake() override { ::eventfd_write(wake_.Get(), 1); }

private:
    EComPortError Error(const std::string& message, int err, const std::string& why = {}) const {
        return EComPortError(message, path_ + ": " + (why.empty() ? std::generic_category().message(err) : why), err);
    }
    // A failure of the open port: whatever the code (ENODEV from an adapter
    // pulled out included), an I/O failure, not a port that is not there.
    EComPortError IoError(const std::string& message, int err, const std::string& why = {}) const {
        return EComPortError(TPortErrorKind::IoFailure, message,
                             path_ + ": " + (why.empty() ? std::generic_category().message(err) : why), err);
    }
    void Open();
    void ConfigureLine(int baud);
    void RequestLowLatency();

    const std::string name_;
    const std::string path_;
    TUniqueFd fd_;
    TUniqueFd wake_;
    TDeviceRestorer restorer_;  // after fd_: runs before it closes
};

TLinuxBackend::TLinuxBackend(std::string name, std::string path, int baud)
    : name_(std::move(name)), path_(std::move(path)) {
    Open();
    ConfigureLine(baud);
    wake_ = TUniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake_)
        throw EComPortError(TPortErrorKind::Other, "Error creating read event", std::generic_category().message(errno),
                            errno);
}

void TLinuxBackend::Open() {
    const std::string message = "Error opening port " + name_;
    if (path_.empty()) throw EComPortError(message, name_ + ": no device for this port number", ENODEV);
    fd_ = TUniqueFd(::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd_) {
        const int err = errno;
        // EBUSY: another program set exclusive mode.
        throw Error(message, err, err == EBUSY ? InUseText(path_) : std::string());
    }
    // Another program, or a second window of this one, that holds the port.
    if (::flock(fd_.Get(), LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        throw Error(message, err, err == EWOULDBLOCK ? InUseText(path_) : std::string());
    }
    int exclusive = 0;
    if (::ioctl(fd_.Get(), TIOCGEXCL, &exclusive) != 0) {
        const int err = errno;
        throw Error(message, err, err == ENOTTY ? "not a terminal" : std::string());
    }
    // Only root gets this far past another program's exclusive mode. While
    // that program still has the device open it is in use; a flag left by a
    // program that is gone is left as it is.
    if (exclusive != 0 && !PortHolders(path_).empty()) throw Error(message, EBUSY, InUseText(path_));
}

void TLinuxBackend::ConfigureLine(int baud) {
    const std::string stateError = "Error setting port " + name_ + " state";
    const int fd = fd_.Get();
    if (baud <= 0)
        throw EComPortError(TPortErrorKind::SettingsRefused, stateError,
                            path_ + ": " + std::to_string(baud) + " is not a baud rate", EINVAL);
    // Kept only when it could be read: a line that cannot be read is not put back.
    restorer_.Fd = fd;
    if (TSavedLine found = TSavedLine::Of(fd); found.Errno() == 0) restorer_.Line = found;
    const TLineResult line = SetRawLine(fd, static_cast<unsigned>(baud));
    if (line.Errno != 0) throw Error(stateError, line.Errno);
    if (!RateTaken(static_cast<unsigned>(baud), line.OutBaud) || !RateTaken(static_cast<unsigned>(baud), line.InBaud))
        throw Error(stateError, EINVAL,
                    "the driver does not take " + std::to_string(baud) + " baud (it reports " +
                        std::to_string(line.OutBaud) + ")");
    // The driver queues of 1200 bytes that Windows is asked for have no
    // termios counterpart: the Linux tty layer sizes its own buffers.
    RequestLowLatency();
    if (::tcflush(fd, TCIOFLUSH) != 0) throw Error("Error purging port " + name_, errno);
}

// Many USB adapters hold received bytes back for up to 16 ms unless asked for
// low latency; over the thousands of one-byte replies of an upload that adds
// up to minutes. Drivers without the setting (a pseudo-terminal among them)
// are left as they are.
void TLinuxBackend::RequestLowLatency() {
    serial_struct info{};
    if (::ioctl(fd_.Get(), TIOCGSERIAL, &info) != 0 || (info.flags & ASYNC_LOW_LATENCY) != 0) return;
    info.flags |= ASYNC_LOW_LATENCY;
    restorer_.LowLatency = ::ioctl(fd_.Get(), TIOCSSERIAL, &info) == 0;
}

TPortBackend::TReady TLinuxBackend::Wait(bool wantInput, bool wantRoom) {
    std::array<pollfd, 2> fds{{{fd_.Get(), static_cast<short>((wantInput ? POLLIN : 0) | (wantRoom ? POLLOUT : 0)), 0},
                               {wake_.Get(), POLLIN, 0}}};
    if (::poll(fds.data(), fds.size(), -1) < 0) {
        if (errno == EINTR) return {};
        throw IoError("Error waiting port " + name_ + " event", errno);
    }
    TReady ready;
    if ((fds[1].revents & POLLIN) != 0) {
        eventfd_t signals = 0;
        ::eventfd_read(wake_.Get(), &signals);
        ready.Woken = true;
    }
    const short got = fds[0].revents;
    if ((got & (POLLHUP | POLLERR | POLLNVAL)) != 0) throw IoError("Error reading port " + name_, EIO, "the device hung up");
    ready.Input = (got & POLLIN) != 0;
    ready.Room = (got & POLLOUT) != 0;
    return ready;
}

std::size_t TLinuxBackend::Read(std::span<std::uint8_t> buffer) {
    int queued = 0;
    if (::ioctl(fd_.Get(), FIONREAD, &queued) != 0) {
        // A hung-up tty refuses the query too (seen with an FTDI adapter pulled out).
        const int err = errno;
        if (!HangUpText(err).empty()) throw IoError("Error reading port " + name_, err, HangUpText(err));
        throw IoError("Error clearing port " + name_, err);
    }
    if (queued <= 0) return 0;
    const ssize_t got = ::read(fd_.Get(), buffer.data(), std::min(static_cast<std::size_t>(queued), buffer.size()));
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    if (got < 0) throw IoError("Error reading port " + name_, errno, HangUpText(errno));
    if (got == 0) throw IoError("Error reading port " + name_, EIO, "the device hung up");
    return static_cast<std::size_t>(got);
}

std::size_t TLinuxBackend::Write(std::span<const std::uint8_t> bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::write(fd_.Get(), bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        const int err = n < 0 ? errno : EIO;
        throw IoError("Error writing port " + name_, err, HangUpText(err));
    }
    return sent;
}

}  // namespace

// The event character has no termios counterpart: RequestLowLatency does
// the same for every byte.
std::unique_ptr<TPortBackend> OpenPortBackend(const std::string& name, const std::string& path, int baud,
                                              const TPortOptions&) {
    return std::make_unique<TLinuxBackend>(name, path, baud);
}

std::vector<TPortHolder> PortHolders(const std::string& devicePath) {
    std::vector<TPortHolder> holders;
    const std::string target = ResolvedPath(devicePath);
    const std::string self = std::to_string(::getpid());
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return holders;
    while (const dirent* entry = ::readdir(proc)) {
        if (!AllDigits(entry->d_name) || entry->d_name == self || !HasOpen(entry->d_name, target)) continue;
        TPortHolder holder{std::atoi(entry->d_name), {}};
        std::ifstream(std::string("/proc/") + entry->d_name + "/comm") >> holder.Name;
        holders.push_back(std::move(holder));
    }
    ::closedir(proc);
    std::ranges::sort(holders, {}, &TPortHolder::Pid);
    return holders;
}

std::string InUseText(const std::string& devicePath) {
    std::string text = "in use by another program";
    const std::vector<TPortHolder> holders = PortHolders(devicePath);
    for (std::size_t i = 0; i < holders.size(); ++i)
        text += (i == 0 ? ": " : "; ") + holders[i].Name + ", pid " + std::to_string(holders[i].Pid);
    return text;
}

}  // namespace zelk
