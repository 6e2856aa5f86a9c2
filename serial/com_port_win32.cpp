// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// The port's Windows backend: overlapped I/O on \\.\COMn, WaitCommEvent for
// input and an event that wakes the reader.
//
// Every call that may block is overlapped, so the reader thread waits on the
// port's event and the wake event together. WaitCommEvent is never left
// pending outside Wait(): when the wake event wins it is cancelled and its
// completion waited for, so Read can reuse the same event and the destructor
// finds no wait in flight. One WriteFile is in flight at a time, with a copy
// of its bytes the backend owns until the driver reports it done; while it is
// in flight Write takes nothing and Wait reports room once it is done, so a
// device that stops taking bytes never holds up the thread that writes.
#include <windows.h>
#include <pthread.h>

#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "common/unique_handle.h"
#include "common/wide_text.h"
#include "serial/port_backend.h"
#include "serial/com_port.h"
#include "serial/line_settings_win32.h"
#include "serial/port_holder.h"

namespace zelk {

std::string DefaultDevicePath(int number) {
    if (number >= 1 && number <= 20) return "\\\\.\\COM" + std::to_string(number);
    return {};
}

void NameReaderThread(std::jthread& thread) {
    // SetThreadDescription came with Windows 10 1607: looked up, so older
    // systems still load the program. std::thread is a winpthreads thread
    // here (the posix toolchain), whose Win32 handle pthread_gethandle gives.
    using TSetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return;
    const auto set = reinterpret_cast<TSetDescription>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "SetThreadDescription")));
    if (set == nullptr) return;
    const std::wstring name(std::begin(kReaderThreadName), std::end(kReaderThreadName) - 1);
    set(static_cast<HANDLE>(::pthread_gethandle(thread.native_handle())), name.c_str());
}

namespace {

// What drivers answer once the device behind a port is gone (a USB adapter
// pulled out): the pending operations fail and every later call does too.
bool DeviceGone(DWORD err) {
    switch (err) {
    case ERROR_OPERATION_ABORTED:
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_GEN_FAILURE:
    case ERROR_NOT_READY:
    case ERROR_BROKEN_PIPE:
    case ERROR_FILE_NOT_FOUND:
        return true;
    default:
        return false;
    }
}

// Consecutive empty returns of WaitCommEvent before the reader starts to
// pause between them, and the longest pause. A driver may end waits with no
// event and no byte queued, again and again (Wine on a pseudo-terminal ends
// every pending wait so after about a millisecond); the pauses keep that from
// spinning the reader, while the first few returns cost no latency.
constexpr int kEmptyWaitsBeforePause = 3;
constexpr DWORD kLongestPauseMs = 16;

class TWin32Backend final : public TPortBackend {
public:
    TWin32Backend(std::string name, std::string path, int baud, const TPortOptions& options);
    ~TWin32Backend() override;

    TReady Wait(bool wantInput, bool wantRoom) override;
    std::size_t Read(std::span<std::uint8_t> buffer) override;
    std::size_t Write(std::span<const std::uint8_t> bytes) override;
    void Wake() override { ::SetEvent(wakeEvent_.Get()); }

private:
    EComPortError Error(const std::string& message, DWORD err) const {
        return EComPortError(message, path_ + ": " + SystemMessage(err), static_cast<int>(err));
    }
    // A failed wait or read: the device is gone, or the wait itself failed.
    EComPortError WaitError(DWORD err) const {
        return Error(DeviceGone(err) ? "Error reading port " + name_ : "Error waiting port " + name_ + " event", err);
    }
    void Open();
    void Configure(int baud, const TPortOptions& options);
    TUniqueHandle NewEvent(BOOL manualReset, const char* failure) const;
    DWORD QueuedBytes();
    bool WriteDone();
    bool PauseAfterEmptyWait();
    // Ends the overlapped call ov stands for, which the wait for it did not
    // see end; true when it had completed after all, with got bytes.
    bool CancelAndWait(OVERLAPPED& ov, DWORD& got);

    const std::string name_;
    const std::string path_;
    TUniqueHandle port_;
    TUniqueHandle writeEvent_;  // manual-reset, in writeOv_
    TUniqueHandle readEvent_;   // manual-reset, for WaitCommEvent and ReadFile in turn
    TUniqueHandle wakeEvent_;   // auto-reset: each Wake() ends one wait
    OVERLAPPED writeOv_{};
    std::vector<std::uint8_t> writeBuf_;  // what the write in flight sends
    bool writePending_ = false;
    int emptyWaits_ = 0;  // WaitCommEvent returns in a row that found nothing
    bool probe_ = false;  // the last wait found nothing: the next Read tries a byte anyway
    bool roomWanted_ = false;  // the last Wait was also for room: the write event ends a probe too
};

TWin32Backend::TWin32Backend(std::string name, std::string path, int baud, const TPortOptions& options)
    : name_(std::move(name)), path_(std::move(path)) {
    Open();
    Configure(baud, options);
    writeEvent_ = NewEvent(TRUE, "Error creating write event");
    readEvent_ = NewEvent(TRUE, "Error creating read event");
    wakeEvent_ = NewEvent(FALSE, "Error creating read event");
    writeOv_.hEvent = writeEvent_.Get();
}

TWin32Backend::~TWin32Backend() {
    // The reader is joined and no WaitCommEvent is in flight; a write may be.
    // Its buffer and OVERLAPPED must outlive it, so cancel it and wait.
    if (writePending_) {
        DWORD n = 0;
        CancelAndWait(writeOv_, n);
    }
}

TUniqueHandle TWin32Backend::NewEvent(BOOL manualReset, const char* failure) const {
    TUniqueHandle event(::CreateEventW(nullptr, manualReset, FALSE, nullptr));
    if (!event) {
        const DWORD err = ::GetLastError();
        throw EComPortError(TPortErrorKind::Other, failure, SystemMessage(err), static_cast<int>(err));
    }
    return event;
}

void TWin32Backend::Open() {
    const std::string message = "Error opening port " + name_;
    if (path_.empty())
        throw EComPortError(TPortErrorKind::NotFound, message, name_ + ": no device for this port number",
                            ERROR_FILE_NOT_FOUND);
    // No sharing: a port another program holds fails here.
    // The path by its UTF-16 form: a ZELK_COM<n> path may hold any letters.
    port_ = TUniqueHandle(::CreateFileW(Utf8ToWide(path_).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (!port_) {
        const DWORD err = ::GetLastError();
        if (err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION)
            throw EComPortError(TPortErrorKind::InUse, message, path_ + ": " + InUseText(path_), static_cast<int>(err));
        throw Error(message, err);
    }
}

void TWin32Backend::Configure(int baud, const TPortOptions& options) {
    const HANDLE h = port_.Get();
    // Driver queues of 1200 bytes each way; a driver that keeps its own sizes is fine too.
    ::SetupComm(h, 1200, 1200);

    const std::string stateError = "Error setting port " + name_ + " state";
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(h, &dcb)) throw Error(stateError, ::GetLastError());
    SetLineFields(dcb, baud, options);
    if (baud <= 0 || !::SetCommState(h, &dcb))
        throw Error(stateError, baud <= 0 ? ERROR_INVALID_PARAMETER : ::GetLastError());
    // A read returns at once with what is queued, never waiting for more.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    if (!::SetCommTimeouts(h, &timeouts)) throw Error(stateError, ::GetLastError());

    if (!::PurgeComm(h, PURGE_TXCLEAR | PURGE_RXCLEAR)) throw Error("Error purging port " + name_, ::GetLastError());
    if (!::SetCommMask(h, EV_RXCHAR)) throw Error("Error setting port " + name_ + " mask", ::GetLastError());
}

DWORD TWin32Backend::QueuedBytes() {
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(port_.Get(), &errors, &status)) {
        const DWORD err = ::GetLastError();
        if (DeviceGone(err)) throw Error("Error reading port " + name_, err);
        throw Error("Error clearing port " + name_, err);
    }
    return status.cbInQue;
}

// After a few empty returns in a row, a short wait on the wake event alone,
// twice as long each time up to kLongestPauseMs. Returns true when Wake()
// ended it.
bool TWin32Backend::PauseAfterEmptyWait() {
    if (++emptyWaits_ <= kEmptyWaitsBeforePause) return false;
    const int doublings = std::min(emptyWaits_ - kEmptyWaitsBeforePause - 1, 4);
    const DWORD pauseMs = std::min<DWORD>(DWORD{1} << doublings, kLongestPauseMs);
    return ::WaitForSingleObject(wakeEvent_.Get(), pauseMs) == WAIT_OBJECT_0;
}

bool TWin32Backend::CancelAndWait(OVERLAPPED& ov, DWORD& got) {
    ::CancelIoEx(port_.Get(), &ov);
    return ::GetOverlappedResult(port_.Get(), &ov, &got, TRUE) != FALSE;
}

TPortBackend::TReady TWin32Backend::Wait(bool wantInput, bool wantRoom) {
    TReady ready;
    // Room is wanted only after Write took nothing because its last write was
    // in flight; the write event (manual-reset) is set once that one is done.
    roomWanted_ = wantRoom;
    if (wantRoom && ::WaitForSingleObject(writeEvent_.Get(), 0) == WAIT_OBJECT_0) {
        ready.Room = true;
        return ready;
    }
    if (!wantInput) {
        const std::array<HANDLE, 2> events{wakeEvent_.Get(), writeEvent_.Get()};
        const DWORD which = ::WaitForMultipleObjects(wantRoom ? 2 : 1, events.data(), FALSE, INFINITE);
        if (which == WAIT_OBJECT_0) {
            ready.Woken = true;
        } else if (which == WAIT_OBJECT_0 + 1) {
            ready.Room = true;
        } else {
            throw Error("Error waiting port " + name_ + " event", ::GetLastError());
        }
        return ready;
    }
    // EV_RXCHAR reports bytes that arrive, not bytes that wait: what an
    // earlier Read left behind is input already.
    if (QueuedBytes() > 0) {
        emptyWaits_ = 0;
        ready.Input = true;
        return ready;
    }

    const HANDLE h = port_.Get();
    OVERLAPPED ov{};
    ov.hEvent = readEvent_.Get();
    DWORD mask = 0;
    // Windows resets the event as the call starts; Wine does not always, and
    // a completed ReadFile leaves it set.
    ::ResetEvent(ov.hEvent);
    if (!::WaitCommEvent(h, &mask, &ov)) {
        const DWORD err = ::GetLastError();
        if (err != ERROR_IO_PENDING) throw WaitError(err);
        const std::array<HANDLE, 3> events{readEvent_.Get(), wakeEvent_.Get(), writeEvent_.Get()};
        const DWORD which = ::WaitForMultipleObjects(wantRoom ? 3 : 2, events.data(), FALSE, INFINITE);
        DWORD ignored = 0;
        if (which != WAIT_OBJECT_0) {
            // Woken, room, or the wait failed: the wait in flight must end before ov goes.
            const DWORD waitErr = ::GetLastError();
            CancelAndWait(ov, ignored);
            if (which == WAIT_OBJECT_0 + 1) {
                ready.Woken = true;
            } else if (which == WAIT_OBJECT_0 + 2) {
                ready.Room = true;
            } else {
                throw Error("Error waiting port " + name_ + " event", waitErr);
            }
            return ready;
        }
        if (!::GetOverlappedResult(h, &ov, &ignored, FALSE)) {
            DWORD waitErr = ::GetLastError();
            // The event was set before the wait had ended (seen under Wine
            // on a loaded machine): end the wait here, and go on with what
            // it found, or as after an empty return.
            if (waitErr == ERROR_IO_INCOMPLETE) waitErr = CancelAndWait(ov, ignored) ? ERROR_SUCCESS : ::GetLastError();
            if (waitErr != ERROR_SUCCESS) {
                // Nobody here cancelled it: the driver ended the wait. Wine
                // does so with every wait on a pseudo-terminal after a
                // millisecond; a device that is gone does so too, and the
                // probe tells which.
                if (waitErr != ERROR_OPERATION_ABORTED) throw WaitError(waitErr);
                mask = 0;
            }
        }
    }
    if ((mask & EV_RXCHAR) != 0 || QueuedBytes() > 0) {
        emptyWaits_ = 0;
        ready.Input = true;
        return ready;
    }
    // An empty return: allowed, as long as it does not spin. Read then
    // probes the device, which fails if it has gone.
    ready.Woken = PauseAfterEmptyWait();
    probe_ = true;
    ready.Input = true;
    return ready;
}

std::size_t TWin32Backend::Read(std::span<std::uint8_t> buffer) {
    const DWORD queued = QueuedBytes();
    const bool probe = std::exchange(probe_, false);
    if ((queued == 0 && !probe) || buffer.empty()) return 0;
    // A probe asks for one byte. Windows, with the read time-outs set, returns
    // at once with a byte that has just come in or with none; Wine keeps the
    // read pending until a byte comes, so it waits with the wake event too.
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>({std::max<DWORD>(queued, 1), buffer.size(), 256}));
    const HANDLE h = port_.Get();
    OVERLAPPED ov{};
    ov.hEvent = readEvent_.Get();
    DWORD got = 0;
    ::ResetEvent(ov.hEvent);
    if (!::ReadFile(h, buffer.data(), want, &got, &ov)) {
        const DWORD err = ::GetLastError();
        if (err != ERROR_IO_PENDING) throw Error("Error reading port " + name_, err);
        if (queued == 0) {
            const std::array<HANDLE, 3> events{readEvent_.Get(), wakeEvent_.Get(), writeEvent_.Get()};
            const DWORD which = ::WaitForMultipleObjects(roomWanted_ ? 3 : 2, events.data(), FALSE, INFINITE);
            if (which != WAIT_OBJECT_0) {
                const DWORD waitErr = ::GetLastError();
                const bool completed = CancelAndWait(ov, got);
                if (which != WAIT_OBJECT_0 + 1 && which != WAIT_OBJECT_0 + 2)
                    throw Error("Error reading port " + name_, waitErr);
                // The wake belongs to the reader's loop: the next Wait reports
                // it. The write event stays set, so the next Wait finds room.
                if (which == WAIT_OBJECT_0 + 1) ::SetEvent(wakeEvent_.Get());
                return completed ? got : 0;
            }
        }
        // Done now, or (bytes were queued) done at once.
        if (!::GetOverlappedResult(h, &ov, &got, TRUE)) throw Error("Error reading port " + name_, ::GetLastError());
    }
    if (got > 0) emptyWaits_ = 0;
    return got;
}

// Whether the write in flight, if any, is done; throws if it failed.
bool TWin32Backend::WriteDone() {
    if (!writePending_) return true;
    DWORD n = 0;
    if (::GetOverlappedResult(port_.Get(), &writeOv_, &n, FALSE)) {
        writePending_ = false;
        return true;
    }
    const DWORD err = ::GetLastError();
    if (err == ERROR_IO_INCOMPLETE) return false;
    writePending_ = false;
    throw Error("Error writing port " + name_, err);
}

std::size_t TWin32Backend::Write(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return 0;
    // The buffer belongs to the write in flight until it is done: until then
    // the driver takes nothing more, and the caller waits for room.
    if (!WriteDone()) return 0;
    writeBuf_.assign(bytes.begin(), bytes.end());
    writeOv_ = OVERLAPPED{};
    writeOv_.hEvent = writeEvent_.Get();
    DWORD n = 0;
    if (!::WriteFile(port_.Get(), writeBuf_.data(), static_cast<DWORD>(writeBuf_.size()), &n, &writeOv_)) {
        const DWORD err = ::GetLastError();
        if (err != ERROR_IO_PENDING) throw Error("Error writing port " + name_, err);
        writePending_ = true;
    }
    return bytes.size();
}

}  // namespace

void SetLineFields(DCB& dcb, int baud, const TPortOptions& options) {
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    // FTDI's driver holds received bytes up to its latency timer (16 ms by
    // default) unless the chip's event character arrives, and it takes that
    // from here: each such byte then reaches the program at once. Other
    // drivers ignore it unless EV_RXFLAG is waited for, which this backend
    // never does.
    if (options.EventChar) dcb.EvtChar = static_cast<char>(*options.EventChar);
}

std::unique_ptr<TPortBackend> OpenPortBackend(const std::string& name, const std::string& path, int baud,
                                              const TPortOptions& options) {
    return std::make_unique<TWin32Backend>(name, path, baud, options);
}

TPortErrorKind PortErrorKindOf(int errnum) {
    switch (static_cast<DWORD>(errnum)) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
        return TPortErrorKind::NotFound;
    // A COM port answers ERROR_ACCESS_DENIED while another program holds it;
    // there is no group to join, so it is never a permission matter.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return TPortErrorKind::InUse;
    case ERROR_OPERATION_ABORTED:
    case ERROR_GEN_FAILURE:
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_INVALID_HANDLE:
    case ERROR_IO_DEVICE:
    case ERROR_NOT_READY:    // Wine, once a terminal's other side has gone
    case ERROR_BROKEN_PIPE:
        return TPortErrorKind::IoFailure;
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_SUPPORTED:
        return TPortErrorKind::SettingsRefused;
    default:
        return TPortErrorKind::Other;
    }
}

// Windows refuses a port to a user only while another program holds it.
std::string PermissionHint() { return {}; }

// Windows names no holder of a device to an ordinary user.
std::vector<TPortHolder> PortHolders(const std::string&) { return {}; }

std::string InUseText(const std::string&) { return "in use by another program"; }

}  // namespace zelk
