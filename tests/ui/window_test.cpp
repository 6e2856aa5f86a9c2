// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// The main window without a port: layout, texts, the checks, loading, the
// flash and the error box.
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

#include "serial/com_port.h"
#include "ui/up_down.h"
#include "ui_test_support.h"

namespace zelk::test {
namespace {

struct TControl {
    const char* Name;
    const char* Parent;
    QRect Rect;
    const char* Text;
    const char* Hint;
};

// Every control of the window: place inside its parent, text and hint.
const TControl kControls[] = {
    {"Panel1", "Form1", {0, 0, 481, 25}, nullptr, ""},
    {"Label4", "Panel1", {53, 3, 31, 16}, "COM", ""},
    {"EdtCom", "Panel1", {88, 0, 25, 24}, "1", "Номер СОМ-порта"},
    {"UDCom", "Panel1", {113, 0, 24, 24}, nullptr, "Изменить номер СОМ-порта"},
    {"CB_Speed", "Panel1", {152, 0, 105, 24}, "br115200", ""},
    {"BtnCom", "Panel1", {272, 0, 81, 25}, "Открыть", "Открыть/Закрыть СОМ-порт"},
    {"BtnH", "Panel1", {456, 0, 25, 25}, "?", ""},
    {"PageControl1", "Form1", {0, 32, 481, 174}, nullptr, ""},
    {"Edt_z_name", "TabSheet1", {24, 16, 169, 24}, "", "Имя файла"},
    {"Btn_z_open", "TabSheet1", {200, 16, 129, 25}, "Открыть файл", "Выбрать файл для  выгрузки в ЗЕЛК"},
    {"Btn_z_zelk", "TabSheet1", {352, 8, 113, 41}, "РС -> ЗЕЛК", "Выгрузить файл в ЗЕЛК"},
    {"Label1", "TabSheet1", {24, 59, 169, 16}, "Начальный Адрес в ОЗУ:", ""},
    {"StartBox", "TabSheet1", {200, 56, 73, 24}, "0100h", ""},
    {"Label2", "TabSheet1", {56, 94, 135, 16}, "Количество Блоков:", ""},
    {"Edt_kol", "TabSheet1", {200, 88, 49, 24}, "0", "Количество выгружаемых Блоков"},
    {"GB_err", "TabSheet1", {320, 64, 145, 49}, "Ошибки передачи", ""},
    {"Label5", "GB_err", {32, 20, 26, 16}, "КС :", ""},
    {"Edt_err_ks", "GB_err", {72, 16, 41, 24}, "0", "Кол-во несовпадений контр. суммы за сеанс"},
    {"PBar", "TabSheet1", {8, 120, 457, 17}, nullptr, ""},
    {"Label3", "TabSheet2", {160, 64, 134, 16}, "Зарезервировано :)", ""},
    {"stat1", "Form1", {0, 205, 482, 19}, nullptr, ""},
};

TEST(Window, EveryControlHasItsPlaceTextAndHint) {
    TWindow w;
    EXPECT_EQ(w.form1.windowTitle(), "ЗЕЛК Вектор06Ц");
    EXPECT_EQ(w.form1.pos(), QPoint(286, 267));
    EXPECT_EQ(w.form1.size(), QSize(482, 224));
    for (const TControl& c : kControls) {
        SCOPED_TRACE(c.Name);
        QWidget* widget = w.Find(c.Name);
        EXPECT_EQ(widget->geometry(), c.Rect);
        EXPECT_EQ(widget->parentWidget()->objectName(), c.Parent);
        if (c.Text) {
            EXPECT_EQ(w.Text(c.Name), c.Text);
        }
        EXPECT_EQ(widget->toolTip(), c.Hint);
    }
    for (const char* name : {"EdtCom", "Edt_z_name", "Edt_kol", "Edt_err_ks"})
        EXPECT_TRUE(w.Find<QLineEdit>(name)->isReadOnly()) << name;
    EXPECT_FALSE(w.Enabled("Btn_z_zelk"));
    EXPECT_TRUE(w.Enabled("Btn_z_open"));
    EXPECT_TRUE(w.Enabled("BtnCom"));

    // The device label sits between the port button and "?".
    const QRect device = w.Find("LblDevice")->geometry();
    EXPECT_GE(device.left(), w.Find("BtnCom")->geometry().right());
    EXPECT_LT(device.right(), w.Find("BtnH")->geometry().left());

    auto* tabs = w.Find<QTabWidget>("PageControl1");
    ASSERT_EQ(tabs->count(), 2);
    EXPECT_EQ(tabs->currentWidget(), w.Find("TabSheet1"));
    EXPECT_EQ(tabs->tabText(0), "Загрузчик");
    EXPECT_EQ(tabs->tabText(1), "ЗЕЛК");

    auto* speed = w.Find<QComboBox>("CB_Speed");
    QStringList items;
    for (int i = 0; i < speed->count(); ++i) items << speed->itemText(i);
    EXPECT_EQ(items, QStringList({"br1200", "br2400", "br4800", "br9600", "br14400", "br19200", "br38400", "br56000",
                                  "br57600", "br115200"}));
    EXPECT_EQ(speed->currentIndex(), 9);
    EXPECT_EQ(speed->maxVisibleItems(), 10);
    EXPECT_TRUE(speed->isEditable());

    auto* start = w.Find<QComboBox>("StartBox");
    ASSERT_EQ(start->count(), 2);
    EXPECT_EQ(start->itemText(0), "0000h");
    EXPECT_EQ(start->itemText(1), "0100h");
    EXPECT_EQ(start->currentIndex(), 1);
    EXPECT_EQ(start->lineEdit()->maxLength(), 5);

    auto* bar = w.Find<QProgressBar>("PBar");
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(bar->value(), 0);

    // The initial address text is no change: panel 1 starts empty.
    EXPECT_EQ(w.Status(0), "СОМ-порт Закрыт.");
    EXPECT_EQ(w.Status(1), "");
    EXPECT_EQ(w.Status(2), "");
    EXPECT_EQ(w.StatusColor(), w.NormalColor());
    EXPECT_EQ(w.NormalColor(), w.form1.palette().color(QPalette::Button));
    EXPECT_EQ(w.form2.tmr1.interval(), 5000);
    EXPECT_FALSE(w.form2.tmr1.isActive());
    EXPECT_FALSE(w.form2.isVisible());

    const QFont font = w.form1.font();
    EXPECT_EQ(font.pixelSize(), 13);
    EXPECT_TRUE(font.bold());
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

TEST(Window, AnchoredControlsFollowTheWindowSize) {
    TWindow w;
    w.form1.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w.form1));
    w.form1.resize(600, 300);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.Find("stat1")->y() == 281; }, kLimitMs));
    EXPECT_EQ(w.Find("Panel1")->geometry(), QRect(0, 0, 599, 25));
    EXPECT_EQ(w.Find("BtnH")->geometry(), QRect(456, 0, 25, 25));
    EXPECT_EQ(w.Find("PageControl1")->geometry(), QRect(0, 32, 599, 250));
    EXPECT_EQ(w.Find("Btn_z_zelk")->geometry(), QRect(352, 8, 113, 41));
    EXPECT_EQ(w.Find("stat1")->geometry(), QRect(0, 281, 600, 19));
    w.form1.resize(482, 224);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.Find("stat1")->y() == 205; }, kLimitMs));
    EXPECT_EQ(w.Find("PageControl1")->geometry(), QRect(0, 32, 481, 174));
}

TEST(Window, PortNumberStaysWithinOneToTwentyAndShowsItsDevice) {
    const TEnvVar com2("ZELK_COM2", "/dev/zelk2");
    TWindow w;
    auto* upDown = w.Find<TUpDown>("UDCom");
    auto* down = upDown->findChild<QAbstractButton*>("Down");
    auto* up = upDown->findChild<QAbstractButton*>("Up");
    ASSERT_TRUE(up && down);
    EXPECT_EQ(w.Find("LblDevice")->toolTip().section('\n', 0, 0), QString::fromStdString(DevicePathForPort(1)));
    down->click();
    EXPECT_EQ(w.Text("EdtCom"), "1");
    up->click();
    EXPECT_EQ(w.Text("EdtCom"), "2");
    EXPECT_EQ(w.Text("LblDevice"), "/dev/zelk2");
    EXPECT_EQ(w.Find("LblDevice")->toolTip().section('\n', 0, 0), "/dev/zelk2");
    for (int i = 0; i < 25; ++i) up->click();
    EXPECT_EQ(w.Text("EdtCom"), "20");
    EXPECT_EQ(upDown->Position(), 20);
    EXPECT_EQ(w.Find("LblDevice")->toolTip().section('\n', 0, 0), QString::fromStdString(DevicePathForPort(20)));
    // The arrow keys in the edit step the number as well.
    QTest::keyClick(w.Find("EdtCom"), Qt::Key_Down);
    EXPECT_EQ(w.Text("EdtCom"), "19");
}

TEST(Window, AddressCheckPassesOnlyTwoUpperHexDigitsAndZeroZeroH) {
    TWindow w;
    for (const char* good : {"0100h", "0000h", "FF00h", "1A00h"}) {
        SCOPED_TRACE(good);
        w.SetStartText(good);
        EXPECT_EQ(w.Status(1), "");
        // A passing check does not flash.
        EXPECT_EQ(w.StatusColor(), w.NormalColor());
        EXPECT_FALSE(w.form2.tmr1.isActive());
    }
    for (const char* bad : {"0100H", "ab00h", "100h", "01000", ""}) {
        SCOPED_TRACE(bad);
        w.SetStartText(bad);
        EXPECT_EQ(w.Status(1), "Ошибка Адреса!");
        EXPECT_EQ(w.StatusColor(), kFailColor);
        w.ExpireFlash();
        EXPECT_EQ(w.StatusColor(), w.NormalColor());
        // The message stays after the flash.
        EXPECT_EQ(w.Status(1), "Ошибка Адреса!");
    }
    // Choosing an item runs the check as typing does.
    w.Find<QComboBox>("StartBox")->setCurrentIndex(0);
    EXPECT_EQ(w.Status(1), "");
    // At most five characters.
    w.SetStartText("0200h7");
    EXPECT_EQ(w.Text("StartBox"), "0200h");
}

TEST(Window, SpeedNotInTheListKeepsThePortClosed) {
    TWindow w;
    for (const char* typed : {"br12345", "", "115200"}) {
        SCOPED_TRACE(typed);
        w.Find<QComboBox>("CB_Speed")->setEditText(typed);
        w.Click("BtnCom");
        EXPECT_EQ(w.Status(1), "Скорость не из списка!");
        EXPECT_EQ(w.StatusColor(), kFailColor);
        EXPECT_EQ(w.Status(0), "СОМ-порт Закрыт.");
        EXPECT_EQ(w.Text("BtnCom"), "Открыть");
        EXPECT_TRUE(w.Errors.empty());
        w.ExpireFlash();
    }
}

TEST(Window, PortThatCannotOpenShowsTheErrorBoxAndChangesNothing) {
    const TEnvVar com7("ZELK_COM7", "/nonexistent/zelk-ui-test/tty7");
    TWindow w;
    w.SetPortNumber(7);
    // Too long for the label: its tail is shown, the whole path in the hint.
    auto* device = w.Find<QLabel>("LblDevice");
    EXPECT_TRUE(device->text().startsWith(u'…') && device->text().endsWith("/tty7")) << device->text().toStdString();
    EXPECT_LE(QFontMetrics(device->font()).horizontalAdvance(device->text()), device->width());
    EXPECT_EQ(w.Find("LblDevice")->toolTip().section('\n', 0, 0), "/nonexistent/zelk-ui-test/tty7");
    w.Click("BtnCom");
    ASSERT_EQ(w.Errors.size(), 1u);
    EXPECT_EQ(w.Errors[0].Text, "Error opening port COM7.");
    EXPECT_TRUE(w.Errors[0].Detail.contains("/nonexistent/zelk-ui-test/tty7")) << w.Errors[0].Detail.toStdString();
    EXPECT_EQ(w.Status(0), "СОМ-порт Закрыт.");
    EXPECT_EQ(w.Status(1), "");
    EXPECT_EQ(w.Text("BtnCom"), "Открыть");
    EXPECT_EQ(w.StatusColor(), w.NormalColor());
    EXPECT_FALSE(w.form2.tmr1.isActive());
}

class Loading : public ::testing::Test {
protected:
    QTemporaryDir dir;
    TWindow w;
};

TEST_F(Loading, SuccessShowsBytesBlocksAndNameAndFailureKeepsTheName) {
    ASSERT_TRUE(dir.isValid());
    w.Load(MakeFile(dir, "program.rom", 300));
    EXPECT_EQ(w.Status(1), "Файл прочитан.");
    EXPECT_EQ(w.Status(2), "512 Байт.");
    EXPECT_EQ(w.Text("Edt_kol"), "2");
    EXPECT_EQ(w.Text("Edt_z_name"), "program.rom");
    EXPECT_EQ(w.StatusColor(), kSuccessColor);
    EXPECT_EQ(w.Dialog->Clears, 1);
    // The port is closed: the send button stays disabled.
    EXPECT_FALSE(w.Enabled("Btn_z_zelk"));

    w.Load(std::nullopt);
    EXPECT_EQ(w.Status(1), "Файл НЕ прочитан!");
    EXPECT_EQ(w.Status(2), "");
    EXPECT_EQ(w.Text("Edt_kol"), "0");
    EXPECT_EQ(w.Text("Edt_z_name"), "program.rom");
    EXPECT_EQ(w.StatusColor(), kFailColor);
    EXPECT_EQ(w.Dialog->Clears, 2);

    w.Load(MakeFile(dir, "longfilename.rom", 65535));
    EXPECT_EQ(w.Status(2), "65536 Байт.");
    EXPECT_EQ(w.Text("Edt_kol"), "256");
    EXPECT_EQ(w.Text("Edt_z_name"), "longfile.rom");

    w.Load(dir.filePath("missing.rom"));
    EXPECT_EQ(w.Status(1), "Файл НЕ прочитан!");
    EXPECT_EQ(w.Text("Edt_kol"), "0");

    w.Load(MakeFile(dir, "big.bin", 65536));
    EXPECT_EQ(w.Status(1), "Файл НЕ прочитан!");
    EXPECT_EQ(w.Text("Edt_z_name"), "longfile.rom");

    w.Load(MakeFile(dir, "empty.rom", 0));
    EXPECT_EQ(w.Status(1), "Файл прочитан.");
    EXPECT_EQ(w.Status(2), "0 Байт.");
    EXPECT_EQ(w.Text("Edt_kol"), "0");
    EXPECT_EQ(w.StatusColor(), kSuccessColor);
    EXPECT_EQ(w.Dialog->Clears, 6);
    EXPECT_TRUE(w.Errors.empty());
}

TEST_F(Loading, FileThatCannotBeReadShowsTheErrorBoxAndChangesNoText) {
    w.Load(MakeFile(dir, "a.rom", 700));
    w.ExpireFlash();
    w.Load(dir.path());  // a folder: it exists but cannot be read as a file
    ASSERT_EQ(w.Errors.size(), 1u);
    EXPECT_TRUE(w.Errors[0].Text.contains(dir.path())) << w.Errors[0].Text.toStdString();
    EXPECT_TRUE(w.Errors[0].Text.endsWith('.'));
    EXPECT_TRUE(w.Errors[0].Detail.isEmpty());
    EXPECT_EQ(w.Status(1), "Файл прочитан.");
    EXPECT_EQ(w.Status(2), "768 Байт.");
    EXPECT_EQ(w.Text("Edt_kol"), "3");
    EXPECT_EQ(w.StatusColor(), w.NormalColor());
    // The dialog keeps the name it had.
    EXPECT_EQ(w.Dialog->Clears, 1);
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

TEST(AboutBox, ShowsItsTextsModallyFromTheQuestionButton) {
    TWindow w;
    TAboutBox& about = w.aboutBox;
    EXPECT_EQ(about.windowTitle(), "О прграмме");
    EXPECT_EQ(about.size(), QSize(298, 218));
    EXPECT_EQ(about.minimumSize(), about.maximumSize());
    EXPECT_EQ(about.font().pointSize(), 8);
    struct TItem {
        const char* Name;
        QPoint At;
        const char* Text;
    };
    for (const TItem& item : {TItem{"ProductName", {88, 16}, "Product Name: ЗЕЛК Вектор06Ц."},
                              TItem{"Version", {88, 40}, "Version: Загрузчик."},
                              TItem{"Comments", {8, 104}, "Comments:"},
                              TItem{"Label1", {80, 104}, "Передача файла через СОМ-порт"},
                              TItem{"Label2", {80, 120}, "на Контроллер ЗЕЛК Вектора06Ц."}}) {
        auto* label = about.findChild<QLabel*>(item.Name);
        ASSERT_TRUE(label) << item.Name;
        EXPECT_EQ(label->text(), item.Text);
        EXPECT_EQ(label->pos(), item.At);
        EXPECT_EQ(label->parentWidget()->geometry(), QRect(8, 8, 281, 161));
        // Nothing cut off inside the panel.
        EXPECT_LE(label->geometry().right(), 281 - 2) << item.Name;
    }
    auto* icon = about.findChild<QLabel*>("ProgramIcon");
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->geometry(), QRect(8, 8, 65, 57));
    EXPECT_TRUE(icon->pixmap().isNull());
    auto* ok = about.findChild<QPushButton*>("OKButton");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->geometry(), QRect(120, 178, 65, 33));
    EXPECT_TRUE(ok->isDefault());

    bool checked = false;
    QTimer::singleShot(0, &about, [&] {
        checked = QApplication::activeModalWidget() == &about && about.focusWidget() == ok;
        ok->click();
    });
    w.Click("BtnH");
    EXPECT_TRUE(checked);
    EXPECT_EQ(about.result(), QDialog::Accepted);
    EXPECT_FALSE(about.isVisible());
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
