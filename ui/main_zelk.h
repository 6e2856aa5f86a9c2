// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "serial/port_list.h"
#include "ui/main_thread.h"
#include "window/window_logic.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSocketNotifier;
class QTabWidget;

namespace zelk {

class TAboutBox;
class TForm2;
class TStatusBar;
class TUpDown;

// The main window's Qt face: the controls, laid out as the window was
// designed, drawing the state of the window's logic and forwarding to it
// what the user does. It decides nothing itself.
class TForm1 : public QWidget, private TWindowFace {
    Q_OBJECT

public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // The about box and the auxiliary form; both must outlive this window.
    void Attach(TAboutBox& aboutBox, TForm2& form2);

    // How errors reach the user; the modal box unless replaced (tests record).
    using TErrorBox = std::function<void(const TErrorReport&)>;
    void SetErrorBox(TErrorBox errorBox);

    // Where the device label learns which serial devices are present: List
    // names them; Fd becomes readable when one may have come or gone, and
    // Drain reads what is waiting and says whether the set changed. The
    // window watches udev unless given another (tests); owner, if any, is
    // kept while watched.
    struct TDeviceWatch {
        std::function<std::vector<TSerialDevice>()> List;
        int Fd = -1;
        std::function<bool()> Drain;
    };
    void WatchDevices(TDeviceWatch watch, std::unique_ptr<TPortWatcher> owner = nullptr);

    TWindowLogic& Logic() { return *logic_; }
    // The program's one transfer, for observers (state, counters).
    const TTransfer& Transfer() const { return logic_->Transfer(); }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // TWindowFace
    void Show(const TWindowState& state, unsigned changes) override;
    void ShowError(const TErrorReport& report) override;
    void ShowAbout() override;
    std::optional<std::string> ChooseFile() override;
    void ClearChosenFile() override;
    void StartFlashTimer() override;
    void StopFlashTimer() override;

    // The attached TForm2; stops the program with a message when there is none.
    TForm2& Form2() const;

    QWidget* Panel1;
    QLabel* Label4;
    QLineEdit* EdtCom;
    TUpDown* UDCom;
    QComboBox* CB_Speed;
    QPushButton* BtnCom;
    QLabel* LblDevice;
    QPushButton* BtnH;
    QTabWidget* PageControl1;
    QWidget* TabSheet1;
    QLineEdit* Edt_z_name;
    QPushButton* Btn_z_open;
    QPushButton* Btn_z_zelk;
    QLabel* Label1;
    QComboBox* StartBox;
    QLabel* Label2;
    QLineEdit* Edt_kol;
    QGroupBox* GB_err;
    QLabel* Label5;
    QLineEdit* Edt_err_ks;
    QProgressBar* PBar;
    QWidget* TabSheet2;
    QLabel* Label3;
    TStatusBar* stat1;

    TAboutBox* aboutBox_ = nullptr;
    TForm2* form2_ = nullptr;
    TErrorBox errorBox_;

    TDeviceWatch deviceWatch_;
    std::unique_ptr<TPortWatcher> portWatcher_;
    std::unique_ptr<QSocketNotifier> deviceNotifier_;  // after the watcher: goes before its fd closes

    TMainThreadRunner mainThread_;
    // After the runner, so it goes first: its port hands calls to the runner.
    std::unique_ptr<TWindowLogic> logic_;
};

}  // namespace zelk
