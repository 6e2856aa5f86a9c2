// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "ui/ABOUT.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include <map>
#include <string_view>

#include "window/texts.h"
#include "window/window_design.h"

namespace zelk {

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName("AboutBox");
    setWindowTitle(QString::fromUtf8(texts::kAboutCaption));
    QFont f;
    QStringList families;
    for (const char* family : design::kFontFamilies) families << family;
    f.setFamilies(families);
    f.setPointSize(design::kAboutFontPoints);
    setFont(f);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, Qt::black);
    setPalette(p);
    setFixedSize(design::kAboutWidth, design::kAboutHeight);

    std::map<std::string_view, QWidget*> made{{"AboutBox", this}};
    for (const design::TControl& c : design::kAboutControls) {
        QWidget* parent = made.at(c.Parent);
        const QRect designed(c.Rect.Left, c.Rect.Top, c.Rect.Width, c.Rect.Height);
        QWidget* widget = nullptr;
        if (c.Kind == design::TKind::Panel) {
            auto* panel = new QFrame(parent);
            panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            panel->setGeometry(designed);
            widget = panel;
        } else if (c.Kind == design::TKind::Button) {
            auto* button = new QPushButton(QString::fromUtf8(c.Text), parent);
            button->setGeometry(designed);
            widget = button;
        } else {
            auto* label = new QLabel(QString::fromUtf8(c.Text), parent);
            label->setTextFormat(Qt::PlainText);
            if (*c.Text == '\0') {
                label->setGeometry(designed);  // the icon's place
            } else {
                label->move(designed.topLeft());
                label->adjustSize();  // as wide as its text
            }
            widget = label;
        }
        widget->setObjectName(c.Name);
        made[c.Name] = widget;
    }
    const auto get = [&made]<class W>(W*& member, std::string_view name) { member = static_cast<W*>(made.at(name)); };
    get(Panel1, "Panel1");
    get(ProgramIcon, "ProgramIcon");
    get(ProductName, "ProductName");
    get(Version, "Version");
    get(Comments, "Comments");
    get(Label1, "Label1");
    get(Label2, "Label2");
    get(LblLicence, "LblLicence");
    get(OKButton, "OKButton");
    OKButton->setDefault(true);
    OKButton->setFocus();
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
}

void TAboutBox::CentreOn(const QRect& owner) {
    owner_ = owner;
    Centre();
}

// The frame is known once the box is shown: centred again with it.
void TAboutBox::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    Centre();
}

void TAboutBox::Centre() {
    if (owner_.isNull()) return;
    const QRect frame = frameGeometry();
    const design::TRect r =
        design::CentredOn({owner_.x(), owner_.y(), owner_.width(), owner_.height()}, frame.width(), frame.height());
    move(r.Left, r.Top);
}

}  // namespace zelk
