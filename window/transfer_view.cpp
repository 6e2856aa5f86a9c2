// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "window/transfer_view.h"

#include <string>

#include "window/texts.h"

namespace zelk {

std::string TTransferView::StartText() const { return window_.StartBoxText(); }

void TTransferView::Starting() { window_.SetZelkCaption(texts::kStopCaption); }

void TTransferView::Started(std::int32_t total) {
    window_.SetZelkCaption(texts::kStopCaption);
    window_.SetPBarMax(total);
    window_.SetStatusText(1, texts::kSending);
}

void TTransferView::Progress(std::int32_t sent) { window_.SetPBarPosition(sent); }

void TTransferView::ChecksumMismatch(std::int32_t total, std::int32_t) {
    window_.SetErrCountText(std::to_string(total));
}

void TTransferView::Finished(TOutcome outcome) {
    switch (outcome) {
    case TOutcome::Done:
        window_.SetStatusText(1, texts::kSendDone);
        window_.SetZelkCaption(texts::kSendCaption);
        window_.FlashStatus(false);
        return;
    case TOutcome::Failed:
        window_.SetStatusText(1, texts::kSendError);
        window_.FlashStatus(true);
        window_.SetZelkCaption(texts::kSendCaption);
        return;
    case TOutcome::Stopped:
        window_.SetZelkCaption(texts::kSendCaption);
        window_.SetStatusText(1, texts::kSendStopped);
        window_.FlashStatus(true);
        return;
    }
}

void TTransferView::NoPort() { window_.SetStatusText(0, texts::kPortWriteError); }

}  // namespace zelk
