// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <QColor>
#include <QWidget>
#include <array>

#include "window/window_design.h"

class QLabel;

namespace zelk {

// The window's bottom bar: three sunken text panels of fixed width on a
// background whose colour can be set (the green or red flash).
class TStatusBar : public QWidget {
    Q_OBJECT

public:
    static constexpr int kPanelCount = static_cast<int>(design::kPanelWidths.size());

    explicit TStatusBar(QWidget* parent);

    QString PanelText(int panel) const;
    void SetPanelText(int panel, const QString& text);

    QColor Color() const;
    void SetColor(const QColor& color);
    // The button-face colour the bar has when nothing flashes.
    QColor NormalColor() const { return normal_; }

private:
    std::array<QLabel*, kPanelCount> panels_{};
    QColor normal_;
};

}  // namespace zelk
