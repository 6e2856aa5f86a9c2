// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "ui/error_box.h"

#include <QMessageBox>
#include "serial/port_error.h"

namespace zelk {

QString ErrorBoxText(const QString& message) {
    const QList<uint> codes = message.toUcs4();
    if (!codes.isEmpty() && codes.back() > uint('.')) return message + '.';
    return message;
}

TErrorReport ErrorReportFor(const std::exception& error) {
    TErrorReport report{ErrorBoxText(QString::fromUtf8(error.what())), {}};
    if (const auto* portError = dynamic_cast<const EComPortError*>(&error)) {
        report.Detail = QString::fromUtf8(portError->Detail);
        if (portError->PermissionDenied()) {
            if (!report.Detail.isEmpty()) report.Detail += "\n\n";
            report.Detail += QString::fromStdString(PermissionHint());
        }
    }
    return report;
}

std::unique_ptr<QMessageBox> MakeErrorBox(QWidget* parent, const TErrorReport& report) {
    auto box = std::make_unique<QMessageBox>(QMessageBox::Critical, "ZELK", report.Text, QMessageBox::Ok, parent);
    box->setTextFormat(Qt::PlainText);
    if (!report.Detail.isEmpty()) box->setDetailedText(report.Detail);
    return box;
}

void ShowErrorBox(QWidget* parent, const TErrorReport& report) { MakeErrorBox(parent, report)->exec(); }

}  // namespace zelk
