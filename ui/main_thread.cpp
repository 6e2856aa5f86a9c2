// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "ui/main_thread.h"

#include <QSocketNotifier>

namespace zelk {

TMainThreadRunner::TMainThreadRunner()
    : notifier_(std::make_unique<QSocketNotifier>(queue_.Fd(), QSocketNotifier::Read)) {
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { queue_.RunPending(); });
}

// The notifier goes first, then the queue releases the callers still waiting.
TMainThreadRunner::~TMainThreadRunner() = default;

}  // namespace zelk
