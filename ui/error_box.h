// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <QString>
#include <exception>
#include <memory>

class QMessageBox;
class QWidget;

namespace zelk {

// What the error box shows: the exact message line and, for port errors, the
// operating system's reason and the device behind the port.
struct TErrorReport {
    QString Text;
    QString Detail;
};

// message with "." appended when its last character's code is above that of ".".
QString ErrorBoxText(const QString& message);

TErrorReport ErrorReportFor(const std::exception& error);

// The modal box: caption "ZELK", error icon, one OK button.
std::unique_ptr<QMessageBox> MakeErrorBox(QWidget* parent, const TErrorReport& report);
void ShowErrorBox(QWidget* parent, const TErrorReport& report);

}  // namespace zelk
