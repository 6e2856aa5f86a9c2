// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "ui/up_down.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <algorithm>

namespace zelk {

TUpDown::TUpDown(int min, int max, int position, QWidget* parent)
    : QWidget(parent),
      min_(min),
      max_(max),
      position_(std::clamp(position, min, max)),
      up_(new QToolButton(this)),
      down_(new QToolButton(this)) {
    up_->setObjectName("Up");
    down_->setObjectName("Down");
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {up_, down_}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
    }
    connect(up_, &QToolButton::clicked, this, [this] { SetPosition(position_ + 1); });
    connect(down_, &QToolButton::clicked, this, [this] { SetPosition(position_ - 1); });
}

void TUpDown::SetPosition(int position) {
    position = std::clamp(position, min_, max_);
    if (position == position_) return;
    position_ = position;
    if (edit_) edit_->setText(QString::number(position_));
    emit PositionChanged(position_);
}

void TUpDown::Associate(QLineEdit* edit) {
    edit_ = edit;
    edit_->setText(QString::number(position_));
    edit_->installEventFilter(this);
}

bool TUpDown::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edit_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            SetPosition(position_ + (key == Qt::Key_Up ? 1 : -1));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TUpDown::resizeEvent(QResizeEvent* event) {
    const int upper = height() / 2;
    up_->setGeometry(0, 0, width(), upper);
    down_->setGeometry(0, upper, width(), height() - upper);
    QWidget::resizeEvent(event);
}

}  // namespace zelk
