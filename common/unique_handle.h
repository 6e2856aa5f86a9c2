// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

// Windows only: the counterpart of unique_fd.h for kernel object handles.
#include <windows.h>

#include <utility>

namespace zelk {

// Owns one HANDLE (a device, an event) and closes it when it goes. Both null
// and INVALID_HANDLE_VALUE mean none, as CreateFile and CreateEvent fail.
class TUniqueHandle {
public:
    TUniqueHandle() = default;
    explicit TUniqueHandle(HANDLE handle) noexcept : handle_(handle) {}
    TUniqueHandle(TUniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    TUniqueHandle& operator=(TUniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    TUniqueHandle(const TUniqueHandle&) = delete;
    TUniqueHandle& operator=(const TUniqueHandle&) = delete;
    ~TUniqueHandle() { Reset(); }

    HANDLE Get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    void Reset() noexcept {
        if (*this) ::CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    HANDLE handle_ = nullptr;
};

}  // namespace zelk
