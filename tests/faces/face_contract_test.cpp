// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// What every face of the window must do, written once against the face
// driver and built into each face's test program (Qt offscreen, Win32 under
// Wine): the design's places, texts and hints, the checks, loading, the
// flash, the error box and the about box. The port's own scenarios, which
// need a device behind the port, stay with each face's program.
#include <gtest/gtest.h>

#include <cstdlib>

#include "faces/face_driver.h"
#include "serial/com_port.h"
#include "support/test_files.h"

namespace zelk::test {
namespace {

using namespace std::chrono_literals;
using design::TKind;

constexpr auto kBound = 20s;  // generous: Wine on a loaded machine

// The first line of a text.
std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

::testing::AssertionResult SamePlace(const design::TRect& got, const design::TRect& designed) {
    if (got == designed) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "at " << got.Left << "," << got.Top << " " << got.Width << "x"
                                         << got.Height << ", designed " << designed.Left << "," << designed.Top << " "
                                         << designed.Width << "x" << designed.Height;
}

class FaceContract : public ::testing::Test {
protected:
    std::unique_ptr<TFaceDriver> face = MakeFaceDriver();
};

TEST_F(FaceContract, EveryControlStandsWhereTheDesignPutsIt) {
    EXPECT_EQ(face->Caption(), texts::kWindowCaption);
    EXPECT_EQ(face->Frame().Left, design::kWindowLeft);
    EXPECT_EQ(face->Frame().Top, design::kWindowTop);
    EXPECT_EQ(face->ClientWidth(), design::kClientWidth);
    EXPECT_EQ(face->ClientHeight(), design::kClientHeight);
    for (const design::TControl& c : design::kControls) {
        SCOPED_TRACE(c.Name);
        if (c.Kind == TKind::TabSheet) continue;  // the tab control's page
        const design::TRect place = face->Place(c.Name);
        if (c.Kind == TKind::StatusBar) {
            // Its height is the system's where the toolkit has a status bar of its own.
            EXPECT_EQ(place.Left, c.Rect.Left);
            EXPECT_EQ(place.Width, c.Rect.Width);
            EXPECT_EQ(place.Bottom(), c.Rect.Bottom());
        } else {
            EXPECT_TRUE(SamePlace(place, c.Rect));
        }
    }
    for (const char* name : {"BtnCom", "Label1", "Btn_z_zelk"}) {
        EXPECT_EQ(face->Font(name).PixelHeight, design::kWindowFont.PixelHeight) << name;
        EXPECT_EQ(face->Font(name).Bold, design::kWindowFont.Bold) << name;
    }
    EXPECT_EQ(face->Font("LblDevice").Bold, design::kPlainFont.Bold);
}

TEST_F(FaceContract, EveryControlStartsWithItsTextHintAndState) {
    for (const design::TControl& c : design::kControls) {
        SCOPED_TRACE(c.Name);
        if (std::string_view(c.Name) == "LblDevice") continue;  // the device's, below
        if (c.Kind == TKind::Label || c.Kind == TKind::Edit || c.Kind == TKind::Button ||
            c.Kind == TKind::ComboBox || c.Kind == TKind::GroupBox) {
            EXPECT_EQ(face->Text(c.Name), c.Text);
        }
        if (c.Kind != TKind::TabSheet) {
            EXPECT_EQ(face->Hint(c.Name), c.Hint);
        }
    }
    EXPECT_EQ(face->Text("LblDevice"), DevicePathForPort(1));
    EXPECT_EQ(FirstLine(face->Hint("LblDevice")), DevicePathForPort(1));

    for (const char* name : {"EdtCom", "Edt_z_name", "Edt_kol", "Edt_err_ks"}) EXPECT_TRUE(face->ReadOnly(name)) << name;
    EXPECT_FALSE(face->Enabled("Btn_z_zelk"));
    for (const char* name : {"EdtCom", "UDCom", "CB_Speed", "BtnCom", "BtnH", "Btn_z_open", "StartBox"})
        EXPECT_TRUE(face->Enabled(name)) << name;

    EXPECT_EQ(face->Tabs(), (std::vector<std::string>{texts::kLoaderTab, texts::kZelkTab}));
    EXPECT_TRUE(face->Visible("TabSheet1"));
    EXPECT_FALSE(face->Visible("TabSheet2"));

    for (const char* name : {"CB_Speed", "StartBox"}) {
        SCOPED_TRACE(name);
        const design::TControl& c = *design::FindControl(design::kControls, name);
        EXPECT_EQ(face->Items(name), std::vector<std::string>(c.Items.begin(), c.Items.end()));
        EXPECT_EQ(face->Selected(name), c.Selected);
    }
    EXPECT_EQ(face->Minimum("UDCom"), design::kFirstPort);
    EXPECT_EQ(face->Maximum("UDCom"), design::kLastPort);
    EXPECT_EQ(face->Position("UDCom"), 1);
    EXPECT_EQ(face->Minimum("PBar"), 0);
    EXPECT_EQ(face->Maximum("PBar"), 100);
    EXPECT_EQ(face->Position("PBar"), 0);

    // The initial address text is no change: panel 1 starts empty.
    EXPECT_EQ(face->Panel(0), texts::kPortClosed);
    EXPECT_EQ(face->Panel(1), "");
    EXPECT_EQ(face->Panel(2), "");
    EXPECT_EQ(face->StatusColor(), face->NormalColor());
    EXPECT_FALSE(face->FlashRunning());
    face->Screenshot("idle");
}

TEST_F(FaceContract, AnchoredControlsFollowTheWindowSize) {
    face->Resize(600, 300);
    EXPECT_TRUE(SamePlace(face->Place("Panel1"), {0, 0, 599, 25}));
    EXPECT_TRUE(SamePlace(face->Place("BtnH"), {456, 0, 25, 25}));
    EXPECT_TRUE(SamePlace(face->Place("PageControl1"), {0, 32, 599, 250}));
    EXPECT_TRUE(SamePlace(face->Place("Btn_z_zelk"), {352, 8, 113, 41}));
    EXPECT_EQ(face->Place("stat1").Width, 600);
    EXPECT_EQ(face->Place("stat1").Bottom(), 300);
    face->Resize(design::kClientWidth, design::kClientHeight);
    EXPECT_TRUE(SamePlace(face->Place("PageControl1"), {0, 32, 481, 174}));
    EXPECT_EQ(face->Place("stat1").Bottom(), design::kClientHeight);
}

TEST_F(FaceContract, PortNumberStaysWithinItsRangeAndShowsItsDevice) {
    face->Step(-1);
    EXPECT_EQ(face->Text("EdtCom"), "1");
    EXPECT_EQ(face->Position("UDCom"), 1);
    face->Step(+1);
    EXPECT_EQ(face->Text("EdtCom"), "2");
    EXPECT_EQ(face->Text("LblDevice"), DevicePathForPort(2));
    EXPECT_EQ(FirstLine(face->Hint("LblDevice")), DevicePathForPort(2));
    for (int i = 0; i < 25; ++i) face->Step(+1);
    EXPECT_EQ(face->Text("EdtCom"), "20");
    EXPECT_EQ(face->Position("UDCom"), 20);
    EXPECT_EQ(FirstLine(face->Hint("LblDevice")), DevicePathForPort(20));
    // The arrow keys in the edit step the number as well.
    face->ArrowKey(-1);
    EXPECT_EQ(face->Text("EdtCom"), "19");
    EXPECT_EQ(face->Position("UDCom"), 19);
    face->ArrowKey(+1);
    face->ArrowKey(+1);
    EXPECT_EQ(face->Text("EdtCom"), "20");
}

TEST_F(FaceContract, AddressCheckPassesOnlyTwoUpperHexDigitsAndZeroZeroH) {
    for (const char* good : {"0100h", "0000h", "FF00h", "1A00h"}) {
        SCOPED_TRACE(good);
        face->Type("StartBox", good);
        EXPECT_EQ(face->Panel(1), "");
        // A passing check does not flash.
        EXPECT_EQ(face->StatusColor(), face->NormalColor());
        EXPECT_FALSE(face->FlashRunning());
    }
    for (const char* bad : {"0100H", "ab00h", "100h", "01000", ""}) {
        SCOPED_TRACE(bad);
        face->Type("StartBox", bad);
        EXPECT_EQ(face->Panel(1), texts::kAddressError);
        EXPECT_EQ(face->StatusColor(), kFailureRgb);
        ASSERT_TRUE(face->FlashRunning());
        face->ExpireFlash();
        EXPECT_EQ(face->StatusColor(), face->NormalColor());
        // The message stays after the flash.
        EXPECT_EQ(face->Panel(1), texts::kAddressError);
    }
    // Choosing an item runs the check as typing does.
    face->Choose("StartBox", 0);
    EXPECT_EQ(face->Text("StartBox"), "0000h");
    EXPECT_EQ(face->Panel(1), "");
    // At most five characters.
    face->Type("StartBox", "0200h7");
    EXPECT_EQ(face->Text("StartBox"), "0200h");
}

TEST_F(FaceContract, SpeedNotInTheListKeepsThePortClosed) {
    for (const char* typed : {"br12345", "", "115200"}) {
        SCOPED_TRACE(typed);
        face->Type("CB_Speed", typed);
        face->Click("BtnCom");
        EXPECT_EQ(face->Panel(1), texts::kSpeedNotInList);
        EXPECT_EQ(face->StatusColor(), kFailureRgb);
        EXPECT_EQ(face->Panel(0), texts::kPortClosed);
        EXPECT_EQ(face->Text("BtnCom"), texts::kOpen);
        EXPECT_TRUE(face->ErrorBoxes().empty());
        face->ExpireFlash();
    }
    // Choosing an item puts its name in the box.
    face->Choose("CB_Speed", 3);
    EXPECT_EQ(face->Text("CB_Speed"), "br9600");
}

TEST_F(FaceContract, PortThatCannotOpenShowsTheErrorBoxAndChangesNothing) {
    face->PortWithNothingBehind(7);
    for (int i = 1; i < 7; ++i) face->Step(+1);
    EXPECT_EQ(FirstLine(face->Hint("LblDevice")), DevicePathForPort(7));
    face->Click("BtnCom");
    const std::vector<TShownBox> boxes = face->ErrorBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Caption, texts::kApplicationTitle);
    // The message, then the system's detail on a line of its own.
    EXPECT_EQ(boxes[0].Text.rfind("Error opening port COM7.\n" + DevicePathForPort(7) + ": ", 0), 0u)
        << boxes[0].Text;
    EXPECT_EQ(face->Panel(0), texts::kPortClosed);
    EXPECT_EQ(face->Panel(1), "");
    EXPECT_EQ(face->Text("BtnCom"), texts::kOpen);
    EXPECT_EQ(face->StatusColor(), face->NormalColor());
    EXPECT_FALSE(face->FlashRunning());
}

TEST_F(FaceContract, LoadingShowsBytesBlocksAndNameAndAFailureKeepsTheName) {
    const TFiles files;
    face->AnswerFileDialog(files.Make("program.rom", 300));
    face->Click("Btn_z_open");
    EXPECT_TRUE(face->LastDialogOpenedEmpty());
    EXPECT_EQ(face->Panel(1), texts::kFileRead);
    EXPECT_EQ(face->Panel(2), "512 Байт.");
    EXPECT_EQ(face->Text("Edt_kol"), "2");
    EXPECT_EQ(face->Text("Edt_z_name"), "program.rom");
    EXPECT_EQ(face->StatusColor(), kSuccessRgb);
    // The port is closed: the send button stays disabled.
    EXPECT_FALSE(face->Enabled("Btn_z_zelk"));

    face->AnswerFileDialog(std::nullopt);
    face->Click("Btn_z_open");
    EXPECT_TRUE(face->LastDialogOpenedEmpty());  // a load that did not fail with an error clears the name
    EXPECT_EQ(face->Panel(1), texts::kFileNotRead);
    EXPECT_EQ(face->Panel(2), "");
    EXPECT_EQ(face->Text("Edt_kol"), "0");
    EXPECT_EQ(face->Text("Edt_z_name"), "program.rom");
    EXPECT_EQ(face->StatusColor(), kFailureRgb);

    face->AnswerFileDialog(files.Make("longfilename.rom", 65535));
    face->Click("Btn_z_open");
    EXPECT_EQ(face->Panel(2), "65536 Байт.");
    EXPECT_EQ(face->Text("Edt_kol"), "256");
    EXPECT_EQ(face->Text("Edt_z_name"), "longfile.rom");

    face->Drop(files.Folder() + "/missing.rom");
    EXPECT_EQ(face->Panel(1), texts::kFileNotRead);
    EXPECT_EQ(face->Text("Edt_kol"), "0");

    face->AnswerFileDialog(files.Make("big.bin", 65536));
    face->Click("Btn_z_open");
    EXPECT_EQ(face->Panel(1), texts::kFileNotRead);
    EXPECT_EQ(face->Text("Edt_z_name"), "longfile.rom");

    face->AnswerFileDialog(files.Make("empty.rom", 0));
    face->Click("Btn_z_open");
    EXPECT_EQ(face->Panel(1), texts::kFileRead);
    EXPECT_EQ(face->Panel(2), "0 Байт.");
    EXPECT_EQ(face->Text("Edt_kol"), "0");
    EXPECT_EQ(face->StatusColor(), kSuccessRgb);

    // A dropped file loads as a chosen one.
    face->Drop(files.Make("dropped.rom", 10));
    EXPECT_EQ(face->Text("Edt_z_name"), "dropped.rom");
    EXPECT_EQ(face->Panel(2), "256 Байт.");
    EXPECT_TRUE(face->ErrorBoxes().empty());
}

TEST_F(FaceContract, FileThatCannotBeReadShowsTheErrorBoxAndChangesNoText) {
    const TFiles files;
    face->AnswerFileDialog(files.Make("a.rom", 700));
    face->Click("Btn_z_open");
    face->ExpireFlash();
    face->Drop(files.Folder());  // a folder: it exists but cannot be read as a file
    const std::vector<TShownBox> boxes = face->ErrorBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Caption, texts::kApplicationTitle);
    EXPECT_NE(boxes[0].Text.find(files.Folder()), std::string::npos) << boxes[0].Text;
    EXPECT_EQ(boxes[0].Text.back(), '.');
    EXPECT_EQ(boxes[0].Text.find('\n'), std::string::npos);  // no detail: one line
    EXPECT_EQ(face->Panel(1), texts::kFileRead);
    EXPECT_EQ(face->Panel(2), "768 Байт.");
    EXPECT_EQ(face->Text("Edt_kol"), "3");
    EXPECT_EQ(face->StatusColor(), face->NormalColor());
}

// The real timer: five seconds from the latest outcome.
TEST_F(FaceContract, FlashLastsFiveSecondsFromTheLatestOutcome) {
    const TFiles files;
    const std::string file = files.Make("b.rom", 10);
    face->Type("StartBox", "01");
    EXPECT_EQ(face->StatusColor(), kFailureRgb);
    face->WaitFor([] { return false; }, 1s);
    EXPECT_EQ(face->StatusColor(), kFailureRgb);
    const auto loaded = std::chrono::steady_clock::now();
    face->AnswerFileDialog(file);
    face->Click("Btn_z_open");
    EXPECT_EQ(face->StatusColor(), kSuccessRgb);
    EXPECT_EQ(face->Panel(1), texts::kFileRead);
    ASSERT_TRUE(face->WaitFor([&] { return face->StatusColor() == face->NormalColor(); }, kBound));
    EXPECT_GE(std::chrono::steady_clock::now() - loaded, std::chrono::milliseconds(design::kFlashMs) - 500ms);
    EXPECT_FALSE(face->FlashRunning());
    EXPECT_EQ(face->Panel(1), texts::kFileRead);
}

TEST_F(FaceContract, AboutBoxComesModallyFromTheQuestionButtonCentredOnTheWindow) {
    const TAboutView about = face->ShowAbout();
    EXPECT_EQ(about.Caption, texts::kAboutCaption);
    EXPECT_EQ(about.ClientWidth, design::kAboutWidth);
    EXPECT_EQ(about.ClientHeight, design::kAboutHeight);
    for (const design::TControl& c : design::kAboutControls) {
        SCOPED_TRACE(c.Name);
        ASSERT_TRUE(about.Places.contains(c.Name));
        const design::TRect place = about.Places.at(c.Name);
        EXPECT_EQ(place.Left, c.Rect.Left);
        EXPECT_EQ(place.Top, c.Rect.Top);
        if (c.Kind != TKind::Label || *c.Text == '\0') {
            EXPECT_EQ(place.Width, c.Rect.Width);
            EXPECT_EQ(place.Height, c.Rect.Height);
        } else {
            // Nothing cut off inside the panel.
            EXPECT_LE(place.Right(), design::kAboutControls[0].Rect.Width - 2);
        }
        EXPECT_EQ(about.Texts.at(c.Name), c.Text);
    }
    const design::TRect window = face->Frame();
    EXPECT_LE(std::abs((about.Frame.Left + about.Frame.Right()) - (window.Left + window.Right())), 2);
    EXPECT_LE(std::abs((about.Frame.Top + about.Frame.Bottom()) - (window.Top + window.Bottom())), 2);
    EXPECT_TRUE(about.Modal);
    EXPECT_TRUE(about.OkIsDefault);
    EXPECT_TRUE(about.OkHasFocus);
    EXPECT_TRUE(about.Accepted);
}

}  // namespace
}  // namespace zelk::test
