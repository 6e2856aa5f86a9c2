// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <string>

namespace zelk {

// The few window operations the transfer uses. Texts are UTF-8.
class TWindowOps {
public:
    virtual ~TWindowOps() = default;

    virtual std::string StartBoxText() const = 0;
    // panel 0: port status, panel 1: operation status.
    virtual void SetStatusText(int panel, const std::string& text) = 0;
    virtual std::string ZelkCaption() const = 0;
    virtual void SetZelkCaption(const std::string& caption) = 0;
    virtual void SetPBarMax(int max) = 0;
    // Sets the position and repaints the progress bar at once.
    virtual void SetPBarPosition(int position) = 0;
    virtual void SetErrCountText(const std::string& text) = 0;
    // Green after a success, red after a failure, for five seconds.
    virtual void FlashStatus(bool failed) = 0;
};

}  // namespace zelk
