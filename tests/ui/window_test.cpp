// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// The Qt face without a port: what only it has (the shared scenarios are
// the contract suite's, tests/faces).
#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <cerrno>

#include "window/window_design.h"
#include "ui_test_support.h"

namespace zelk::test {
namespace {

// What only the Qt face has: the scenarios every face shares are the
// contract suite's (tests/faces).

TEST(Window, ControlsNestAsDesignedAndTheComboBoxesAreEditable) {
    TWindow w;
    for (const design::TControl& c : design::kControls) {
        const QWidget* parent = w.Find(c.Name)->parentWidget();
        // A tab's page sits in the tab control's stack.
        if (c.Kind == design::TKind::TabSheet) parent = parent->parentWidget();
        EXPECT_EQ(parent->objectName(), c.Parent) << c.Name;
    }
    // The status bar is as high as designed (the Win32 one is the system's).
    const design::TRect bar = design::FindControl(design::kControls, "stat1")->Rect;
    EXPECT_EQ(w.Find("stat1")->geometry(), QRect(bar.Left, bar.Top, bar.Width, bar.Height));
    auto* speed = w.Find<QComboBox>("CB_Speed");
    EXPECT_EQ(speed->maxVisibleItems(), design::kSpeedRows);
    EXPECT_TRUE(speed->isEditable());
    auto* start = w.Find<QComboBox>("StartBox");
    EXPECT_TRUE(start->isEditable());
    EXPECT_EQ(start->lineEdit()->maxLength(), design::kStartMaxLength);
    EXPECT_EQ(w.NormalColor(), w.form1.palette().color(QPalette::Button));
    EXPECT_EQ(w.form2.tmr1.interval(), design::kFlashMs);
    EXPECT_FALSE(w.form2.isVisible());
    const QFont font = w.form1.font();
    EXPECT_TRUE(QFontMetrics(font).inFontUcs4(U'Ж')) << QFontInfo(font).family().toStdString();
}

// The fonts are stand-ins for the Windows ones: every text must still fit.
TEST(Window, EveryTextFitsItsControl) {
    TWindow w;
    for (const char* name : {"Label1", "Label2", "Label3", "Label4", "Label5"}) {
        auto* label = w.Find<QLabel>(name);
        EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(label->text()), label->width()) << name;
    }
    const TStatusBar* bar = w.Find<TStatusBar>("stat1");
    const QStringList texts[] = {
        {"СОМ-порт Закрыт.", "СОМ-порт Открыт.", "Ошибка призаписи в порт!"},
        {"Файл прочитан.", "Файл НЕ прочитан!", "Ошибка Адреса!", "Скорость не из списка!", "Отправка",
         "Отправка Завершена.", "Отправка Остановлена!", "Ошибка при отправке!"},
        {"65536 Байт."},
    };
    for (int panel = 0; panel < 3; ++panel) {
        auto* label = bar->findChild<QLabel*>(QString("stat1Panel%1").arg(panel));
        ASSERT_TRUE(label);
        const int room = label->contentsRect().width() - label->indent();
        for (const QString& text : texts[panel])
            EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(text), room) << text.toStdString();
    }
}

// Too long for the label: its tail is shown, the whole path in the hint.
TEST(Window, LongDevicePathShowsItsTail) {
    const TEnvVar com7("ZELK_COM7", "/nonexistent/zelk-ui-test/tty7");
    TWindow w;
    w.SetPortNumber(7);
    auto* device = w.Find<QLabel>("LblDevice");
    EXPECT_TRUE(device->text().startsWith(u'…') && device->text().endsWith("/tty7")) << device->text().toStdString();
    EXPECT_LE(QFontMetrics(device->font()).horizontalAdvance(device->text()), device->width());
    EXPECT_EQ(device->toolTip().section('\n', 0, 0), "/nonexistent/zelk-ui-test/tty7");
}

// A load that fails with an error leaves the dialog's name as it was; any
// other outcome clears it.
TEST(Window, FileThatCannotBeReadKeepsTheDialogsName) {
    QTemporaryDir dir;
    TWindow w;
    w.Load(MakeFile(dir, "a.rom", 700));
    EXPECT_EQ(w.Dialog->Clears, 1);
    w.Load(dir.path());  // a folder: it exists but cannot be read as a file
    ASSERT_EQ(w.Errors.size(), 1u);
    EXPECT_TRUE(w.Errors[0].Detail.isEmpty());
    EXPECT_EQ(w.Dialog->Clears, 1);
    w.Load(std::nullopt);
    EXPECT_FALSE(w.Dialog->OpenedEmpty);
    EXPECT_EQ(w.Dialog->Clears, 2);
}

TEST(Flash, SecondOutcomeReplacesTheFirstAndRestartsTheFiveSeconds) {
    QTemporaryDir dir;
    TWindow w;
    QTimer& timer = w.form2.tmr1;
    w.SetStartText("01");
    EXPECT_EQ(w.StatusColor(), kFailColor);
    ASSERT_TRUE(timer.isActive());
    ASSERT_TRUE(QTest::qWaitFor([&] { return timer.remainingTime() < 4900; }, kLimitMs));

    w.Load(MakeFile(dir, "b.rom", 10));
    EXPECT_EQ(w.StatusColor(), kSuccessColor);
    EXPECT_GT(timer.remainingTime(), 4900);
    EXPECT_EQ(w.Status(1), "Файл прочитан.");

    // A shorter interval shows the real timer putting the colour back once.
    timer.setInterval(50);
    w.SetStartText("02");
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.StatusColor() == w.NormalColor(); }, kLimitMs));
    EXPECT_FALSE(timer.isActive());
    EXPECT_EQ(w.Status(1), "Ошибка Адреса!");
}

TEST(AboutBox, IsFixedInSizeWithItsOwnFontAndAnEmptyIcon) {
    TWindow w;
    TAboutBox& about = w.aboutBox;
    EXPECT_EQ(about.minimumSize(), about.maximumSize());
    EXPECT_EQ(about.font().pointSize(), design::kAboutFontPoints);
    auto* icon = about.findChild<QLabel*>("ProgramIcon");
    ASSERT_TRUE(icon);
    EXPECT_TRUE(icon->pixmap().isNull());
}

// A window whose TForm2 was never attached has no file dialog and no flash
// timer: the first use stops the program and says so.
TEST(WindowWithoutForm2, StopsWithAMessageAtTheFirstUse) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto choose = [] {
        TForm1 form;
        form.Logic().FileOpen1Execute();
    };
    const auto flash = [] {
        TForm1 form;
        form.Logic().StartBoxChange("01");  // fails the address check: a red flash
    };
    EXPECT_DEATH(choose(), "no TForm2, so no dlgOpen1 and no tmr1");
    EXPECT_DEATH(flash(), "no TForm2, so no dlgOpen1 and no tmr1");
}

}  // namespace
}  // namespace zelk::test
