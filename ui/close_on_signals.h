// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <QObject>
#include <functional>
#include <memory>

#include "common/unique_fd.h"

class QSocketNotifier;

namespace zelk {

// SIGHUP (a closed terminal or session), SIGTERM and SIGINT close the window
// as if the user closed it, so that the port is released on the way out.
// Construct it before any thread starts: it blocks the three signals for the
// whole process and takes them through a descriptor on the event loop.
class TCloseOnSignals {
public:
    explicit TCloseOnSignals(std::function<void()> close);
    ~TCloseOnSignals();
    TCloseOnSignals(const TCloseOnSignals&) = delete;
    TCloseOnSignals& operator=(const TCloseOnSignals&) = delete;

    // Starts watching; needs the application object.
    void Watch();

private:
    std::function<void()> close_;
    TUniqueFd fd_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace zelk
