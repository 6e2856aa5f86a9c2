// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// The window with a port: pseudo-terminals stand in for the devices, the
// test plays the ZELK controller on the master side.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QTabWidget>
#include <QTest>

#include <sys/stat.h>

#include <QFile>

#include "serial/com_port.h"
#include "support/packets.h"
#include "ui_test_support.h"

namespace zelk::test {
namespace {

constexpr std::uint8_t kReq = 0x05;
constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kBad = 0xF4;

TBytes FirstHeader(std::uint8_t startPage, std::uint8_t blocks) {
    std::uint8_t body[32]{};
    body[29] = startPage;
    body[30] = body[31] = blocks;
    return Packet(0, 0, body);
}

TBytes LaterHeader(std::uint8_t block) { return Packet(0, block); }

// A data packet of a file written by MakeFile (byte i is i * 7 + 3) that is
// fileSize bytes long; the image is zero past its end.
TBytes DataPacket(std::uint8_t block, int offset, int piece, int fileSize) {
    std::uint8_t data[32];
    for (int i = 0; i < 32; ++i) data[i] = offset + i < fileSize ? static_cast<std::uint8_t>((offset + i) * 7 + 3) : 0;
    return Packet(static_cast<std::uint8_t>(piece == 0 ? 8 : piece), block, data);
}

class PortWindow : public ::testing::Test {
protected:
    PortWindow() : com3_("ZELK_COM3", pty.SlavePath()) { w.SetPortNumber(3); }

    ~PortWindow() override {
        w.form1.close();  // closes the port, which joins its reader thread
    }

    TState State() const { return w.form1.Transfer().State(); }

    // The device asks for the next packet; returns what the port sent.
    TBytes Request() {
        pty.Send({kReq});
        return pty.Receive(36);
    }

    // The device answers; waits until the transfer has taken the reply, so
    // that the next byte arrives as a chunk of its own.
    void Answer(std::uint8_t reply, TState next) {
        pty.Send({reply});
        ASSERT_TRUE(QTest::qWaitFor([&] { return State() == next; }, kLimitMs)) << int(reply);
    }

    void Open() {
        w.Click("BtnCom");
        ASSERT_EQ(w.Text("BtnCom"), "Закрыть");
        ASSERT_TRUE(w.Errors.empty()) << w.Errors[0].Text.toStdString();
    }

    TPty pty;
    TEnvVar com3_;
    QTemporaryDir dir;
    TWindow w;
};

TEST_F(PortWindow, OpenAndCloseShowThePortStateAndUseTheSelectedSpeed) {
    EXPECT_EQ(w.Text("LblDevice"), QString::fromStdString(pty.SlavePath()));
    Open();
    EXPECT_EQ(w.Status(0), "СОМ-порт Открыт.");
    EXPECT_EQ(w.StatusColor(), kSuccessColor);
    EXPECT_EQ(pty.Baud(), 115200u);

    w.Click("BtnCom");
    EXPECT_EQ(w.Status(0), "СОМ-порт Закрыт.");
    EXPECT_EQ(w.Text("BtnCom"), "Открыть");
    EXPECT_EQ(w.StatusColor(), kFailColor);

    w.Find<QComboBox>("CB_Speed")->setCurrentIndex(3);
    Open();
    EXPECT_EQ(pty.Baud(), 9600u);
    w.Click("BtnCom");

    // A typed item name selects that item once the edit is finished.
    QLineEdit* speedEdit = w.Find<QComboBox>("CB_Speed")->lineEdit();
    speedEdit->setText("br57600");
    QTest::keyClick(speedEdit, Qt::Key_Return);
    Open();
    EXPECT_EQ(pty.Baud(), 57600u);
    EXPECT_EQ(w.Status(1), "");
}

TEST_F(PortWindow, SendButtonNeedsBothAFileAndAnOpenPortInEitherOrder) {
    w.Load(MakeFile(dir, "a.rom", 10));
    EXPECT_FALSE(w.Enabled("Btn_z_zelk"));
    Open();
    EXPECT_TRUE(w.Enabled("Btn_z_zelk"));
    w.Click("BtnCom");
    EXPECT_FALSE(w.Enabled("Btn_z_zelk"));

    w.Load(std::nullopt);
    Open();
    EXPECT_FALSE(w.Enabled("Btn_z_zelk"));
    w.Load(MakeFile(dir, "b.rom", 10));
    EXPECT_TRUE(w.Enabled("Btn_z_zelk"));
    w.Load(std::nullopt);
    EXPECT_FALSE(w.Enabled("Btn_z_zelk"));
}

TEST_F(PortWindow, DroppedFileLoadsAsFromTheDialogButNotWhileATransferRuns) {
    ASSERT_TRUE(w.Drop(MakeFile(dir, "a.rom", 10)));
    EXPECT_EQ(w.Text("Edt_z_name"), "a.rom");
    EXPECT_EQ(w.Status(1), "Файл прочитан.");
    const std::int32_t length = w.form1.Transfer().FileLen();
    Open();
    w.Click("Btn_z_zelk");
    ASSERT_EQ(w.Text("Btn_z_zelk"), "СТОП");

    EXPECT_FALSE(w.Drop(MakeFile(dir, "b.rom", 300)));
    EXPECT_EQ(w.Text("Edt_z_name"), "a.rom");
    EXPECT_EQ(w.form1.Transfer().FileLen(), length);
    EXPECT_EQ(w.Status(1), "Отправка");

    w.Click("Btn_z_zelk");  // stop
    ASSERT_EQ(w.Text("Btn_z_zelk"), "РС -> ЗЕЛК");
    EXPECT_TRUE(w.Drop(dir.filePath("b.rom")));
    EXPECT_EQ(w.Text("Edt_z_name"), "b.rom");
    EXPECT_EQ(w.Status(2), "512 Байт.");
    EXPECT_TRUE(w.Errors.empty());
}

TEST_F(PortWindow, UploadSendsEveryPacketOnRequestAndResendsAfterAMismatch) {
    constexpr int kSize = 300;  // two pages; C = 2, S = 1, first page number 1 + 2 * 2
    w.Load(MakeFile(dir, "prog.rom", kSize));
    Open();
    auto* bar = w.Find<QProgressBar>("PBar");

    w.Click("Btn_z_zelk");
    EXPECT_EQ(w.Text("Btn_z_zelk"), "СТОП");
    EXPECT_FALSE(w.Enabled("Btn_z_open"));
    EXPECT_EQ(w.Status(1), "Отправка");
    EXPECT_EQ(bar->maximum(), 512);
    EXPECT_EQ(pty.Receive(3), TBytes({0x55, 0x55, 0x55}));

    EXPECT_EQ(Request(), FirstHeader(0x01, 2));
    Answer(kAck, TState::WaitDataReq);
    for (int piece = 0; piece < 8; ++piece) {
        EXPECT_EQ(Request(), DataPacket(5, piece * 32, piece, kSize)) << piece;
        Answer(kAck, piece < 7 ? TState::WaitDataReq : TState::WaitHeaderReq);
        EXPECT_EQ(bar->value(), (piece + 1) * 32);
    }

    // A rejected header goes again unchanged.
    EXPECT_EQ(Request(), LaterHeader(4));
    Answer(kBad, TState::WaitHeaderReq);
    EXPECT_EQ(w.Text("Edt_err_ks"), "1");
    EXPECT_EQ(Request(), LaterHeader(4));
    Answer(kAck, TState::WaitDataReq);

    for (int piece = 0; piece < 8; ++piece) {
        const TBytes packet = DataPacket(4, 256 + piece * 32, piece, kSize);
        EXPECT_EQ(Request(), packet) << piece;
        if (piece == 3) {
            Answer(kBad, TState::WaitDataReq);
            EXPECT_EQ(w.Text("Edt_err_ks"), "2");
            EXPECT_EQ(Request(), packet);
        }
        Answer(kAck, piece < 7 ? TState::WaitDataReq : TState::Idle);
    }
    EXPECT_EQ(bar->value(), 512);
    EXPECT_EQ(w.Status(1), "Отправка Завершена.");
    EXPECT_EQ(w.Text("Btn_z_zelk"), "РС -> ЗЕЛК");
    EXPECT_TRUE(w.Enabled("Btn_z_open"));
    EXPECT_TRUE(w.Enabled("Btn_z_zelk"));
    EXPECT_EQ(w.StatusColor(), kSuccessColor);
    EXPECT_TRUE(w.Errors.empty());
}

TEST_F(PortWindow, ClosingMidTransferKeepsStopAndReopeningContinues) {
    w.Load(MakeFile(dir, "c.rom", 64));
    Open();
    w.Click("Btn_z_zelk");
    ASSERT_EQ(pty.Receive(3).size(), 3u);
    EXPECT_EQ(Request(), FirstHeader(0x01, 1));
    Answer(kAck, TState::WaitDataReq);

    w.Click("BtnCom");
    EXPECT_EQ(w.Text("Btn_z_zelk"), "СТОП");
    EXPECT_FALSE(w.Enabled("Btn_z_zelk"));
    EXPECT_FALSE(w.Enabled("Btn_z_open"));

    Open();
    EXPECT_TRUE(w.Enabled("Btn_z_zelk"));
    EXPECT_EQ(w.Text("Btn_z_zelk"), "СТОП");
    EXPECT_EQ(Request(), DataPacket(3, 0, 0, 64));

    // Stop: the button is the send button again, and loading is possible.
    w.Click("Btn_z_zelk");
    EXPECT_EQ(w.Text("Btn_z_zelk"), "РС -> ЗЕЛК");
    EXPECT_EQ(w.Status(1), "Отправка Остановлена!");
    EXPECT_EQ(w.StatusColor(), kFailColor);
    EXPECT_TRUE(w.Enabled("Btn_z_open"));
    EXPECT_EQ(State(), TState::Idle);
}

TEST_F(PortWindow, UnexpectedReplyEndsTheTransferAndFreesLoading) {
    w.SetStartText("0000h");
    w.Load(MakeFile(dir, "d.rom", 256));
    Open();
    w.Click("Btn_z_zelk");
    ASSERT_EQ(pty.Receive(3).size(), 3u);
    EXPECT_EQ(Request(), FirstHeader(0x00, 1));
    Answer(kReq, TState::Idle);  // a request where an answer is due
    EXPECT_EQ(w.Status(1), "Ошибка при отправке!");
    EXPECT_EQ(w.Text("Btn_z_zelk"), "РС -> ЗЕЛК");
    EXPECT_EQ(w.StatusColor(), kFailColor);
    EXPECT_TRUE(w.Enabled("Btn_z_open"));

    // The next transfer counts its mismatches from zero again.
    w.Click("Btn_z_zelk");
    ASSERT_EQ(pty.Receive(3).size(), 3u);
    EXPECT_EQ(Request(), FirstHeader(0x00, 1));
    Answer(kBad, TState::WaitHeaderReq);
    EXPECT_EQ(w.Text("Edt_err_ks"), "1");
}

// An adapter pulled out mid-upload: the window says so at once, closes the
// port as "Закрыть" does and ends the transfer as failed.
TEST_F(PortWindow, DeviceThatHangsUpIsReportedAndClosesThePort) {
    w.Load(MakeFile(dir, "f.rom", 300));
    Open();
    w.Click("Btn_z_zelk");
    ASSERT_EQ(pty.Receive(3).size(), 3u);
    EXPECT_EQ(Request(), FirstHeader(0x01, 2));
    pty.CloseMaster();

    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.Errors.empty(); }, kLimitMs));
    ASSERT_EQ(w.Errors.size(), 1u);
    EXPECT_EQ(w.Errors[0].Text, "Error reading port COM3.");
    EXPECT_EQ(w.Errors[0].Detail, QString::fromStdString(pty.SlavePath() + ": the device hung up"));
    EXPECT_EQ(State(), TState::Idle);
    EXPECT_EQ(w.Status(1), "Ошибка при отправке!");
    EXPECT_EQ(w.Text("Btn_z_zelk"), "РС -> ЗЕЛК");
    EXPECT_EQ(w.Status(0), "СОМ-порт Закрыт.");
    EXPECT_EQ(w.Text("BtnCom"), "Открыть");
    EXPECT_FALSE(w.Enabled("Btn_z_zelk"));
    EXPECT_TRUE(w.Enabled("Btn_z_open"));
    EXPECT_EQ(w.StatusColor(), kFailColor);
}

// A file that cannot be loaded (a pipe nobody writes) leaves the one loaded
// before in place, and it still uploads whole.
TEST_F(PortWindow, FailedLoadKeepsTheLoadedFileForTheNextUpload) {
    w.Load(MakeFile(dir, "g.rom", 64));
    Open();
    const QString fifo = dir.filePath("pipe");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    w.Load(fifo);
    ASSERT_EQ(w.Errors.size(), 1u);
    EXPECT_EQ(w.form1.Transfer().FileLen(), 256);
    EXPECT_EQ(w.Status(2), "256 Байт.");
    EXPECT_EQ(w.Text("Edt_kol"), "1");
    EXPECT_TRUE(w.Enabled("Btn_z_zelk"));

    w.Click("Btn_z_zelk");
    ASSERT_EQ(pty.Receive(3).size(), 3u);
    EXPECT_EQ(Request(), FirstHeader(0x01, 1));
    Answer(kAck, TState::WaitDataReq);
    for (int piece = 0; piece < 8; ++piece) {
        EXPECT_EQ(Request(), DataPacket(3, piece * 32, piece, 64)) << piece;
        Answer(kAck, piece < 7 ? TState::WaitDataReq : TState::Idle);
    }
    EXPECT_EQ(w.Status(1), "Отправка Завершена.");
}

TEST_F(PortWindow, RepliesAreHandledWhileAModalBoxIsOpen) {
    w.Load(MakeFile(dir, "e.rom", 32));
    Open();
    w.Click("Btn_z_zelk");
    ASSERT_EQ(pty.Receive(3).size(), 3u);

    TBytes header;
    QTimer::singleShot(0, &w.aboutBox, [&] {
        header = Request();
        w.aboutBox.accept();
    });
    w.Click("BtnH");
    EXPECT_EQ(header, FirstHeader(0x01, 1));
    EXPECT_EQ(State(), TState::WaitHeaderAck);
}

TEST_F(PortWindow, ClosingTheWindowReleasesThePortAndEndsTheProgram) {
    Open();
    w.form1.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w.form1));
    // The program's loop ends when the window closes; a bound fails instead of hanging.
    QTimer::singleShot(0, &w.form1, [&] { w.form1.close(); });
    QTimer bound;
    bound.callOnTimeout(qApp, [] { QApplication::exit(1); });
    bound.start(kLimitMs);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(w.form1.isVisible());
    // The device is free again: another open of it succeeds.
    const TComPort again(3, 9600, [](std::function<void()>, std::stop_token) {});
    EXPECT_EQ(again.DevicePath(), pty.SlavePath());
}

// Pictures of the window for a person to look at: idle, in the middle of an
// upload with three mismatches, stopped on the second tab, and the about box.
TEST_F(PortWindow, ScreenshotsOfTheWindowAndTheAboutBox) {
    const QDir shots(ZELK_SCREENSHOT_DIR);
    ASSERT_TRUE(shots.mkpath("."));
    w.form1.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w.form1));
    EXPECT_TRUE(w.form1.grab().save(shots.filePath("main-idle.png")));

    w.Load(MakeFile(dir, "program.rom", 300));
    Open();
    w.Click("Btn_z_zelk");
    ASSERT_EQ(pty.Receive(3).size(), 3u);
    EXPECT_EQ(Request(), FirstHeader(0x01, 2));
    for (int i = 0; i < 3; ++i) {
        Answer(kBad, TState::WaitHeaderReq);
        EXPECT_EQ(Request(), FirstHeader(0x01, 2));
    }
    Answer(kAck, TState::WaitDataReq);
    for (int piece = 0; piece < 5; ++piece) {
        EXPECT_EQ(Request(), DataPacket(5, piece * 32, piece, 300));
        Answer(kAck, TState::WaitDataReq);
    }
    EXPECT_EQ(w.Text("Edt_err_ks"), "3");
    EXPECT_TRUE(w.form1.grab().save(shots.filePath("main-transfer.png")));

    w.Click("Btn_z_zelk");
    EXPECT_EQ(w.Status(1), "Отправка Остановлена!");
    w.Find<QTabWidget>("PageControl1")->setCurrentIndex(1);
    EXPECT_TRUE(w.form1.grab().save(shots.filePath("main-stopped-tab2.png")));

    w.aboutBox.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w.aboutBox));
    EXPECT_TRUE(w.aboutBox.grab().save(shots.filePath("about.png")));
    w.aboutBox.hide();
}

}  // namespace
}  // namespace zelk::test
