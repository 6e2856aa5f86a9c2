// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "window/window_design.h"
#include "window/window_logic.h"

// What the contract suite needs of a face: one driver per toolkit (Qt,
// Win32) that presses its controls and reads them back as a user would see
// them. Controls go by the design's names; texts are UTF-8; places are in
// pixels of the design, in the client area of the design's parent.
namespace zelk::test {

// A box the face showed, closed with OK since.
struct TShownBox {
    std::string Caption;
    std::string Text;  // every line of its message
};

// The about box as it came up, closed with OK since.
struct TAboutView {
    std::string Caption;
    int ClientWidth = 0;
    int ClientHeight = 0;
    design::TRect Frame;  // on the screen
    std::map<std::string, design::TRect> Places;
    std::map<std::string, std::string> Texts;
    bool Modal = false;
    bool OkIsDefault = false;
    bool OkHasFocus = false;
    bool Accepted = false;  // it closed with OK
};

class TFaceDriver {
public:
    virtual ~TFaceDriver() = default;

    // The window.
    virtual std::string Caption() const = 0;
    virtual design::TRect Frame() const = 0;  // the outer frame on the screen
    virtual int ClientWidth() const = 0;
    virtual int ClientHeight() const = 0;
    virtual design::TFont Font(std::string_view control) const = 0;
    // A control.
    virtual design::TRect Place(std::string_view control) const = 0;
    virtual std::string Text(std::string_view control) const = 0;
    virtual std::string Hint(std::string_view control) const = 0;
    virtual bool Enabled(std::string_view control) const = 0;
    virtual bool ReadOnly(std::string_view control) const = 0;
    virtual bool Visible(std::string_view control) const = 0;
    virtual std::vector<std::string> Items(std::string_view combo) const = 0;
    virtual int Selected(std::string_view combo) const = 0;
    virtual std::vector<std::string> Tabs() const = 0;
    // An up-down's or a progress bar's range and position.
    virtual int Minimum(std::string_view control) const = 0;
    virtual int Maximum(std::string_view control) const = 0;
    virtual int Position(std::string_view control) const = 0;
    // The status bar: a panel's text and the colour it is drawn in.
    virtual std::string Panel(int panel) const = 0;
    virtual TRgb StatusColor() const = 0;
    virtual TRgb NormalColor() const = 0;
    virtual bool FlashRunning() const = 0;
    // The flash timer runs out now.
    virtual void ExpireFlash() = 0;

    // What a user does.
    virtual void Click(std::string_view button) = 0;
    virtual void Step(int delta) = 0;      // the up-down's arrows, one click each
    virtual void ArrowKey(int delta) = 0;  // the arrow keys in the port number's edit
    // Replaces a combo box's text as typing would, in one change.
    virtual void Type(std::string_view combo, const std::string& text) = 0;
    virtual void Choose(std::string_view combo, int item) = 0;
    virtual void Resize(int clientWidth, int clientHeight) = 0;
    // The next open-file dialog picks path, or is cancelled (nothing).
    virtual void AnswerFileDialog(std::optional<std::string> path) = 0;
    // Whether the file dialog that ran last opened with an empty name field.
    virtual bool LastDialogOpenedEmpty() const = 0;
    virtual void Drop(const std::string& path) = 0;
    // The error boxes shown so far.
    virtual std::vector<TShownBox> ErrorBoxes() const = 0;
    // Presses "?" and reads the about box while it is up.
    virtual TAboutView ShowAbout() = 0;

    // Runs the window's events until done() holds; false when bound passed first.
    virtual bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds bound) = 0;
    // A picture of the window for a person to look at, where the face takes them.
    virtual void Screenshot(const char* /*name*/) {}
    // Sets port number's device to one that does not exist, as far as the face can.
    virtual void PortWithNothingBehind(int number) = 0;
};

// The face's driver over a new window; each face's test program defines it.
std::unique_ptr<TFaceDriver> MakeFaceDriver();

}  // namespace zelk::test
