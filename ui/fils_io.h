// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>

#include "window/texts.h"
#include "window/window_logic.h"

class QFileDialog;

namespace zelk {

// The open-file dialog as the window uses it. Tests put a scripted one in place.
class TOpenFileDialog {
public:
    virtual ~TOpenFileDialog() = default;
    // The chosen path, or nothing when the user cancels.
    virtual std::optional<QString> Execute() = 0;
    // The next run starts with an empty name field.
    virtual void ClearFileName() = 0;
};

// The real dialog. Like a dialog component it keeps its settings between
// runs (folder, file name, chosen filter) and builds the window on Execute.
class TQtOpenFileDialog : public TOpenFileDialog {
public:
    // Entries of "name|patterns", patterns separated by ';'.
    static constexpr const char* kFilter = texts::kFileFilter;
    static constexpr int kFilterIndex = texts::kFileFilterIndex;

    TQtOpenFileDialog();
    std::optional<QString> Execute() override;
    void ClearFileName() override;

    // The window Execute runs, with the settings as they stand now.
    std::unique_ptr<QFileDialog> MakeDialog() const;

private:
    QStringList nameFilters_;
    QString selectedFilter_;
    QString folder_;
    QString fileName_;
};

// The filter list in Qt's form: one "name (patterns)" per entry, with "*.*"
// meaning every file as it does on Windows. The dialog shows only the names.
QStringList QtNameFilters(const QString& filter);

// The auxiliary form: never shown, it holds the open-file dialog and the
// five-second timer of the status flash.
class TForm2 : public QWidget {
    Q_OBJECT

public:
    explicit TForm2(QWidget* parent = nullptr);

    std::unique_ptr<TOpenFileDialog> dlgOpen1;
    QTimer tmr1;
};

// The status bar's flash colours.
inline const QColor kFailColor{kFailureRgb.R, kFailureRgb.G, kFailureRgb.B};
inline const QColor kSuccessColor{kSuccessRgb.R, kSuccessRgb.G, kSuccessRgb.B};

}  // namespace zelk
