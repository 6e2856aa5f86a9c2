// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// TMainLoop on Windows: the queue's event, a stop event that the console
// control handler sets, and the deadline as WaitForMultipleObjects' time-out.
#include <windows.h>

#include <algorithm>
#include <array>
#include <mutex>
#include <system_error>

#include "common/unique_handle.h"
#include "common/wide_text.h"
#include "main_loop.h"

namespace zelk::upload {

struct TConsoleStop {
    TUniqueHandle Requested;  // manual-reset: set by the handler, read by RunOnce
    TUniqueHandle LoopGone;   // manual-reset: set when the loop ends
};

namespace {

// The handler runs on a thread of its own that the system starts; what it
// touches it shares through this pointer, which the loop clears when it ends.
std::mutex gStopMutex;
std::shared_ptr<TConsoleStop> gStop;  // NOLINT: the handler has no other way in

TUniqueHandle NewEvent() {
    TUniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) throw std::system_error(static_cast<int>(::GetLastError()), Win32Category(), "CreateEvent");
    return event;
}

BOOL WINAPI OnConsoleControl(DWORD type) {
    std::shared_ptr<TConsoleStop> stop;
    {
        std::lock_guard lock(gStopMutex);
        stop = gStop;
    }
    if (!stop) return FALSE;  // no upload running: the default, which ends the process
    ::SetEvent(stop->Requested.Get());
    // Closing the console, logging off and shutting down end the process as
    // soon as the handler returns: give the loop a few seconds to stop the
    // upload and close the port first, as the system allows.
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT)
        ::WaitForSingleObject(stop->LoopGone.Get(), 4000);
    return TRUE;
}

}  // namespace

TMainLoop::TMainLoop() : stop_(std::make_shared<TConsoleStop>(TConsoleStop{NewEvent(), NewEvent()})) {
    {
        std::lock_guard lock(gStopMutex);
        gStop = stop_;
    }
    if (!::SetConsoleCtrlHandler(OnConsoleControl, TRUE)) {
        const DWORD err = ::GetLastError();
        std::lock_guard lock(gStopMutex);
        gStop.reset();
        throw std::system_error(static_cast<int>(err), Win32Category(), "SetConsoleCtrlHandler");
    }
}

TMainLoop::~TMainLoop() {
    ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    {
        std::lock_guard lock(gStopMutex);
        if (gStop == stop_) gStop.reset();
    }
    ::SetEvent(stop_->LoopGone.Get());
}

TMainLoop::TWake TMainLoop::RunOnce(std::optional<TClock::time_point> deadline) {
    const std::array<HANDLE, 2> events{static_cast<HANDLE>(queue_.WaitHandle()), stop_->Requested.Get()};
    DWORD which = WAIT_TIMEOUT;
    for (;;) {
        DWORD timeoutMs = INFINITE;
        if (deadline) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - TClock::now());
            if (left.count() <= 0) return TWake::Deadline;
            timeoutMs = static_cast<DWORD>(std::min<long long>(left.count(), 1 << 30));
        }
        which = ::WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE, timeoutMs);
        if (which == WAIT_FAILED)
            throw std::system_error(static_cast<int>(::GetLastError()), Win32Category(), "WaitForMultipleObjects");
        if (which != WAIT_TIMEOUT) break;  // on a time-out the deadline check above decides
    }
    // A stop counts before calls, as a signal does on Linux.
    if (::WaitForSingleObject(stop_->Requested.Get(), 0) == WAIT_OBJECT_0) return TWake::Signal;
    queue_.RunPending();
    return TWake::Calls;
}

}  // namespace zelk::upload
