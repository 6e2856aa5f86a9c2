// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <gtest/gtest.h>

#include <QColor>
#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/pty_pair.h"
#include "ui/ABOUT.h"
#include "ui/error_box.h"
#include "ui/fils_io.h"
#include "ui/main_zelk.h"
#include "ui/status_bar.h"

namespace zelk::test {

using namespace std::chrono_literals;

// The bound of every wait; reaching it only fails the test.
inline constexpr int kLimitMs = 10000;

// The open-file dialog with answers given in advance.
class TScriptedDialog : public TOpenFileDialog {
public:
    std::optional<QString> Execute() override;
    void ClearFileName() override {
        ++Clears;
        Name.clear();
    }

    std::deque<std::optional<QString>> Answers;
    int Runs = 0;
    int Clears = 0;
    QString Name;              // the name field, as the real dialog keeps it
    bool OpenedEmpty = false;  // the last run began with an empty name field
};

// An error box the window showed, as Qt strings.
struct TShownError {
    QString Text;
    QString Detail;
};

// The three forms as the program creates them; the error box and the file
// dialog are replaced by recorders.
class TWindow {
public:
    TWindow();

    template <class T = QWidget>
    T* Find(const char* name) const {
        T* widget = form1.findChild<T*>(name);
        if (!widget) throw std::runtime_error(std::string("no widget ") + name);
        return widget;
    }

    QString Status(int panel) const { return Find<TStatusBar>("stat1")->PanelText(panel); }
    QColor StatusColor() const { return Find<TStatusBar>("stat1")->Color(); }
    QColor NormalColor() const { return Find<TStatusBar>("stat1")->NormalColor(); }
    QString Text(const char* name) const;
    bool Enabled(const char* name) const { return Find(name)->isEnabled(); }
    void Click(const char* name) const;
    // The flash timer running out.
    void ExpireFlash();
    // Picks path (or cancels, with nullopt) in the next file dialog and presses "Открыть файл".
    void Load(std::optional<QString> path);
    void SetStartText(const QString& text) const;
    void SetPortNumber(int number) const;
    // Drags path onto the window and drops it there; returns whether the
    // window took the drag.
    bool Drop(const QString& path);

    TForm1 form1;
    TAboutBox aboutBox;
    TForm2 form2;
    TScriptedDialog* Dialog;
    std::vector<TShownError> Errors;
};

// Sets an environment variable for the life of the object.
class TEnvVar {
public:
    TEnvVar(std::string name, const std::string& value);
    ~TEnvVar();
    TEnvVar(const TEnvVar&) = delete;
    TEnvVar& operator=(const TEnvVar&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// A file of size bytes (i * 7 + 3 for byte i) in dir; returns its path.
QString MakeFile(const QTemporaryDir& dir, const QString& name, int size);

// A pseudo-terminal: the port opens the slave side, the test plays the
// device on the master side. Waits pump the event loop, so deliveries run.
// The pseudo-terminal of the port tests; waiting for what the port sends runs
// the event loop, so that the window handles replies meanwhile.
class TPty : public TPtyPair {
public:
    void Send(std::initializer_list<std::uint8_t> bytes) const { TPtyPair::Send(std::vector<std::uint8_t>(bytes)); }
    // The next count bytes the port sent; fewer if they do not come in time.
    std::vector<std::uint8_t> Receive(std::size_t count);
    // The baud rate the port set on the line.
    unsigned Baud() const;

private:
    std::vector<std::uint8_t> unread_;
};

unsigned LineBaud(int fd);

}  // namespace zelk::test
