// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// The error box: its text rule, the port error's detail and the box itself.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <cerrno>

#include "transfer/file_image.h"
#include "serial/port_error.h"
#include "ui_test_support.h"

namespace zelk::test {
namespace {

TEST(ErrorBox, DotIsAppendedOnlyAfterCharactersAboveTheDot) {
    EXPECT_EQ(ErrorBoxText("Error opening port COM7"), "Error opening port COM7.");
    EXPECT_EQ(ErrorBoxText("Done."), "Done.");
    EXPECT_EQ(ErrorBoxText("Stop!"), "Stop!");
    EXPECT_EQ(ErrorBoxText("a-"), "a-");      // '-' is 0x2D
    EXPECT_EQ(ErrorBoxText("a/"), "a/.");     // '/' is 0x2F
    EXPECT_EQ(ErrorBoxText("ends 0"), "ends 0.");
    EXPECT_EQ(ErrorBoxText("Ошибка"), "Ошибка.");
    EXPECT_EQ(ErrorBoxText(QString::fromUcs4(U"note \U0001F4BE")), QString::fromUcs4(U"note \U0001F4BE."));
    EXPECT_EQ(ErrorBoxText(""), "");
}

TEST(ErrorBox, PortErrorKeepsReasonAndDeviceInTheDetail) {
    const TErrorReport denied =
        ErrorReportFor(EComPortError("Error opening port COM5", "/dev/ttyUSB0: Permission denied", EACCES));
    EXPECT_EQ(denied.Text, "Error opening port COM5.");
    EXPECT_TRUE(denied.Detail.startsWith("/dev/ttyUSB0: Permission denied"));
    EXPECT_TRUE(denied.Detail.contains("sudo usermod -aG dialout $USER"));

    const TErrorReport missing =
        ErrorReportFor(EComPortError("Error opening port COM5", "/dev/ttyUSB0: No such file or directory", ENOENT));
    EXPECT_EQ(missing.Detail, "/dev/ttyUSB0: No such file or directory");

    const TErrorReport io = ErrorReportFor(EInOutError("Cannot read file /tmp/x: Is a directory"));
    EXPECT_EQ(io.Text, "Cannot read file /tmp/x: Is a directory.");
    EXPECT_TRUE(io.Detail.isEmpty());
}

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
