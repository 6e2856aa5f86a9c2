// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace zelk {

// A pair of small arrow buttons that step a number within [Min, Max] and show
// it in an associated read-only edit, whose Up and Down keys step it too.
class TUpDown : public QWidget {
    Q_OBJECT

public:
    TUpDown(int min, int max, int position, QWidget* parent);

    int Position() const { return position_; }
    int Minimum() const { return min_; }
    int Maximum() const { return max_; }
    void SetPosition(int position);
    void Associate(QLineEdit* edit);

signals:
    void PositionChanged(int position);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int min_;
    int max_;
    int position_;
    QToolButton* up_;
    QToolButton* down_;
    QLineEdit* edit_ = nullptr;
};

}  // namespace zelk
