// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include <windows.h>

#include <system_error>

#include "common/wake_signal.h"
#include "common/wide_text.h"

namespace zelk {

TWakeSignal::TWakeSignal() : native_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (native_ == nullptr)
        throw std::system_error(static_cast<int>(::GetLastError()), Win32Category(), "CreateEvent");
}

TWakeSignal::~TWakeSignal() { ::CloseHandle(native_); }

void TWakeSignal::Set() { ::SetEvent(native_); }

void TWakeSignal::Clear() { ::ResetEvent(native_); }

}  // namespace zelk
