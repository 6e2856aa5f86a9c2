// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// The real open-file dialog behind the seam.
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>

#include "ui_test_support.h"

namespace zelk::test {
namespace {

QString NameField(const QFileDialog& dialog) {
    auto* edit = dialog.findChild<QLineEdit*>("fileNameEdit");
    return edit ? edit->text() : "<no name field>";
}

TEST(OpenDialog, FilterListInQtFormKeepsTheThreeEntries) {
    EXPECT_EQ(QtNameFilters(TQtOpenFileDialog::kFilter),
              QStringList({"All (*.*) (*)", "rom, com (*.rom *.com)", "r0m, bin (*.r0m *.bin)"}));

    const auto dialog = TQtOpenFileDialog().MakeDialog();
    auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");
    ASSERT_TRUE(types);
    QStringList shown;
    for (int i = 0; i < types->count(); ++i) shown << types->itemText(i);
    EXPECT_EQ(shown, QStringList({"All (*.*)", "rom, com", "r0m, bin"}));
    EXPECT_EQ(types->currentIndex(), 1);
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
    EXPECT_TRUE(dialog->isSizeGripEnabled());
    EXPECT_EQ(NameField(*dialog), "");
}

TEST(OpenDialog, RemembersTheChosenNameUntilCleared) {
    QTemporaryDir dir;
    const QString path = MakeFile(dir, "game.com", 40);
    TQtOpenFileDialog dlgOpen1;

    QTimer::singleShot(0, [&] {
        auto* open = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_TRUE(open);
        open->selectFile(path);
        static_cast<QDialog*>(open)->accept();  // QFileDialog hides it
    });
    EXPECT_EQ(dlgOpen1.Execute(), std::optional<QString>(path));
    EXPECT_EQ(NameField(*dlgOpen1.MakeDialog()), "game.com");
    EXPECT_EQ(dlgOpen1.MakeDialog()->directory().absolutePath(), dir.path());

    dlgOpen1.ClearFileName();
    EXPECT_EQ(NameField(*dlgOpen1.MakeDialog()), "");
    EXPECT_EQ(dlgOpen1.MakeDialog()->directory().absolutePath(), dir.path());

    QTimer::singleShot(0, [] {
        if (auto* open = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) open->reject();
    });
    EXPECT_EQ(dlgOpen1.Execute(), std::nullopt);
}

}  // namespace
}  // namespace zelk::test
