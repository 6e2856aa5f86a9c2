// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include "transfer/transfer.h"
#include "window/window_ops.h"

namespace zelk {

// Shows a transfer's events in the window: the send button's caption, the
// status texts, the progress bar, the mismatch figure and the colour flash.
class TTransferView final : public TTransferEvents {
public:
    explicit TTransferView(TWindowOps& window) : window_(window) {}

    std::string StartText() const override;
    void Starting() override;
    void Started(std::int32_t total) override;
    void Progress(std::int32_t sent) override;
    void ChecksumMismatch(std::int32_t total, std::int32_t inARow) override;
    void Finished(TOutcome outcome) override;
    void NoPort() override;

private:
    TWindowOps& window_;
};

}  // namespace zelk
