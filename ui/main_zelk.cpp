// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "ui/main_zelk.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTabWidget>
#include <QUrl>
#include <algorithm>
#include <array>
#include <vector>

#include "ui/ABOUT.h"
#include "ui/fils_io.h"
#include "ui/status_bar.h"
#include "ui/texts.h"
#include "ui/up_down.h"

namespace zelk {

namespace {

// "СОМ" in these texts is Cyrillic; the label "COM" is Latin.
constexpr const char* kCaption = "ЗЕЛК Вектор06Ц";
constexpr const char* kOpen = "Открыть";
constexpr const char* kClose = "Закрыть";
constexpr const char* kPortOpened = "СОМ-порт Открыт.";
constexpr const char* kPortClosed = "СОМ-порт Закрыт.";
constexpr const char* kSpeedNotInList = "Скорость не из списка!";


// Geometry the window was laid out for; anchored controls keep their
// distances to the edges of this client area.
constexpr QRect kPanel1Rect{0, 0, 481, 25};
constexpr QRect kPageControlRect{0, 32, 481, 174};
constexpr int kStatusHeight = 19;

template <class W>
W* Place(W* widget, const char* name, int left, int top, int width, int height) {
    widget->setObjectName(name);
    widget->setGeometry(left, top, width, height);
    return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* text, int left, int top, int width, int height) {
    QLabel* label = Place(new QLabel(QString::fromUtf8(text), parent), name, left, top, width, height);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLineEdit* MakeReadOnlyEdit(QWidget* parent, const char* name, const char* text, const char* hint, int left,
                            int top, int width, int height) {
    QLineEdit* edit = Place(new QLineEdit(QString::fromUtf8(text), parent), name, left, top, width, height);
    edit->setReadOnly(true);
    edit->setToolTip(QString::fromUtf8(hint));
    return edit;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text, const char* hint, int left, int top,
                        int width, int height) {
    QPushButton* button = Place(new QPushButton(QString::fromUtf8(text), parent), name, left, top, width, height);
    button->setToolTip(QString::fromUtf8(hint));
    return button;
}

QComboBox* MakeEditableCombo(QWidget* parent, const char* name, const QStringList& items, int selected, int left,
                             int top, int width, int height) {
    QComboBox* combo = Place(new QComboBox(parent), name, left, top, width, height);
    combo->setEditable(true);
    // Typed text never becomes an item; it selects one only by matching it.
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->addItems(items);
    combo->setCurrentIndex(selected);
    return combo;
}

// The label's hint: the device, then every serial device present with its number.
QString DeviceToolTip(const std::string& path, bool present, const std::vector<TSerialDevice>& devices) {
    QString tip = QString::fromStdString(path);
    // The path alone on the first line, whatever follows.
    if (!present) tip += QString::fromUtf8("\nУстройства нет (absent).");
    tip += devices.empty() ? QString::fromUtf8("\n\nПоследовательных устройств нет.")
                           : QString::fromUtf8("\n\nПоследовательные устройства:");
    for (const TSerialDevice& d : devices) {
        tip += '\n' + QString::fromStdString((d.Number > 0 ? PortName(d.Number) : std::string("-")) + "  " + d.Path);
        if (const std::string what = DeviceDescription(d); !what.empty()) tip += "  " + QString::fromStdString(what);
    }
    return tip;
}

QFont WindowFont() {
    // The nearest to Windows' bold "System" face that has Cyrillic letters.
    QFont font;
    font.setFamilies({"Liberation Sans", "Arial", "DejaVu Sans"});
    font.setPixelSize(13);
    font.setBold(true);
    return font;
}

// The one local file dropped; empty for anything else.
QString DroppedFile(const QMimeData* mime) {
    if (!mime || !mime->hasUrls() || mime->urls().size() != 1) return {};
    return mime->urls().constFirst().toLocalFile();
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
    setObjectName("Form1");
    setWindowTitle(QString::fromUtf8(kCaption));
    setFont(WindowFont());
    resize(kClientWidth, kClientHeight);
    move(286, 267);
    setAcceptDrops(true);

    auto* panel = new QFrame(this);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1 = Place<QWidget>(panel, "Panel1", kPanel1Rect.x(), kPanel1Rect.y(), kPanel1Rect.width(),
                            kPanel1Rect.height());
    Label4 = MakeLabel(Panel1, "Label4", "COM", 53, 3, 31, 16);
    EdtCom = MakeReadOnlyEdit(Panel1, "EdtCom", "1", "Номер СОМ-порта", 88, 0, 25, 24);
    UDCom = Place(new TUpDown(1, 20, 1, Panel1), "UDCom", 113, 0, 24, 24);
    UDCom->setToolTip("Изменить номер СОМ-порта");
    UDCom->Associate(EdtCom);
    CB_Speed = MakeEditableCombo(Panel1, "CB_Speed",
                                 {"br1200", "br2400", "br4800", "br9600", "br14400", "br19200", "br38400", "br56000",
                                  "br57600", "br115200"},
                                 9, 152, 0, 105, 24);
    CB_Speed->setMaxVisibleItems(10);
    BtnCom = MakeButton(Panel1, "BtnCom", kOpen, "Открыть/Закрыть СОМ-порт", 272, 0, 81, 25);
    LblDevice = MakeLabel(Panel1, "LblDevice", "", 358, 4, 94, 17);
    BtnH = MakeButton(Panel1, "BtnH", "?", "", 456, 0, 25, 25);

    PageControl1 = Place(new QTabWidget(this), "PageControl1", kPageControlRect.x(), kPageControlRect.y(),
                         kPageControlRect.width(), kPageControlRect.height());
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName("TabSheet1");
    TabSheet2 = new QWidget;
    TabSheet2->setObjectName("TabSheet2");
    PageControl1->addTab(TabSheet1, "Загрузчик");
    PageControl1->addTab(TabSheet2, "ЗЕЛК");
    PageControl1->setCurrentWidget(TabSheet1);

    Edt_z_name = MakeReadOnlyEdit(TabSheet1, "Edt_z_name", "", "Имя файла", 24, 16, 169, 24);
    Btn_z_open = MakeButton(TabSheet1, "Btn_z_open", "Открыть файл", "Выбрать файл для  выгрузки в ЗЕЛК", 200, 16,
                            129, 25);
    Btn_z_zelk = MakeButton(TabSheet1, "Btn_z_zelk", texts::kSendCaption, "Выгрузить файл в ЗЕЛК", 352, 8, 113, 41);
    Btn_z_zelk->setEnabled(false);
    Label1 = MakeLabel(TabSheet1, "Label1", "Начальный Адрес в ОЗУ:", 24, 59, 169, 16);
    StartBox = MakeEditableCombo(TabSheet1, "StartBox", {"0000h", "0100h"}, 1, 200, 56, 73, 24);
    StartBox->lineEdit()->setMaxLength(5);
    Label2 = MakeLabel(TabSheet1, "Label2", "Количество Блоков:", 56, 94, 135, 16);
    Edt_kol = MakeReadOnlyEdit(TabSheet1, "Edt_kol", "0", "Количество выгружаемых Блоков", 200, 88, 49, 24);
    GB_err = Place(new QGroupBox("Ошибки передачи", TabSheet1), "GB_err", 320, 64, 145, 49);
    Label5 = MakeLabel(GB_err, "Label5", "КС :", 32, 20, 26, 16);
    Edt_err_ks = MakeReadOnlyEdit(GB_err, "Edt_err_ks", "0", "Кол-во несовпадений контр. суммы за сеанс", 72, 16, 41,
                                  24);
    PBar = Place(new QProgressBar(TabSheet1), "PBar", 8, 120, 457, 17);
    PBar->setRange(0, 100);
    PBar->setValue(0);
    PBar->setTextVisible(false);

    Label3 = MakeLabel(TabSheet2, "Label3", "Зарезервировано :)", 160, 64, 134, 16);

    stat1 = Place(new TStatusBar(this), "stat1", 0, kClientHeight - kStatusHeight, kClientWidth, kStatusHeight);
    // Plain weight for the status texts and the device, which are no
    // captions; the status bar in the size of a system status font, so that
    // the longest texts ("Отправка Остановлена!") fit their panels.
    QFont plainFont = font();
    plainFont.setBold(false);
    LblDevice->setFont(plainFont);
    QFont statusFont = plainFont;
    statusFont.setPixelSize(12);
    stat1->setFont(statusFont);
    stat1->SetPanelText(0, QString::fromUtf8(kPortClosed));

    auto watcher = std::make_unique<TPortWatcher>();
    TPortWatcher* udev = watcher.get();
    WatchDevices({ListSerialDevices, udev->Fd(), [udev] { return udev->Drain(); }}, std::move(watcher));
    errorBox_ = [this](const TErrorReport& report) { ShowErrorBox(this, report); };

    // Without a watch (no udev) the list is looked at afresh instead.
    connect(UDCom, &TUpDown::PositionChanged, this,
            [this] { Guarded([this] { deviceNotifier_ ? ShowDevice() : RefreshDevices(); }); });
    connect(BtnCom, &QPushButton::clicked, this, [this] { Guarded([this] { BtnComClick(); }); });
    connect(BtnH, &QPushButton::clicked, this, [this] { Guarded([this] { HelpAbout1Execute(); }); });
    connect(Btn_z_open, &QPushButton::clicked, this, [this] { Guarded([this] { FileOpen1Execute(); }); });
    connect(Btn_z_zelk, &QPushButton::clicked, this, [this] { Guarded([this] { Btn_z_zelkClick(); }); });
    // Connected last: the initial text is no change.
    connect(StartBox, &QComboBox::editTextChanged, this, [this] { Guarded([this] { StartBoxChange(); }); });
}

TForm1::~TForm1() { Port.reset(); }

void TForm1::Attach(TAboutBox& aboutBox, TForm2& form2) {
    aboutBox_ = &aboutBox;
    form2_ = &form2;
    connect(&form2.tmr1, &QTimer::timeout, this, [this] { tmr1Timer(*stat1, form2_->tmr1); });
}

void TForm1::SetErrorBox(TErrorBox errorBox) { errorBox_ = std::move(errorBox); }

void TForm1::Guarded(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& error) {
        errorBox_(ErrorReportFor(error));
    }
}

void TForm1::WatchDevices(TDeviceWatch watch, std::unique_ptr<TPortWatcher> owner) {
    deviceNotifier_.reset();
    portWatcher_ = std::move(owner);
    deviceWatch_ = std::move(watch);
    if (deviceWatch_.Fd >= 0) {
        deviceNotifier_ = std::make_unique<QSocketNotifier>(deviceWatch_.Fd, QSocketNotifier::Read);
        connect(deviceNotifier_.get(), &QSocketNotifier::activated, this, [this] {
            Guarded([this] {
                if (deviceWatch_.Drain && deviceWatch_.Drain()) RefreshDevices();
            });
        });
    }
    RefreshDevices();
}

void TForm1::RefreshDevices() {
    devices_ = deviceWatch_.List ? deviceWatch_.List() : std::vector<TSerialDevice>{};
    ShowDevice();
}

// The device behind the number, greyed when it is not there; it follows
// adapters plugged in and out as the watch reports them.
void TForm1::ShowDevice() {
    const int number = UDCom->Position();
    const std::string device = DevicePathForPort(number);
    const bool present = PortPresence(number, device, devices_) == TPresence::Present;
    const QString path = QString::fromStdString(device);
    LblDevice->setText(QFontMetrics(LblDevice->font()).elidedText(path, Qt::ElideLeft, LblDevice->width()));
    QPalette colors = palette();
    if (!present) colors.setColor(QPalette::WindowText, colors.color(QPalette::Disabled, QPalette::WindowText));
    LblDevice->setPalette(colors);
    LblDevice->setToolTip(DeviceToolTip(device, present, devices_));
}

void TForm1::BtnComClick() {
    if (BtnCom->text() == kOpen) {
        const int index = CB_Speed->currentIndex();
        if (index < 0 || index >= static_cast<int>(std::size(kBaudRates)) ||
            CB_Speed->currentText() != CB_Speed->itemText(index)) {
            SetStatusText(1, kSpeedNotInList);
            FlashStatus(true);
            return;
        }
        Port = std::make_unique<TComPort>(UDCom->Position(), kBaudRates[index], mainThread_.Invoker());
        Port->SetOnRead([this](TReadThread*, std::vector<std::uint8_t> bytes) { OnRead(bytes); });
        Port->SetOnError([this](const EComPortError& error) { PortFailed(error); });
        SetStatusText(0, kPortOpened);
        BtnCom->setText(kClose);
        FlashStatus(false);
        PortOpen = true;
        if (FileLoaded) Btn_z_zelk->setEnabled(true);
    } else {
        ClosePort();
    }
}

void TForm1::ClosePort() {
    Port.reset();
    SetStatusText(0, kPortClosed);
    BtnCom->setText(kOpen);
    PortOpen = false;
    Btn_z_zelk->setEnabled(false);
    FlashStatus(true);
}

void TForm1::PortFailed(const std::exception& error) {
    transfer_.PortFailed();
    if (Port) ClosePort();
    errorBox_(ErrorReportFor(error));
}

void TForm1::FileOpen1Execute() {
    const std::optional<QString> path = form2_->dlgOpen1->Execute();
    LoadChosen(path);
    form2_->dlgOpen1->ClearFileName();
}

void TForm1::LoadPath(const QString& path) {
    Guarded([&] { LoadChosen(path); });
}

bool TForm1::CanLoad() const { return Btn_z_open->isEnabled(); }

void TForm1::LoadChosen(const std::optional<QString>& path) {
    // A load that fails with an error changes nothing: the file loaded
    // before stays loaded, with its length, texts and send button.
    std::int32_t fileLen = 0;
    const bool failed = !path || LoadFilePath(*path, transfer_.Image, fileLen, *Edt_z_name);
    transfer_.FileLen = fileLen;
    PBar->setValue(0);
    if (failed) {
        SetStatusText(1, texts::kFileNotRead);
        stat1->SetPanelText(2, {});
        FileLoaded = false;
        Btn_z_zelk->setEnabled(false);
    } else {
        SetStatusText(1, texts::kFileRead);
        stat1->SetPanelText(2, QString::number(transfer_.FileLen) + QString::fromUtf8(texts::kBytesSuffix));
        FileLoaded = true;
        if (PortOpen) Btn_z_zelk->setEnabled(true);
    }
    Edt_kol->setText(QString::number(BlockCount(transfer_.FileLen)));
    FlashStatus(failed);
}

void TForm1::StartBoxChange() {
    if (ValidStartText(StartBoxText())) {
        SetStatusText(1, "");
    } else {
        SetStatusText(1, texts::kAddressError);
        FlashStatus(true);
    }
}

void TForm1::HelpAbout1Execute() { aboutBox_->exec(); }

void TForm1::Btn_z_zelkClick() { transfer_.Btn_z_zelkClick(); }

void TForm1::OnRead(std::span<const std::uint8_t> bytes) {
    try {
        transfer_.OnRead(bytes);
    } catch (const std::exception& error) {
        // A packet the port refused while replies came in.
        PortFailed(error);
    }
}

std::string TForm1::StartBoxText() const { return StartBox->currentText().toStdString(); }

void TForm1::SetStatusText(int panel, const std::string& text) {
    stat1->SetPanelText(panel, QString::fromStdString(text));
}

std::string TForm1::ZelkCaption() const { return Btn_z_zelk->text().toStdString(); }

void TForm1::SetZelkCaption(const std::string& caption) {
    Btn_z_zelk->setText(QString::fromStdString(caption));
    // A load while a transfer runs would change the bytes it sends.
    Btn_z_open->setEnabled(caption != texts::kStopCaption);
}

void TForm1::SetPBarMax(int max) {
    // A range of 0..0 would turn the bar into a busy indicator; an empty
    // file shows an empty bar instead.
    PBar->setMaximum(std::max(max, 1));
}

void TForm1::SetPBarPosition(int position) {
    // setValue repaints at once, before returning, whenever the bar's look
    // changes; a 32-byte step of a large file often moves it by less than a
    // pixel, and repainting regardless would hold up every reply.
    PBar->setValue(position);
}

void TForm1::SetErrCountText(const std::string& text) { Edt_err_ks->setText(QString::fromStdString(text)); }

void TForm1::FlashStatus(bool failed) { zelk::FlashStatus(*stat1, form2_->tmr1, failed); }

bool TForm1::Write(std::span<const std::uint8_t> bytes) {
    if (!Port) return false;
    Port->Write(bytes);
    return true;
}

void TForm1::resizeEvent(QResizeEvent* event) {
    const int dw = width() - kClientWidth;
    const int dh = height() - kClientHeight;
    Panel1->resize(std::max(0, kPanel1Rect.width() + dw), kPanel1Rect.height());
    PageControl1->resize(std::max(0, kPageControlRect.width() + dw), std::max(0, kPageControlRect.height() + dh));
    stat1->setGeometry(0, height() - kStatusHeight, width(), kStatusHeight);
    QWidget::resizeEvent(event);
}

// A file dropped on the window loads as if picked in the dialog, and only
// when the dialog's button could be pressed: not while a transfer runs.
void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (CanLoad() && !DroppedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    const QString path = DroppedFile(event->mimeData());
    if (!CanLoad() || path.isEmpty()) return;
    event->acceptProposedAction();
    LoadPath(path);
}

void TForm1::closeEvent(QCloseEvent* event) {
    Port.reset();
    QWidget::closeEvent(event);
}

}  // namespace zelk
