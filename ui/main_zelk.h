// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

#include "serial/com_port.h"
#include "serial/port_list.h"
#include "transfer/port_link.h"
#include "transfer/transfer.h"
#include "ui/error_box.h"
#include "ui/main_thread.h"
#include "ui/transfer_view.h"
#include "ui/window_ops.h"

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

// The main window: port controls, file loading, start address, the upload
// with its progress and the status bar. It owns the program's one transfer
// and, while open, the serial port.
class TForm1 : public QWidget, public TWindowOps, public TPortLink {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 482;
    static constexpr int kClientHeight = 224;

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

    // The program's one transfer, for observers (state, counters).
    const TTransfer& Transfer() const { return transfer_; }

    void BtnComClick();
    void FileOpen1Execute();
    // Loads path as if it had been picked in the open-file dialog: the same
    // texts, flags and flash; an error shows in the error box.
    void LoadPath(const QString& path);
    // Whether a file may be loaded now: not while a transfer runs.
    bool CanLoad() const;
    void StartBoxChange();
    void HelpAbout1Execute();
    void Btn_z_zelkClick();
    void OnRead(std::span<const std::uint8_t> bytes);
    // The port failed (the device hung up, a write was refused): a running
    // transfer fails, the port closes as "Закрыть" closes it, and the error
    // box says why.
    void PortFailed(const std::exception& error);

    std::string StartBoxText() const override;
    void SetStatusText(int panel, const std::string& text) override;
    std::string ZelkCaption() const override;
    void SetZelkCaption(const std::string& caption) override;
    void SetPBarMax(int max) override;
    void SetPBarPosition(int position) override;
    void SetErrCountText(const std::string& text) override;
    void FlashStatus(bool failed) override;

    bool Write(std::span<const std::uint8_t> bytes) override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Runs a user action; an error ends it and shows the error box.
    void Guarded(const std::function<void()>& action);
    void ShowDevice();
    void RefreshDevices();
    void ClosePort();
    // The load itself; no path (a cancelled dialog) fails as a missing file does.
    void LoadChosen(const std::optional<QString>& path);

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

    TTransferView view_{*this};
    TTransfer transfer_{view_, *this};
    bool FileLoaded = false;
    bool PortOpen = false;

    TDeviceWatch deviceWatch_;
    std::vector<TSerialDevice> devices_;  // present at the last look
    std::unique_ptr<TPortWatcher> portWatcher_;
    std::unique_ptr<QSocketNotifier> deviceNotifier_;  // after the watcher: goes before its fd closes

    TMainThreadRunner mainThread_;
    // Last, so it goes first: its callback reaches into this window.
    std::unique_ptr<TComPort> Port;
};

}  // namespace zelk
