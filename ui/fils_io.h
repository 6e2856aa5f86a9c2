// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>

#include "transfer/file_image.h"

class QFileDialog;
class QLineEdit;

namespace zelk {

class TStatusBar;

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
    static constexpr const char* kFilter = "All (*.*)|*.*|rom, com|*.rom;*.com|r0m, bin|*.r0m;*.bin";
    static constexpr int kFilterIndex = 1;  // "rom, com"

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

// Reads the file at path into image. Returns true (failed) when it is missing
// or 65,536 bytes or more; throws EInOutError when it cannot be read. On
// success sets fileLen and shows the short name.
bool LoadFilePath(const QString& path, TImage& image, std::int32_t& fileLen, QLineEdit& Edt_z_name);

inline const QColor kFailColor{255, 0, 0};
inline const QColor kSuccessColor{0, 128, 0};

// Paints stat1 red (failed) or green, and restarts the five seconds after
// which tmr1Timer puts the normal colour back.
void FlashStatus(TStatusBar& stat1, QTimer& tmr1, bool failed);
void tmr1Timer(TStatusBar& stat1, QTimer& tmr1);

}  // namespace zelk
