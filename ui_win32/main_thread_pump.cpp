// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "ui_win32/main_thread_pump.h"

#include <array>
#include <system_error>

#include "common/wide_text.h"

namespace zelk::win32 {

namespace {

TUniqueHandle NewEvent(BOOL manualReset) {
    TUniqueHandle event(::CreateEventW(nullptr, manualReset, FALSE, nullptr));
    if (!event) throw std::system_error(static_cast<int>(::GetLastError()), Win32Category(), "CreateEvent");
    return event;
}

}  // namespace

TMainThreadPump::TMainThreadPump(const TMainThreadQueue& queue, HWND target, UINT message)
    : stop_(NewEvent(TRUE)), taken_(NewEvent(FALSE)) {
    thread_ = std::jthread([this, event = static_cast<HANDLE>(queue.WaitHandle()), target, message] {
        Loop(event, target, message);
    });
}

TMainThreadPump::~TMainThreadPump() {
    ::SetEvent(stop_.Get());
    // jthread joins; the loop ends at the stop event whatever it waits for.
}

void TMainThreadPump::Ran() { ::SetEvent(taken_.Get()); }

void TMainThreadPump::Loop(HANDLE queueEvent, HWND target, UINT message) {
    const std::array<HANDLE, 2> waiting{stop_.Get(), queueEvent};
    const std::array<HANDLE, 2> posted{stop_.Get(), taken_.Get()};
    for (;;) {
        // The queue's event stays set while calls wait: one message at a
        // time, the next once this one is taken.
        if (::WaitForMultipleObjects(2, waiting.data(), FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return;
        if (!::PostMessageW(target, message, 0, 0)) return;  // the window is gone
        if (::WaitForMultipleObjects(2, posted.data(), FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return;
    }
}

}  // namespace zelk::win32
