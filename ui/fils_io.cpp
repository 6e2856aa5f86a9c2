// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "ui/fils_io.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

#include "window/window_design.h"

namespace zelk {

QStringList QtNameFilters(const QString& filter) {
    const QStringList parts = filter.split('|');
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
        for (QString& p : patterns)
            if (p == "*.*") p = "*";
        result << parts[i] + " (" + patterns.join(' ') + ')';
    }
    return result;
}

TQtOpenFileDialog::TQtOpenFileDialog()
    : nameFilters_(QtNameFilters(kFilter)), selectedFilter_(nameFilters_.value(kFilterIndex)), folder_(QDir::currentPath()) {}

std::unique_ptr<QFileDialog> TQtOpenFileDialog::MakeDialog() const {
    auto dialog = std::make_unique<QFileDialog>();
    dialog->setObjectName("dlgOpen1");
    // Qt's own dialog everywhere: it shows the filter names alone, has no
    // read-only box and can be resized.
    dialog->setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setSizeGripEnabled(true);
    dialog->setNameFilters(nameFilters_);
    dialog->selectNameFilter(selectedFilter_);
    dialog->setDirectory(folder_);
    if (!fileName_.isEmpty()) dialog->selectFile(fileName_);
    return dialog;
}

std::optional<QString> TQtOpenFileDialog::Execute() {
    const std::unique_ptr<QFileDialog> dialog = MakeDialog();
    const bool accepted = dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty();
    if (!accepted) return std::nullopt;
    selectedFilter_ = dialog->selectedNameFilter();
    const QFileInfo chosen(dialog->selectedFiles().constFirst());
    folder_ = chosen.absolutePath();
    fileName_ = chosen.fileName();
    return chosen.filePath();
}

void TQtOpenFileDialog::ClearFileName() { fileName_.clear(); }

TForm2::TForm2(QWidget* parent) : QWidget(parent), dlgOpen1(std::make_unique<TQtOpenFileDialog>()) {
    setObjectName("Form2");
    tmr1.setObjectName("tmr1");
    tmr1.setInterval(design::kFlashMs);
    tmr1.setTimerType(Qt::PreciseTimer);
}

}  // namespace zelk
