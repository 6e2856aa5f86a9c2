// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "ui/status_bar.h"

#include <QLabel>
#include <QPalette>

namespace zelk {

TStatusBar::TStatusBar(QWidget* parent) : QWidget(parent), normal_(palette().color(QPalette::Button)) {
    setAutoFillBackground(true);
    SetColor(normal_);
    int left = 0;
    for (int i = 0; i < kPanelCount; ++i) {
        QLabel* panel = new QLabel(this);
        panel->setObjectName(QStringLiteral("stat1Panel%1").arg(i));
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setTextFormat(Qt::PlainText);
        panel->setIndent(2);
        // Sunken, with a gap of two pixels above and to the right of each.
        const int width = design::kPanelWidths[static_cast<std::size_t>(i)];
        panel->setGeometry(left, 2, width - 2, design::FindControl(design::kControls, "stat1")->Rect.Height - 2);
        left += width;
        panels_[i] = panel;
    }
}

QString TStatusBar::PanelText(int panel) const { return panels_.at(panel)->text(); }

void TStatusBar::SetPanelText(int panel, const QString& text) { panels_.at(panel)->setText(text); }

QColor TStatusBar::Color() const { return palette().color(QPalette::Window); }

void TStatusBar::SetColor(const QColor& color) {
    QPalette p = palette();
    p.setColor(QPalette::Window, color);
    setPalette(p);
}

}  // namespace zelk
