// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace zelk {

// The fixed "about" dialog opened by the "?" button.
class TAboutBox : public QDialog {
    Q_OBJECT

public:
    explicit TAboutBox(QWidget* parent = nullptr);
    // Places the box centred on the owner's frame (global coordinates).
    void CentreOn(const QRect& owner);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Centre();

    QRect owner_;
    QFrame* Panel1;
    QLabel* ProgramIcon;
    QLabel* ProductName;
    QLabel* Version;
    QLabel* Comments;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* LblLicence;
    QPushButton* OKButton;
};

}  // namespace zelk
