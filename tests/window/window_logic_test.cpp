// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// The window's behaviour without a toolkit: what a press, a load, a reply or
// a port failure does to what the window shows.
#include <cerrno>
#include <cstdlib>

#include "fake_face.h"
#include "transfer/file_image.h"
#include "window/texts.h"

namespace zelk::test {
namespace {

void SetEnv(const std::string& name, const std::string& value) {
#ifdef _WIN32
    ::_putenv_s(name.c_str(), value.c_str());
#else
    ::setenv(name.c_str(), value.c_str(), 1);
#endif
}

// A device that takes every packet: 05 06 for each of a page's nine packets.
std::vector<std::uint8_t> CleanReplies(int pages) {
    std::vector<std::uint8_t> r;
    for (int k = 0; k < pages * 9; ++k) r.insert(r.end(), {0x05, 0x06});
    return r;
}

class WindowLogic : public ::testing::Test {
protected:
    void SetUp() override { logic.ShowAll(); }

    const TWindowState& Drawn() const { return face.Drawn; }
    void Open() { logic.BtnComClick(1, 9, "br115200"); }
    void Load(int size, const std::string& name = "program.rom") {
        face.Answers.push_back(files.Make(name, size));
        logic.FileOpen1Execute();
    }
    void Replies(const std::vector<std::uint8_t>& replies) {
        for (std::uint8_t r : replies) line.Reply({r});
    }

    TFiles files;
    TFakeFace face;
    TFakeLine line;
    std::vector<TSerialDevice> devices;
    TWindowLogic logic{face, FakePorts(line), {[this] { return devices; }, true}};
};

TEST_F(WindowLogic, StartsAsTheWindowIsDesigned) {
    EXPECT_EQ(face.Changes, std::vector<unsigned>{kChangeAll});
    EXPECT_EQ(Drawn().PortCaption, "Открыть");
    EXPECT_EQ(Drawn().SendCaption, "РС -> ЗЕЛК");
    EXPECT_FALSE(Drawn().SendEnabled);
    EXPECT_TRUE(Drawn().LoadEnabled);
    EXPECT_EQ(Drawn().Panels, (std::array<std::string, 3>{"СОМ-порт Закрыт.", "", ""}));
    EXPECT_EQ(Drawn().StartText, "0100h");
    EXPECT_EQ(Drawn().SpeedText, "br115200");
    EXPECT_EQ(Drawn().BlockCount, "0");
    EXPECT_EQ(Drawn().ErrorCount, "0");
    EXPECT_EQ(Drawn().Flash, TFlash::None);
}

TEST_F(WindowLogic, ASpeedTypedThatIsNoItemOpensNothing) {
    for (const auto& [index, text] : std::vector<std::pair<int, std::string>>{{9, "br11520"}, {-1, "br115200"}, {10, "x"}}) {
        logic.BtnComClick(1, index, text);
        EXPECT_EQ(Drawn().Panels[1], "Скорость не из списка!");
        EXPECT_EQ(Drawn().Flash, TFlash::Failure);
        EXPECT_EQ(Drawn().PortCaption, "Открыть");
        EXPECT_EQ(Drawn().SpeedText, text);
    }
    EXPECT_EQ(line.Opened, 0);
    // The rate comes from the item: COM5 at the eighth item's 56000.
    logic.BtnComClick(5, 7, "br56000");
    EXPECT_EQ(line.Number, 5);
    EXPECT_EQ(line.Baud, 56000);
    EXPECT_EQ(Drawn().PortCaption, "Закрыть");
    EXPECT_EQ(Drawn().Panels[0], "СОМ-порт Открыт.");
    EXPECT_EQ(Drawn().Flash, TFlash::Success);
}

TEST_F(WindowLogic, APortThatCannotOpenShowsWhyAndChangesNothingElse) {
    line.OpenError = EComPortError("Error opening port COM7", "/dev/ttyS6: No such file or directory", ENOENT);
    const std::size_t starts = static_cast<std::size_t>(face.TimerStarts);
    logic.BtnComClick(7, 9, "br115200");
    ASSERT_EQ(face.Errors.size(), 1u);
    EXPECT_EQ(face.Errors[0], (TErrorReport{"Error opening port COM7.", "/dev/ttyS6: No such file or directory"}));
    EXPECT_EQ(Drawn().PortCaption, "Открыть");
    EXPECT_EQ(Drawn().Panels, (std::array<std::string, 3>{"СОМ-порт Закрыт.", "", ""}));
    EXPECT_EQ(Drawn().Flash, TFlash::None);
    EXPECT_EQ(static_cast<std::size_t>(face.TimerStarts), starts);
    EXPECT_FALSE(logic.PortIsOpen());
}

TEST_F(WindowLogic, SendIsEnabledOnlyWithAFileAndAnOpenPort) {
    Load(300);
    EXPECT_FALSE(Drawn().SendEnabled);  // loaded, port closed
    EXPECT_EQ(Drawn().Panels[2], "512 Байт.");
    EXPECT_EQ(Drawn().BlockCount, "2");
    Open();
    EXPECT_TRUE(Drawn().SendEnabled);
    logic.BtnComClick();  // close
    EXPECT_FALSE(Drawn().SendEnabled);
    EXPECT_EQ(Drawn().Flash, TFlash::Failure);  // closing flashes red
    Open();
    EXPECT_TRUE(Drawn().SendEnabled);
    // A load that fails (cancelled) disables it, clears the byte count and
    // keeps the name shown.
    face.Answers.push_back(std::nullopt);
    logic.FileOpen1Execute();
    EXPECT_FALSE(Drawn().SendEnabled);
    EXPECT_EQ(Drawn().Panels[1], "Файл НЕ прочитан!");
    EXPECT_EQ(Drawn().Panels[2], "");
    EXPECT_EQ(Drawn().BlockCount, "0");
    EXPECT_EQ(Drawn().FileName, "program.rom");
    // A press that arrives anyway starts nothing.
    logic.Btn_z_zelkClick();
    EXPECT_TRUE(line.Writes.empty());
    EXPECT_FALSE(logic.Transfer().Running());
}

TEST_F(WindowLogic, ALoadThatFailsWithAnErrorKeepsTheFileLoaded) {
    Load(700);
    Open();
    logic.tmr1Timer();
    face.Answers.push_back(files.Folder());  // exists, cannot be read as a file
    logic.FileOpen1Execute();
    ASSERT_EQ(face.Errors.size(), 1u);
    EXPECT_NE(face.Errors[0].Text.find(files.Folder()), std::string::npos) << face.Errors[0].Text;
    EXPECT_EQ(face.Errors[0].Text.back(), '.');
    EXPECT_EQ(logic.Transfer().FileLen(), 768);
    EXPECT_TRUE(Drawn().SendEnabled);
    EXPECT_EQ(Drawn().Panels[1], "Файл прочитан.");
    EXPECT_EQ(Drawn().Panels[2], "768 Байт.");
    EXPECT_EQ(Drawn().BlockCount, "3");
    EXPECT_EQ(Drawn().Flash, TFlash::None);
    EXPECT_EQ(face.Clears, 1);  // the dialog shows the name that failed again
}

TEST_F(WindowLogic, AnUploadShowsProgressMismatchesAndTheOutcomeThenALoadResetsTheBar) {
    Load(300);
    Open();
    logic.Btn_z_zelkClick();
    ASSERT_EQ(line.Writes.size(), 1u);
    EXPECT_EQ(line.Writes[0], (std::vector<std::uint8_t>{0x55, 0x55, 0x55}));
    EXPECT_EQ(Drawn().SendCaption, "СТОП");
    EXPECT_FALSE(Drawn().LoadEnabled);
    EXPECT_EQ(Drawn().Panels[1], "Отправка");
    EXPECT_EQ(Drawn().ProgressMax, 512);
    Replies({0x05, 0xF4, 0x05, 0x06, 0x05, 0x06});
    EXPECT_EQ(Drawn().ErrorCount, "1");
    EXPECT_EQ(Drawn().ProgressPosition, 32);
    std::vector<std::uint8_t> rest = CleanReplies(2);
    rest.erase(rest.begin(), rest.begin() + 4);  // the header and the first data packet went already
    Replies(rest);
    EXPECT_EQ(Drawn().Panels[1], "Отправка Завершена.");
    EXPECT_EQ(Drawn().SendCaption, "РС -> ЗЕЛК");
    EXPECT_TRUE(Drawn().LoadEnabled);
    EXPECT_EQ(Drawn().Flash, TFlash::Success);
    EXPECT_EQ(Drawn().ProgressPosition, 512);
    EXPECT_EQ(line.Writes.size(), 1u + 1u + 18u);  // burst, the rejected header again, 2 pages
    Load(40, "next.rom");
    EXPECT_EQ(Drawn().ProgressPosition, 0);
    EXPECT_EQ(Drawn().FileName, "next.rom");
}

// A bar whose maximum is 0 shows no progress but a busy indicator.
TEST_F(WindowLogic, AnEmptyFileShowsAnEmptyBar) {
    Load(0);
    Open();
    logic.Btn_z_zelkClick();
    EXPECT_EQ(Drawn().SendCaption, "СТОП");
    EXPECT_EQ(Drawn().ProgressMax, 1);
    EXPECT_EQ(Drawn().ProgressPosition, 0);
}

TEST_F(WindowLogic, ADroppedFileIsRefusedWhileATransferRuns) {
    Load(300);
    Open();
    logic.Btn_z_zelkClick();
    const std::string other = files.Make("other.rom", 1000);
    EXPECT_FALSE(logic.CanLoad());
    EXPECT_FALSE(logic.FileDropped(other));
    EXPECT_EQ(logic.Transfer().FileLen(), 512);
    EXPECT_EQ(Drawn().FileName, "program.rom");
    logic.Btn_z_zelkClick();  // stop
    EXPECT_EQ(Drawn().Panels[1], "Отправка Остановлена!");
    EXPECT_TRUE(logic.FileDropped(other));
    EXPECT_EQ(logic.Transfer().FileLen(), 1024);
    EXPECT_EQ(Drawn().FileName, "other.rom");
    EXPECT_EQ(face.Dialogs, 1);  // a drop needs no dialog
}

// The dialog was open when a transfer started (a click queued behind it, a
// second window's message): the file chosen then is not loaded, and the
// transfer keeps the bytes it sends.
TEST_F(WindowLogic, AFileChosenInADialogThatWasOpenAsATransferStartedIsNotLoaded) {
    Load(300);
    Open();
    face.Answers.push_back(files.Make("other.rom", 1000));
    face.WhileOpen = [this] { logic.Btn_z_zelkClick(); };
    logic.FileOpen1Execute();
    EXPECT_EQ(Drawn().SendCaption, "СТОП");
    EXPECT_EQ(logic.Transfer().FileLen(), 512);
    EXPECT_EQ(Drawn().FileName, "program.rom");
    EXPECT_EQ(Drawn().BlockCount, "2");
    EXPECT_EQ(Drawn().Panels[1], "Отправка");
    EXPECT_TRUE(face.Errors.empty());
}

TEST_F(WindowLogic, APortFailureMidTransferFailsItClosesThePortAndSaysWhy) {
    Load(300);
    Open();
    logic.Btn_z_zelkClick();
    line.Reply({0x05});
    line.Calls.OnError(EComPortError(TPortErrorKind::IoFailure, "Error reading port COM1",
                                     "/dev/ttyS0: the device hung up", EIO));
    EXPECT_FALSE(line.Open);
    EXPECT_FALSE(logic.Transfer().Running());
    EXPECT_EQ(Drawn().Panels[0], "СОМ-порт Закрыт.");
    EXPECT_EQ(Drawn().Panels[1], "Ошибка при отправке!");
    EXPECT_EQ(Drawn().PortCaption, "Открыть");
    EXPECT_EQ(Drawn().SendCaption, "РС -> ЗЕЛК");
    EXPECT_FALSE(Drawn().SendEnabled);
    EXPECT_TRUE(Drawn().LoadEnabled);
    EXPECT_EQ(Drawn().Flash, TFlash::Failure);
    ASSERT_EQ(face.Errors.size(), 1u);
    EXPECT_EQ(face.Errors[0], (TErrorReport{"Error reading port COM1.", "/dev/ttyS0: the device hung up"}));
}

TEST_F(WindowLogic, AWriteThePortRefusesFailsTheTransferAsAHangUpDoes) {
    Load(300);
    Open();
    logic.Btn_z_zelkClick();
    line.WriteError = EComPortError(TPortErrorKind::IoFailure, "Error writing port COM1", "/dev/ttyS0: EIO", EIO);
    line.Reply({0x05});
    EXPECT_FALSE(line.Open);
    EXPECT_EQ(Drawn().Panels[1], "Ошибка при отправке!");
    ASSERT_EQ(face.Errors.size(), 1u);
    EXPECT_EQ(face.Errors[0].Text, "Error writing port COM1.");
}

TEST_F(WindowLogic, APortFailureWithNoTransferRunningLeavesTheOperationStatusAlone) {
    Load(300);
    Open();
    line.Calls.OnError(EComPortError(TPortErrorKind::IoFailure, "Error reading port COM1",
                                     "/dev/ttyS0: the device hung up", EIO));
    EXPECT_EQ(Drawn().Panels[1], "Файл прочитан.");
    EXPECT_EQ(Drawn().Panels[0], "СОМ-порт Закрыт.");
    EXPECT_FALSE(line.Open);
    EXPECT_EQ(face.Errors.size(), 1u);
}

TEST_F(WindowLogic, TheFlashRestartsWithEachOutcomeAndTheTimerPutsTheColourBack) {
    logic.StartBoxChange("01");
    EXPECT_EQ(Drawn().Panels[1], "Ошибка Адреса!");
    EXPECT_EQ(Drawn().Flash, TFlash::Failure);
    EXPECT_TRUE(face.TimerRunning);
    EXPECT_EQ(face.TimerStarts, 1);
    logic.StartBoxChange("0100h");  // passes: clears the text, no flash of its own
    EXPECT_EQ(Drawn().Panels[1], "");
    EXPECT_EQ(face.TimerStarts, 1);
    Open();  // a second outcome: its colour, and five seconds from now
    EXPECT_EQ(Drawn().Flash, TFlash::Success);
    EXPECT_EQ(face.TimerStarts, 2);
    logic.tmr1Timer();
    EXPECT_EQ(Drawn().Flash, TFlash::None);
    EXPECT_FALSE(face.TimerRunning);
    EXPECT_EQ(Drawn().Panels[0], "СОМ-порт Открыт.");  // the colour alone goes
}

TEST_F(WindowLogic, CommandLineOptionsGoThroughTheSameIntents) {
    TWindowOptions options;
    options.Port = 5;
    options.Baud = 57600;
    options.Start = "0000h";
    options.File = files.Make("program.rom", 300);
    logic.ApplyOptions(options);
    EXPECT_EQ(Drawn().PortNumber, 5);
    EXPECT_EQ(Drawn().SpeedIndex, 8);
    EXPECT_EQ(Drawn().SpeedText, "br57600");
    EXPECT_EQ(Drawn().StartText, "0000h");
    EXPECT_EQ(Drawn().Panels[1], "Файл прочитан.");
    EXPECT_EQ(Drawn().FileName, "program.rom");
    EXPECT_EQ(face.Dialogs, 0);
    logic.BtnComClick();
    EXPECT_EQ(line.Number, 5);
    EXPECT_EQ(line.Baud, 57600);
    // A start text like the one there is no change, so no check runs.
    TWindowLogic fresh(face, FakePorts(line), {});
    fresh.ShowAll();
    const int starts = face.TimerStarts;
    fresh.ApplyOptions({std::nullopt, std::nullopt, std::string("0100h"), std::nullopt});
    EXPECT_EQ(face.TimerStarts, starts);
}

TEST_F(WindowLogic, TheDeviceLabelFollowsTheNumberAndTheDevicesPresent) {
    SetEnv("ZELK_COM4", files.Folder() + "/tty4");
    TSerialDevice usb;
    usb.Number = 4;
    usb.Path = files.Folder() + "/tty4";
    usb.Product = "FT232R USB UART";
    logic.PortNumberChanged(4);
    EXPECT_EQ(Drawn().Device.Path, files.Folder() + "/tty4");
    EXPECT_FALSE(Drawn().Device.Present);
    EXPECT_NE(Drawn().Device.Hint.find("Устройства нет (absent)."), std::string::npos);
    EXPECT_NE(Drawn().Device.Hint.find("Последовательных устройств нет."), std::string::npos);
    devices.push_back(usb);
    logic.PortNumberChanged(4);  // watched: a number change does not look again
    EXPECT_FALSE(Drawn().Device.Present);
    logic.DevicesChanged();
    EXPECT_TRUE(Drawn().Device.Present);
    EXPECT_EQ(Drawn().Device.Hint, files.Folder() + "/tty4\n\nПоследовательные устройства:\nCOM4  " + usb.Path +
                                       "  FT232R USB UART");
    logic.PortNumberChanged(25);
    EXPECT_EQ(Drawn().PortNumber, 20);
    for (const int below : {0, -3}) {
        logic.PortNumberChanged(below);
        EXPECT_EQ(Drawn().PortNumber, 1) << below;
    }
    SetEnv("ZELK_COM4", "");
}

TEST(ErrorReport, DotIsAppendedOnlyAfterCharactersAboveTheDot) {
    EXPECT_EQ(ErrorBoxText("Error opening port COM7"), "Error opening port COM7.");
    EXPECT_EQ(ErrorBoxText("Done."), "Done.");
    EXPECT_EQ(ErrorBoxText("Stop!"), "Stop!");
    EXPECT_EQ(ErrorBoxText("a-"), "a-");   // '-' is 0x2D
    EXPECT_EQ(ErrorBoxText("a/"), "a/.");  // '/' is 0x2F
    EXPECT_EQ(ErrorBoxText("ends 0"), "ends 0.");
    EXPECT_EQ(ErrorBoxText("Ошибка"), "Ошибка.");
    EXPECT_EQ(ErrorBoxText("note \xF0\x9F\x92\xBE"), "note \xF0\x9F\x92\xBE.");
    EXPECT_EQ(ErrorBoxText(""), "");
}

TEST(ErrorReport, AdviceFollowsTheKindOfPortError) {
    const TErrorReport denied = ErrorReportFor(
        EComPortError(TPortErrorKind::PermissionDenied, "Error opening port COM5", "/dev/ttyUSB0: Permission denied", 13));
    EXPECT_EQ(denied.Text, "Error opening port COM5.");
    EXPECT_EQ(denied.Detail.rfind("/dev/ttyUSB0: Permission denied", 0), 0u);
#ifdef _WIN32
    EXPECT_EQ(denied.Detail, "/dev/ttyUSB0: Permission denied");  // no group to join on Windows
#else
    EXPECT_NE(denied.Detail.find("sudo usermod -aG dialout $USER"), std::string::npos);
#endif
    // The same code of another kind gets no advice: the kind decides.
    const TErrorReport inUse =
        ErrorReportFor(EComPortError(TPortErrorKind::InUse, "Error opening port COM5", "in use: minicom, pid 7", 13));
    EXPECT_EQ(inUse.Detail, "in use: minicom, pid 7");
    const TErrorReport io = ErrorReportFor(EInOutError("Cannot read file /tmp/x: Is a directory"));
    EXPECT_EQ(io.Text, "Cannot read file /tmp/x: Is a directory.");
    EXPECT_TRUE(io.Detail.empty());
}

#ifndef _WIN32
TEST(ErrorReport, SystemCodesMapToKinds) {
    EXPECT_EQ(EComPortError("m", "d", ENOENT).Kind, TPortErrorKind::NotFound);
    EXPECT_EQ(EComPortError("m", "d", ENODEV).Kind, TPortErrorKind::NotFound);
    EXPECT_EQ(EComPortError("m", "d", EACCES).Kind, TPortErrorKind::PermissionDenied);
    EXPECT_EQ(EComPortError("m", "d", EBUSY).Kind, TPortErrorKind::InUse);
    EXPECT_EQ(EComPortError("m", "d", EIO).Kind, TPortErrorKind::IoFailure);
    EXPECT_EQ(EComPortError("m", "d", EINVAL).Kind, TPortErrorKind::SettingsRefused);
    EXPECT_EQ(EComPortError("m", "d", 0).Kind, TPortErrorKind::Other);
}
#endif

}  // namespace
}  // namespace zelk::test
