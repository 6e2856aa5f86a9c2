// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "ui/error_box.h"

#include <QMessageBox>

#include "window/texts.h"

namespace zelk {

std::unique_ptr<QMessageBox> MakeErrorBox(QWidget* parent, const TErrorReport& report) {
    auto box = std::make_unique<QMessageBox>(QMessageBox::Critical, QString::fromUtf8(texts::kApplicationTitle),
                                             QString::fromStdString(ErrorBoxLines(report)), QMessageBox::Ok,
                                             parent);
    box->setTextFormat(Qt::PlainText);
    return box;
}

void ShowErrorBox(QWidget* parent, const TErrorReport& report) { MakeErrorBox(parent, report)->exec(); }

}  // namespace zelk
