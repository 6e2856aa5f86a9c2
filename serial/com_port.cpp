// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// TComPort's portable part: the reader thread, delivery on the main thread,
// bytes waiting to be written, lifetime and error reports. The platform's
// file supplies the TPortBackend that does the device's own work.
//
// How a port stops. ~TComPort runs on the main thread, possibly from inside a
// delivery (OnRead closing the port) or while the main thread sits in a modal
// dialog. It clears the callbacks, requests the reader to stop and wakes it,
// then joins it: the reader's wait for a delivery is cancelled by the same
// stop request, and a delivery still queued holds only the shared target,
// whose callbacks are gone by then. Only after the join does the backend
// close the device.
//
// Writing. Write hands the bytes to the driver at once when nothing waits
// before them; what the driver cannot take yet stays pending, and the reader
// sends it, in order, when the backend reports room. After OnRead has thrown
// the reader reads no more but keeps this job, so writes still work.
#include "serial/com_port.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <system_error>
#include <utility>

#include "serial/port_backend.h"

namespace zelk {

std::string PortName(int number) { return "COM" + std::to_string(number); }

std::string DevicePathForPort(int number) {
    const std::string variable = "ZELK_COM" + std::to_string(number);
    if (const char* path = std::getenv(variable.c_str()); path != nullptr && *path != '\0') return path;
    return DefaultDevicePath(number);
}

bool SupportedBaud(int baud) { return std::ranges::find(kBaudRates, baud) != std::end(kBaudRates); }

// What a delivery calls. Main thread only, but for Receiving.
struct TComPort::TTarget {
    TOnRead OnRead;
    TOnError OnError;
    std::atomic<bool> Receiving{true};  // false once OnRead threw
};

class TReadThread {
public:
    TReadThread(TComPort& port, TMainThreadInvoker runOnMain)
        : port_(port), runOnMain_(std::move(runOnMain)), thread_([this](std::stop_token stop) { Execute(stop); }) {
        NameReaderThread(thread_);  // from here: the name is there once the port is open
    }
    ~TReadThread() {
        thread_.request_stop();
        port_.backend_->Wake();
        thread_.join();
    }
    TReadThread(const TReadThread&) = delete;
    TReadThread& operator=(const TReadThread&) = delete;

private:
    void Execute(const std::stop_token& stop);
    void Loop(const std::stop_token& stop);
    void Deliver(std::size_t count, const std::stop_token& stop);

    TComPort& port_;
    const TMainThreadInvoker runOnMain_;
    std::array<std::uint8_t, 256> ReadBuf{};
    std::jthread thread_;  // last: it starts at once and uses the members above
};

void TReadThread::Execute(const std::stop_token& stop) {
    try {
        Loop(stop);
    } catch (const EComPortError& e) {
        {
            std::lock_guard lock(port_.mutex_);
            port_.readerEnded_ = true;
        }
        if (stop.stop_requested()) return;
        // Reported the way chunks come: on the main thread, once.
        try {
            runOnMain_(
                [target = port_.target_, error = e] {
                    if (!target->OnError) return;
                    const TOnError onError = std::exchange(target->OnError, nullptr);
                    onError(error);
                },
                stop);
        } catch (...) {
            // The handler's own failure is the main thread's business.
        }
        return;
    } catch (...) {
        // The invoker failed to hand a chunk over: reception ends.
    }
    std::lock_guard lock(port_.mutex_);
    port_.readerEnded_ = true;
}

void TReadThread::Loop(const std::stop_token& stop) {
    TPortBackend& backend = *port_.backend_;
    TComPort::TTarget& target = *port_.target_;
    for (;;) {
        bool wantRoom = false;
        {
            std::lock_guard lock(port_.mutex_);
            wantRoom = !port_.pending_.empty();
        }
        const bool wantInput = target.Receiving;
        if (stop.stop_requested()) return;
        // No time-out: the device may stay silent for as long as it likes.
        const TPortBackend::TReady ready = backend.Wait(wantInput, wantRoom);
        if (stop.stop_requested()) return;
        if (ready.Room) {
            std::lock_guard lock(port_.mutex_);
            try {
                port_.SendPending();
            } catch (const EComPortError& e) {
                port_.writeError_ = std::make_unique<EComPortError>(e);
            }
        }
        if (!ready.Input || !wantInput) continue;
        if (const std::size_t got = backend.Read(ReadBuf); got > 0) Deliver(got, stop);
    }
}

void TReadThread::Deliver(std::size_t count, const std::stop_token& stop) {
    std::vector<std::uint8_t> bytes(ReadBuf.begin(), ReadBuf.begin() + static_cast<std::ptrdiff_t>(count));
    runOnMain_(
        [target = port_.target_, bytes = std::move(bytes)]() mutable {
            // ~TComPort clears OnRead: a delivery queued before it ran does nothing.
            if (!target->OnRead) return;
            // A copy, because the callback may destroy the port, which clears OnRead.
            const TOnRead onRead = target->OnRead;
            try {
                onRead(std::move(bytes));
            } catch (...) {
                // An error in the handler ends reception for the rest of the port's life.
                target->Receiving = false;
            }
        },
        stop);
}

TComPort::TComPort(int number, int baud, TMainThreadInvoker runOnMain, const TPortOptions& options)
    : TComPort(PortName(number), DevicePathForPort(number), baud, std::move(runOnMain), options) {}

TComPort::TComPort(std::string name, std::string devicePath, int baud, TMainThreadInvoker runOnMain,
                   const TPortOptions& options)
    : name_(std::move(name)),
      path_(std::move(devicePath)),
      backend_(OpenPortBackend(name_, path_, baud, options)),
      target_(std::make_shared<TTarget>()) {
    try {
        reader_ = std::make_unique<TReadThread>(*this, std::move(runOnMain));
    } catch (const std::system_error& e) {
        throw EComPortError(TPortErrorKind::Other, "Error creating read thread", e.code().message(), e.code().value());
    }
}

TComPort::~TComPort() {
    target_->OnRead = nullptr;
    target_->OnError = nullptr;
    reader_.reset();
    backend_.reset();
}

void TComPort::SetOnRead(TOnRead onRead) { target_->OnRead = std::move(onRead); }

void TComPort::SetOnError(TOnError onError) { target_->OnError = std::move(onError); }

void TComPort::SendPending() {
    std::size_t sent = 0;
    try {
        while (sent < pending_.size()) {
            const std::size_t n = backend_->Write(std::span(pending_).subspan(sent));
            if (n == 0) break;
            sent += n;
        }
    } catch (...) {
        pending_.clear();
        throw;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(sent));
}

void TComPort::Write(std::span<const std::uint8_t> bytes) {
    std::unique_lock lock(mutex_);
    if (writeError_) {
        const EComPortError error = std::move(*writeError_);
        writeError_.reset();
        throw error;
    }
    if (bytes.empty()) return;
    // Bytes still wait for room: the reader sends these after them.
    const bool readerSends = !pending_.empty() && !readerEnded_;
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    if (readerSends) return;
    SendPending();
    if (pending_.empty()) return;
    if (readerEnded_) {
        // No thread is left to wait for room.
        pending_.clear();
        throw EComPortError(TPortErrorKind::IoFailure, "Error writing port " + name_,
                            path_ + ": the driver takes no more bytes");
    }
    lock.unlock();
    backend_->Wake();  // to wait for room as well
}

}  // namespace zelk
