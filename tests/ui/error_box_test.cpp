// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// The error box itself: its caption, icon, button and detail.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <cerrno>

#include "ui_test_support.h"

namespace zelk::test {
namespace {

TEST(ErrorBox, IsAModalCriticalBoxTitledZelkWithOneOkButton) {
    const auto box = MakeErrorBox(nullptr, {"Error opening port COM7.", "/dev/ttyS6: No such file or directory"});
    EXPECT_EQ(box->windowTitle(), "ZELK");
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    EXPECT_EQ(box->text(), "Error opening port COM7.");
    EXPECT_EQ(box->detailedText(), "/dev/ttyS6: No such file or directory");

    const auto plain = MakeErrorBox(nullptr, {"Something failed.", ""});
    EXPECT_TRUE(plain->detailedText().isEmpty());

    // The real box runs modally and closes with OK.
    bool shown = false;
    QTimer::singleShot(0, [&] {
        auto* open = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        shown = open && open->text() == "Something failed.";
        if (open) open->button(QMessageBox::Ok)->click();
    });
    ShowErrorBox(nullptr, {"Something failed.", ""});
    EXPECT_TRUE(shown);
}

}  // namespace
}  // namespace zelk::test
