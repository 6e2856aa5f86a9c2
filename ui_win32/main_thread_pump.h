// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <windows.h>

#include <thread>

#include "common/main_thread_queue.h"
#include "common/unique_handle.h"

namespace zelk::win32 {

// Brings the main-thread queue's calls to a window's thread through that
// window's message queue: whenever calls wait, a small thread posts message
// to target, and the window procedure answers it with Ran(). Posted messages
// reach the window procedure from every message loop of its thread, the
// modal ones of the file dialog, the about box and the error box included.
// The thread waits for nobody but the queue and Ran(); the window's thread
// never waits for it but to join it when it goes.
class TMainThreadPump {
public:
    TMainThreadPump(const TMainThreadQueue& queue, HWND target, UINT message);
    ~TMainThreadPump();
    TMainThreadPump(const TMainThreadPump&) = delete;
    TMainThreadPump& operator=(const TMainThreadPump&) = delete;

    // The posted message has been taken: the next waiting call posts again.
    // Called before running the calls, so a call that opens a modal box
    // does not hold up those that come meanwhile.
    void Ran();

private:
    void Loop(HANDLE queueEvent, HWND target, UINT message);

    TUniqueHandle stop_;   // manual-reset: the pump ends
    TUniqueHandle taken_;  // auto-reset: the last message was taken
    std::jthread thread_;  // last: it uses the events
};

}  // namespace zelk::win32
