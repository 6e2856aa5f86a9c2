// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <memory>

#include "window/error_report.h"

class QMessageBox;
class QWidget;

namespace zelk {

// The modal box: caption "ZELK", error icon, one OK button; the report's
// detail below the message.
std::unique_ptr<QMessageBox> MakeErrorBox(QWidget* parent, const TErrorReport& report);
void ShowErrorBox(QWidget* parent, const TErrorReport& report);

}  // namespace zelk
