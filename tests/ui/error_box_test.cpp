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
    // The system's detail on a line of its own, as every face shows it; nothing hidden.
    EXPECT_EQ(box->text(), "Error opening port COM7.\n/dev/ttyS6: No such file or directory");
    EXPECT_TRUE(box->detailedText().isEmpty());

    const auto plain = MakeErrorBox(nullptr, {"Something failed.", ""});
    EXPECT_EQ(plain->text(), "Something failed.");

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
