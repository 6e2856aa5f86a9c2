// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <array>
#include <span>
#include <string_view>

#include "serial/port_range.h"
#include "window/texts.h"

// The window as it was designed, declared once: every control with its
// place, the window's size and position, the status panels, the about box,
// the fonts and the flash time. Both faces build their controls by walking
// these tables; a face holds no number of its own. Places are in pixels at
// 96 DPI, in the client area of the control's parent.
namespace zelk::design {

struct TRect {
    int Left = 0, Top = 0, Width = 0, Height = 0;
    int Right() const { return Left + Width; }
    int Bottom() const { return Top + Height; }
    bool operator==(const TRect&) const = default;
};

enum class TKind {
    Panel,        // a raised panel holding controls
    Label,        // static text
    Edit,         // read-only edit
    UpDown,       // the port number's arrows, bound to the edit before it
    ComboBox,     // editable combo box
    Button,
    TabControl,   // its sheets follow it in the table
    TabSheet,     // a page of the tab control; its place is the tab control's page area
    GroupBox,
    ProgressBar,
    StatusBar,
};

// The edges a control keeps its distance to when the window is resized.
enum TAnchor : unsigned {
    kAnchorLeft = 1u << 0,
    kAnchorTop = 1u << 1,
    kAnchorRight = 1u << 2,
    kAnchorBottom = 1u << 3,
    kAnchorLeftTop = kAnchorLeft | kAnchorTop,
};

struct TControl {
    const char* Name;
    TKind Kind;
    const char* Parent;  // "Form1" for the window itself
    TRect Rect;          // empty for a tab sheet
    const char* Text;    // caption or initial text
    const char* Hint;    // tooltip, "" for none
    unsigned Anchors = kAnchorLeftTop;
    std::span<const char* const> Items = {};  // a combo box's list
    int Selected = -1;                        // its item chosen at first
};

inline constexpr const char* kForm = "Form1";

// Every control of the main window, parents before their children, in the
// order the faces create them (the tab order).
inline constexpr std::array<TControl, 24> kControls{{
    {"Panel1", TKind::Panel, kForm, {0, 0, 481, 25}, "", "", kAnchorLeftTop | kAnchorRight},
    {"Label4", TKind::Label, "Panel1", {53, 3, 31, 16}, texts::kComLabel, ""},
    {"EdtCom", TKind::Edit, "Panel1", {88, 0, 25, 24}, "1", texts::kPortNumberHint},
    {"UDCom", TKind::UpDown, "Panel1", {113, 0, 24, 24}, "", texts::kPortStepHint},
    {"CB_Speed", TKind::ComboBox, "Panel1", {152, 0, 105, 24}, "br115200", "", kAnchorLeftTop, texts::kSpeedItems,
     texts::kDefaultSpeedIndex},
    {"BtnCom", TKind::Button, "Panel1", {272, 0, 81, 25}, texts::kOpen, texts::kPortButtonHint},
    // The device behind the port number, between the port button and "?".
    {"LblDevice", TKind::Label, "Panel1", {358, 4, 94, 17}, "", ""},
    {"BtnH", TKind::Button, "Panel1", {456, 0, 25, 25}, texts::kHelpCaption, ""},
    {"PageControl1", TKind::TabControl, kForm, {0, 32, 481, 174}, "", "",
     kAnchorLeftTop | kAnchorRight | kAnchorBottom},
    {"TabSheet1", TKind::TabSheet, "PageControl1", {}, texts::kLoaderTab, ""},
    {"TabSheet2", TKind::TabSheet, "PageControl1", {}, texts::kZelkTab, ""},
    {"Edt_z_name", TKind::Edit, "TabSheet1", {24, 16, 169, 24}, "", texts::kFileNameHint},
    {"Btn_z_open", TKind::Button, "TabSheet1", {200, 16, 129, 25}, texts::kOpenFileCaption, texts::kOpenFileHint},
    {"Btn_z_zelk", TKind::Button, "TabSheet1", {352, 8, 113, 41}, texts::kSendCaption, texts::kSendHint},
    {"Label1", TKind::Label, "TabSheet1", {24, 59, 169, 16}, texts::kStartLabel, ""},
    {"StartBox", TKind::ComboBox, "TabSheet1", {200, 56, 73, 24}, "0100h", "", kAnchorLeftTop, texts::kStartItems,
     texts::kDefaultStartIndex},
    {"Label2", TKind::Label, "TabSheet1", {56, 94, 135, 16}, texts::kBlocksLabel, ""},
    {"Edt_kol", TKind::Edit, "TabSheet1", {200, 88, 49, 24}, "0", texts::kBlocksHint},
    {"GB_err", TKind::GroupBox, "TabSheet1", {320, 64, 145, 49}, texts::kErrorsGroup, ""},
    {"Label5", TKind::Label, "GB_err", {32, 20, 26, 16}, texts::kChecksumLabel, ""},
    {"Edt_err_ks", TKind::Edit, "GB_err", {72, 16, 41, 24}, "0", texts::kChecksumHint},
    {"PBar", TKind::ProgressBar, "TabSheet1", {8, 120, 457, 17}, "", ""},
    {"Label3", TKind::Label, "TabSheet2", {160, 64, 134, 16}, texts::kReserved, ""},
    {"stat1", TKind::StatusBar, kForm, {0, 205, 482, 19}, "", "", kAnchorLeft | kAnchorRight | kAnchorBottom},
}};

// The control of that name in a table, or nullptr.
const TControl* FindControl(std::span<const TControl> table, std::string_view name);

// The window: where it opens and its client area.
inline constexpr int kWindowLeft = 286;
inline constexpr int kWindowTop = 267;
inline constexpr int kClientWidth = 482;
inline constexpr int kClientHeight = 224;

// Where an anchored control goes when the client area is width x height:
// it keeps its distance to each anchored edge, and stretches between two
// opposite ones (never below zero).
TRect Anchored(const TControl& control, int width, int height);

// The status bar's panels, left to right; the last takes the rest.
inline constexpr std::array<int, 3> kPanelWidths{200, 150, 100};

// Fonts, by pixel height. Windows' bold "System" face has no Cyrillic
// letters elsewhere: the nearest faces that do, the first one present.
struct TFont {
    int PixelHeight;
    bool Bold;
};
inline constexpr std::array<const char*, 3> kFontFamilies{"Liberation Sans", "Arial", "DejaVu Sans"};
inline constexpr TFont kWindowFont{13, true};
// The texts that are no captions: the device label.
inline constexpr TFont kPlainFont{13, false};
// The status texts, in the size of a system status font, so that the
// longest ("Отправка Остановлена!") fit their panels where the face has no
// status font of its own.
inline constexpr TFont kStatusFont{12, false};

// The widest a hint grows before it takes another line (the device's hint
// lists every serial device).
inline constexpr int kHintMaxWidth = 420;

// The progress bar's range before the first load.
inline constexpr int kProgressMaximum = 100;

// The pixels of the design: a face on a screen of another density scales them.
inline constexpr int kDesignDpi = 96;

// The flash of the status bar after an outcome.
inline constexpr int kFlashMs = 5000;

// The port number's range and the speed list (item i is kBaudRates[i]).
inline constexpr int kFirstPort = kFirstPortNumber;
inline constexpr int kLastPort = kLastPortNumber;
inline constexpr int kSpeedRows = 10;  // rows the dropped-down speed list shows
// A combo box's edit field and the rows of its dropped-down list, where
// the toolkit asks for them.
inline constexpr int kComboFieldHeight = 18;
inline constexpr int kListRowHeight = 18;
using texts::kDefaultSpeedIndex;
using texts::kSpeedItems;
// The start address box: its items, the one chosen at first, its length.
using texts::kDefaultStartIndex;
using texts::kStartItems;
using texts::kStartMaxLength;

// The about box: a fixed dialog, centred on the main window, its font in points.
inline constexpr int kAboutWidth = 298;
inline constexpr int kAboutHeight = 218;
inline constexpr int kAboutFontPoints = 8;
// Its elements: the panel holds the rest but the button. A label's width
// and height are room for its text where the face does not size it to fit.
inline constexpr std::array<TControl, 9> kAboutControls{{
    {"Panel1", TKind::Panel, "AboutBox", {8, 8, 281, 161}, "", ""},
    {"ProgramIcon", TKind::Label, "Panel1", {8, 8, 65, 57}, "", ""},
    {"ProductName", TKind::Label, "Panel1", {88, 16, 190, 16}, texts::kAboutProductName, ""},
    {"Version", TKind::Label, "Panel1", {88, 40, 190, 16}, texts::kAboutVersion, ""},
    {"Comments", TKind::Label, "Panel1", {8, 104, 70, 16}, texts::kAboutComments, ""},
    {"Label1", TKind::Label, "Panel1", {80, 104, 199, 16}, texts::kAboutLine1, ""},
    {"Label2", TKind::Label, "Panel1", {80, 120, 199, 16}, texts::kAboutLine2, ""},
    {"LblLicence", TKind::Label, "Panel1", {8, 140, 200, 16}, texts::kAboutLicence, ""},
    {"OKButton", TKind::Button, "AboutBox", {120, 178, 65, 33}, texts::kAboutOk, ""},
}};

// Where a box of width x height goes to stand centred on the owner's frame.
TRect CentredOn(const TRect& owner, int width, int height);

}  // namespace zelk::design
