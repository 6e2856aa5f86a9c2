// TComPort on Linux: termios, poll() and an eventfd.
//
// How a port stops. ~TComPort runs on the main thread and must not wait for
// the reader: the reader may be blocked in a delivery that the main thread
// only runs after the destructor has returned.
//  - Everything both threads use lives in TShared, owned jointly by the
//    TComPort and the reader thread. The port fd and the eventfd close when the
//    last owner lets go, so while the reader runs its fd number stays taken:
//    it cannot be handed to a newly opened port while the reader may still
//    poll or read it.
//  - The destructor clears OnRead (main thread state: a delivery that is
//    already queued then finds nothing to call), and under Mutex sets Stopped,
//    drops the bytes not yet written and releases the device (TIOCNXCL,
//    flock LOCK_UN), so that the same port opens again at once even while the
//    old fd is still open. Then it signals the eventfd.
//  - The reader reads, writes and queries the fd only under Mutex, right after
//    checking Stopped, and checks Stopped again before every poll(). An
//    eventfd signal that arrives between that check and poll() stays pending
//    and makes poll() return at once. So once the destructor has released
//    Mutex the reader touches the fd no more; it ends and drops its share.
//
// Writing. The fd is non-blocking. Write hands the bytes to the driver at
// once when nothing waits before them; what the driver cannot take yet stays
// in Pending, and the reader sends it, in order, when poll() reports room.
// After OnRead has thrown the reader reads no more but keeps this job, so
// writes still work. Only a thread that has ended for good (the device hung
// up) leaves Write on its own.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "serial/com_port.h"
#include "serial/line_settings.h"
#include "serial/unique_fd.h"

namespace zelk {

namespace {

// Reader threads that have started and not yet made their last step.
class TReaderCount {
public:
    void Enter() {
        std::lock_guard lock(mutex_);
        ++count_;
    }
    void Leave() {
        {
            std::lock_guard lock(mutex_);
            --count_;
        }
        ended_.notify_all();
    }
    int Count() {
        std::lock_guard lock(mutex_);
        return count_;
    }
    bool WaitForNone(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return ended_.wait_for(lock, limit, [this] { return count_ == 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable ended_;
    int count_ = 0;
};

TReaderCount& Readers() {
    // Never destroyed: a reader may still be leaving while the program exits.
    static auto* const readers = new TReaderCount;
    return *readers;
}

// Drivers report the rate they really set, and some round it to what their
// clock divider makes. Within 2 % a UART link still works; anything further
// off is a rate the driver refused (a quiet fall-back to 9600, say).
bool RateTaken(unsigned wanted, unsigned got) {
    const unsigned long long diff = wanted > got ? wanted - got : got - wanted;
    return diff * 50 <= wanted;
}

// Many USB adapters hold received bytes back for up to 16 ms unless asked for
// low latency; over the thousands of one-byte replies of an upload that adds
// up to minutes. Drivers without the setting (a pseudo-terminal among them)
// are left as they are.
void RequestLowLatency(int fd) {
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0 || (info.flags & ASYNC_LOW_LATENCY) != 0) return;
    info.flags |= ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &info);
}

// Lets another open of the device succeed; the fd itself stays open.
void ReleaseDevice(int fd) {
    ::ioctl(fd, TIOCNXCL);
    ::flock(fd, LOCK_UN);
}

}  // namespace

struct TComPort::TShared {
    std::string Name;
    std::string Path;
    TMainThreadInvoker RunOnMain;
    TUniqueFd PortFd;
    TUniqueFd WakeFd;

    // Main thread only.
    TOnRead OnRead;

    // The rest is shared by both threads.
    mutable std::mutex Mutex;
    bool Stopped = false;    // the TComPort is gone
    bool Receiving = true;   // false once OnRead threw or the reader ended
    bool ReaderEnded = false;
    std::vector<std::uint8_t> Pending;        // written bytes the driver has not taken yet, in order
    std::optional<EComPortError> WriteError;  // the driver refused Pending while the reader sent it
    std::optional<EComPortError> ReadError;

    EComPortError PortError(const std::string& message, int err, const std::string& why = {}) const {
        return EComPortError(message, Path + ": " + (why.empty() ? std::generic_category().message(err) : why), err);
    }

    void WakeReader() const { ::eventfd_write(WakeFd.Get(), 1); }

    void OpenDevice();
    void ConfigureLine(int baud);

    // Under Mutex: hands Pending to the driver until it is all taken or the
    // driver has no room left. A failure drops Pending and throws.
    void SendPending() {
        std::size_t sent = 0;
        while (sent < Pending.size()) {
            const ssize_t n = ::write(PortFd.Get(), Pending.data() + sent, Pending.size() - sent);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            const int err = n < 0 ? errno : EIO;
            Pending.clear();
            throw PortError("Error writing port " + Name, err);
        }
        Pending.erase(Pending.begin(), Pending.begin() + static_cast<std::ptrdiff_t>(sent));
    }
};

void TComPort::TShared::OpenDevice() {
    const std::string message = "Error opening port " + Name;
    if (Path.empty()) throw EComPortError(message, Name + ": no device for this port number", ENODEV);
    TUniqueFd fd(::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) throw PortError(message, errno);
    // Another program, or a second window of this one, that holds the port.
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        throw PortError(message, err, err == EWOULDBLOCK ? "in use by another program" : std::string());
    }
    if (::ioctl(fd.Get(), TIOCEXCL) != 0) {
        const int err = errno;
        throw PortError(message, err, err == ENOTTY ? "not a terminal" : std::string());
    }
    PortFd = std::move(fd);
}

void TComPort::TShared::ConfigureLine(int baud) {
    const std::string stateError = "Error setting port " + Name + " state";
    const int fd = PortFd.Get();
    if (baud <= 0) throw PortError(stateError, EINVAL, std::to_string(baud) + " is not a baud rate");
    const TLineResult line = SetRawLine(fd, static_cast<unsigned>(baud));
    if (line.Errno != 0) throw PortError(stateError, line.Errno);
    if (!RateTaken(static_cast<unsigned>(baud), line.OutBaud) || !RateTaken(static_cast<unsigned>(baud), line.InBaud))
        throw PortError(stateError, EINVAL,
                        "the driver does not take " + std::to_string(baud) + " baud (it reports " +
                            std::to_string(line.OutBaud) + ")");
    // The driver queues of 1200 bytes that Windows is asked for have no
    // termios counterpart: the Linux tty layer sizes its own buffers.
    RequestLowLatency(fd);
    if (::tcflush(fd, TCIOFLUSH) != 0) throw PortError("Error purging port " + Name, errno);
}

class TReadThread {
public:
    explicit TReadThread(std::shared_ptr<TComPort::TShared> shared) : shared_(std::move(shared)) {}

    // The thread's body: runs the reader, then drops its share of the port.
    static void Run(std::shared_ptr<TComPort::TShared> shared);

private:
    // Runs until the port is destroyed or fails; never throws.
    void Execute();
    void Loop();
    void Deliver(std::size_t count);

    std::shared_ptr<TComPort::TShared> shared_;
    std::array<std::uint8_t, 256> ReadBuf{};
};

void TReadThread::Run(std::shared_ptr<TComPort::TShared> shared) {
    {
        TReadThread reader(std::move(shared));
        reader.Execute();
    }  // if the port object is gone, this closed the fds
    Readers().Leave();
}

void TReadThread::Execute() {
    std::optional<EComPortError> failure;
    try {
        Loop();
    } catch (const EComPortError& e) {
        failure = e;
    } catch (...) {
        // The invoker failed to hand a chunk over: reception ends the same way.
    }
    TComPort::TShared& s = *shared_;
    std::lock_guard lock(s.Mutex);
    s.ReaderEnded = true;
    s.Receiving = false;
    if (!s.Stopped) s.ReadError = std::move(failure);
}

void TReadThread::Loop() {
    TComPort::TShared& s = *shared_;
    const int port = s.PortFd.Get();
    std::array<pollfd, 2> fds{{{port, 0, 0}, {s.WakeFd.Get(), POLLIN, 0}}};
    for (;;) {
        {
            std::lock_guard lock(s.Mutex);
            if (s.Stopped) return;
            fds[0].events = static_cast<short>((s.Receiving ? POLLIN : 0) | (s.Pending.empty() ? 0 : POLLOUT));
        }
        // No time-out: the device may stay silent for as long as it likes.
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            throw s.PortError("Error waiting port " + s.Name + " event", errno);
        }
        if ((fds[1].revents & POLLIN) != 0) {
            eventfd_t signals = 0;
            ::eventfd_read(s.WakeFd.Get(), &signals);
        }

        std::unique_lock lock(s.Mutex);
        if (s.Stopped) return;
        const short ready = fds[0].revents;
        if ((ready & (POLLHUP | POLLERR | POLLNVAL)) != 0)
            throw s.PortError("Error reading port " + s.Name, EIO, "the device hung up or failed");
        if ((ready & POLLOUT) != 0) {
            try {
                s.SendPending();
            } catch (const EComPortError& e) {
                s.WriteError = e;
            }
        }
        if ((ready & POLLIN) == 0 || !s.Receiving) continue;

        int queued = 0;
        if (::ioctl(port, FIONREAD, &queued) != 0) throw s.PortError("Error clearing port " + s.Name, errno);
        if (queued <= 0) continue;
        const ssize_t got = ::read(port, ReadBuf.data(), std::min(static_cast<std::size_t>(queued), ReadBuf.size()));
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (got < 0) throw s.PortError("Error reading port " + s.Name, errno);
        if (got == 0) throw s.PortError("Error reading port " + s.Name, EIO, "the device hung up");
        lock.unlock();
        Deliver(static_cast<std::size_t>(got));
    }
}

void TReadThread::Deliver(std::size_t count) {
    std::vector<std::uint8_t> bytes(ReadBuf.begin(), ReadBuf.begin() + static_cast<std::ptrdiff_t>(count));
    const std::weak_ptr<TComPort::TShared> port = shared_;
    shared_->RunOnMain([port, sender = this, bytes = std::move(bytes)]() mutable {
        const auto s = port.lock();
        // ~TComPort clears OnRead: a delivery queued before it ran does nothing.
        if (!s || !s->OnRead) return;
        // A copy, because the callback may destroy the port, which clears s->OnRead.
        const TOnRead onRead = s->OnRead;
        try {
            onRead(sender, std::move(bytes));
        } catch (...) {
            // Caught here on the main thread: not every invoker can carry an
            // exception back to the reader.
            std::lock_guard lock(s->Mutex);
            s->Receiving = false;
        }
    });
}

TComPort::TComPort(int number, int baud, TMainThreadInvoker runOnMain)
    : TComPort(PortName(number), DevicePathForPort(number), baud, std::move(runOnMain)) {}

TComPort::TComPort(std::string name, std::string devicePath, int baud, TMainThreadInvoker runOnMain)
    : shared_(std::make_shared<TShared>()) {
    TShared& s = *shared_;
    s.Name = std::move(name);
    s.Path = std::move(devicePath);
    s.RunOnMain = std::move(runOnMain);
    s.OpenDevice();
    // From here a failure must undo the lock and the exclusive mode; closing
    // the fd (when shared_ goes) does the rest.
    try {
        s.ConfigureLine(baud);
        s.WakeFd = TUniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!s.WakeFd) throw EComPortError("Error creating read event", std::generic_category().message(errno), errno);
        Readers().Enter();
        try {
            std::thread(TReadThread::Run, shared_).detach();
        } catch (const std::system_error& e) {
            Readers().Leave();
            throw EComPortError("Error creating read thread", e.code().message(), e.code().value());
        }
    } catch (...) {
        ReleaseDevice(s.PortFd.Get());
        throw;
    }
}

TComPort::~TComPort() {
    TShared& s = *shared_;
    s.OnRead = nullptr;
    {
        std::lock_guard lock(s.Mutex);
        s.Stopped = true;
        s.Pending.clear();
        ReleaseDevice(s.PortFd.Get());
    }
    s.WakeReader();
}

void TComPort::SetOnRead(TOnRead onRead) { shared_->OnRead = std::move(onRead); }

void TComPort::Write(std::span<const std::uint8_t> bytes) {
    TShared& s = *shared_;
    std::unique_lock lock(s.Mutex);
    if (s.WriteError) {
        const EComPortError error = std::move(*s.WriteError);
        s.WriteError.reset();
        throw error;
    }
    if (bytes.empty()) return;
    // Bytes still wait for room: the reader sends these after them.
    const bool readerSends = !s.Pending.empty() && !s.ReaderEnded;
    s.Pending.insert(s.Pending.end(), bytes.begin(), bytes.end());
    if (readerSends) return;
    s.SendPending();
    if (s.Pending.empty()) return;
    if (s.ReaderEnded) {
        // No thread is left to wait for room.
        s.Pending.clear();
        throw s.PortError("Error writing port " + s.Name, EAGAIN);
    }
    lock.unlock();
    s.WakeReader();  // to wait for room as well
}

const std::string& TComPort::Name() const { return shared_->Name; }

const std::string& TComPort::DevicePath() const { return shared_->Path; }

bool TComPort::Receiving() const {
    std::lock_guard lock(shared_->Mutex);
    return shared_->Receiving;
}

std::optional<EComPortError> TComPort::ReaderError() const {
    std::lock_guard lock(shared_->Mutex);
    return shared_->ReadError;
}

int TComPort::ReaderThreadCount() { return Readers().Count(); }

bool TComPort::WaitForReaderThreads(std::chrono::milliseconds limit) { return Readers().WaitForNone(limit); }

}  // namespace zelk
