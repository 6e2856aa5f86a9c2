// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// The window's command line: parsing, the controls it sets and the file it
// loads, as the program applies them to a new window.
#include <QComboBox>
#include <QFile>

#include "ui_test_support.h"
#include "window/command_line.h"

namespace zelk::test {
namespace {

TWindowCommandLine Parse(const QStringList& arguments) {
    std::vector<std::string> line{"zelk"};
    for (const QString& a : arguments) line.push_back(QFile::encodeName(a).toStdString());
    return ParseWindowCommandLine(line);
}

void ApplyWindowOptions(TForm1& form, const TWindowOptions& options) { form.Logic().ApplyOptions(options); }

TEST(CommandLine, OptionsSetTheControlsAndTheFileLoads) {
    const TEnvVar noMapping("ZELK_COM5", "");  // empty: the default device
    QTemporaryDir dir;
    const TWindowCommandLine line =
        Parse({"-p", "5", "--baud=57600", "-s", "0000h", MakeFile(dir, "program.rom", 300)});
    ASSERT_EQ(line.Command, TWindowCommand::Run) << line.Error;

    TWindow w;
    ApplyWindowOptions(w.form1, line.Options);
    EXPECT_EQ(w.Text("EdtCom"), "5");
    EXPECT_EQ(w.Find("LblDevice")->toolTip().section('\n', 0, 0), "/dev/ttyUSB0");  // the port's device follows it
    EXPECT_EQ(w.Text("CB_Speed"), "br57600");
    EXPECT_EQ(w.Find<QComboBox>("CB_Speed")->currentIndex(), 8);
    EXPECT_EQ(w.Text("StartBox"), "0000h");
    EXPECT_EQ(w.Text("Edt_z_name"), "program.rom");
    EXPECT_EQ(w.Status(1), "Файл прочитан.");
    EXPECT_EQ(w.Status(2), "512 Байт.");
    EXPECT_EQ(w.Text("Edt_kol"), "2");
    EXPECT_EQ(w.StatusColor(), kSuccessColor);
    EXPECT_TRUE(w.Errors.empty());
}

TEST(CommandLine, StartTextIsCheckedAsTypedTextAndAMissingFileFailsAsInTheDialog) {
    TWindow w;
    ApplyWindowOptions(w.form1, Parse({"-s", "01x0h"}).Options);
    EXPECT_EQ(w.Status(1), "Ошибка Адреса!");
    EXPECT_EQ(w.StatusColor(), kFailColor);

    ApplyWindowOptions(w.form1, Parse({"/nonexistent/missing.rom"}).Options);
    EXPECT_EQ(w.Status(1), "Файл НЕ прочитан!");
    EXPECT_FALSE(w.Enabled("Btn_z_zelk"));
    EXPECT_TRUE(w.Errors.empty());
}

TEST(CommandLine, BadValuesAreUsageErrorsAndHelpOrVersionWin) {
    for (const QStringList& bad : {QStringList{"-p", "0"}, QStringList{"-p", "21"}, QStringList{"--port=x"},
                                   QStringList{"-b", "300"}, QStringList{"-s", "00100h"}, QStringList{"-p"},
                                   QStringList{"a.rom", "b.rom"}, QStringList{"--nope"}}) {
        const TWindowCommandLine line = Parse(bad);
        EXPECT_EQ(line.Command, TWindowCommand::UsageError) << bad.join(' ').toStdString();
        EXPECT_FALSE(line.Error.empty());
    }
    EXPECT_EQ(Parse({"-p", "99", "--help"}).Command, TWindowCommand::Help);
    EXPECT_EQ(Parse({"--version"}).Command, TWindowCommand::Version);
    const TWindowCommandLine none = Parse({});
    EXPECT_EQ(none.Command, TWindowCommand::Run);
    EXPECT_FALSE(none.Options.Port || none.Options.Baud || none.Options.Start || none.Options.File);
}

TEST(CommandLine, HelpFitsEightyColumns) {
    for (const QString& line : QString::fromStdString(WindowHelpText()).split('\n'))
        EXPECT_LE(line.size(), 80) << line.toStdString();
}

}  // namespace
}  // namespace zelk::test
