// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "ui/ABOUT.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "window/texts.h"

namespace zelk {

namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, const char* text, int left, int top) {
    QLabel* label = new QLabel(QString::fromUtf8(text), parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->move(left, top);
    label->adjustSize();
    return label;
}

}  // namespace

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName("AboutBox");
    setWindowTitle(QString::fromUtf8(texts::kAboutCaption));
    QFont f;
    f.setFamilies({"Liberation Sans", "Arial", "DejaVu Sans"});
    f.setPointSize(8);
    setFont(f);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, Qt::black);
    setPalette(p);
    setFixedSize(298, 218);

    Panel1 = new QFrame(this);
    Panel1->setObjectName("Panel1");
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setGeometry(8, 8, 281, 161);

    ProgramIcon = new QLabel(Panel1);
    ProgramIcon->setObjectName("ProgramIcon");
    ProgramIcon->setGeometry(8, 8, 65, 57);

    ProductName = MakeLabel(Panel1, "ProductName", texts::kAboutProductName, 88, 16);
    Version = MakeLabel(Panel1, "Version", texts::kAboutVersion, 88, 40);
    Comments = MakeLabel(Panel1, "Comments", texts::kAboutComments, 8, 104);
    Label1 = MakeLabel(Panel1, "Label1", texts::kAboutLine1, 80, 104);
    Label2 = MakeLabel(Panel1, "Label2", texts::kAboutLine2, 80, 120);
    LblLicence = MakeLabel(Panel1, "LblLicence", texts::kAboutLicence, 8, 140);

    OKButton = new QPushButton(QString::fromUtf8(texts::kAboutOk), this);
    OKButton->setObjectName("OKButton");
    OKButton->setGeometry(120, 178, 65, 33);
    OKButton->setDefault(true);
    OKButton->setFocus();
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace zelk
