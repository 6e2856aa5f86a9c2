// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

namespace zelk {

// What the main thread's event loop waits on for queued calls: an eventfd on
// Linux (readable while set), a manual-reset event on Windows (signalled
// while set). One file a platform implements it.
class TWakeSignal {
public:
#ifdef _WIN32
    using TNative = void*;  // HANDLE
#else
    using TNative = int;
#endif

    TWakeSignal();  // throws std::system_error
    ~TWakeSignal();
    TWakeSignal(const TWakeSignal&) = delete;
    TWakeSignal& operator=(const TWakeSignal&) = delete;

    // Any thread.
    void Set();
    // The waiting thread, before it looks at what there is to do, so that a
    // Set from then on is not lost.
    void Clear();
    TNative Native() const { return native_; }

private:
    TNative native_;
};

}  // namespace zelk
