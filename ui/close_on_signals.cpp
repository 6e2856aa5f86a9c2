// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "ui/close_on_signals.h"

#include <QSocketNotifier>

#include "common/quit_signals.h"

namespace zelk {

TCloseOnSignals::TCloseOnSignals(std::function<void()> close)
    : close_(std::move(close)), fd_(BlockQuitSignals()) {}

TCloseOnSignals::~TCloseOnSignals() = default;

void TCloseOnSignals::Watch() {
    notifier_ = std::make_unique<QSocketNotifier>(fd_.Get(), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] {
        if (TakeQuitSignals(fd_.Get())) close_();
    });
}

}  // namespace zelk
