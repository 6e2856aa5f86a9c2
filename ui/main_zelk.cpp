// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "ui/main_zelk.h"

#include <QCloseEvent>
#include <QFile>
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
#include <QSignalBlocker>
#include <QSocketNotifier>
#include <QTabWidget>
#include <QUrl>
#include <algorithm>
#include <array>
#include <vector>

#include "ui/ABOUT.h"
#include "ui/error_box.h"
#include "ui/fils_io.h"
#include "ui/status_bar.h"
#include "window/texts.h"
#include "ui/up_down.h"

namespace zelk {

namespace {

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

QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text, const char* hint, int left, int top,
                        int width, int height) {
    QPushButton* button = Place(new QPushButton(QString::fromUtf8(text), parent), name, left, top, width, height);
    button->setToolTip(QString::fromUtf8(hint));
    return button;
}

template <std::size_t N>
QComboBox* MakeEditableCombo(QWidget* parent, const char* name, const std::array<const char*, N>& items, int selected,
                             int left, int top, int width, int height) {
    QComboBox* combo = Place(new QComboBox(parent), name, left, top, width, height);
    combo->setEditable(true);
    // Typed text never becomes an item; it selects one only by matching it.
    combo->setInsertPolicy(QComboBox::NoInsert);
    for (const char* item : items) combo->addItem(QString::fromUtf8(item));
    combo->setCurrentIndex(selected);
    return combo;
}

QColor ToColor(TRgb rgb) { return QColor(rgb.R, rgb.G, rgb.B); }

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
    using namespace texts;
    setObjectName("Form1");
    setWindowTitle(QString::fromUtf8(kWindowCaption));
    setFont(WindowFont());
    resize(kClientWidth, kClientHeight);
    move(286, 267);
    setAcceptDrops(true);

    auto* panel = new QFrame(this);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1 = Place<QWidget>(panel, "Panel1", kPanel1Rect.x(), kPanel1Rect.y(), kPanel1Rect.width(),
                            kPanel1Rect.height());
    Label4 = MakeLabel(Panel1, "Label4", kComLabel, 53, 3, 31, 16);
    EdtCom = MakeReadOnlyEdit(Panel1, "EdtCom", "1", kPortNumberHint, 88, 0, 25, 24);
    UDCom = Place(new TUpDown(1, 20, 1, Panel1), "UDCom", 113, 0, 24, 24);
    UDCom->setToolTip(QString::fromUtf8(kPortStepHint));
    UDCom->Associate(EdtCom);
    CB_Speed = MakeEditableCombo(Panel1, "CB_Speed", kSpeedItems, kDefaultSpeedIndex, 152, 0, 105, 24);
    CB_Speed->setMaxVisibleItems(10);
    BtnCom = MakeButton(Panel1, "BtnCom", kOpen, kPortButtonHint, 272, 0, 81, 25);
    LblDevice = MakeLabel(Panel1, "LblDevice", "", 358, 4, 94, 17);
    BtnH = MakeButton(Panel1, "BtnH", kHelpCaption, "", 456, 0, 25, 25);

    PageControl1 = Place(new QTabWidget(this), "PageControl1", kPageControlRect.x(), kPageControlRect.y(),
                         kPageControlRect.width(), kPageControlRect.height());
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName("TabSheet1");
    TabSheet2 = new QWidget;
    TabSheet2->setObjectName("TabSheet2");
    PageControl1->addTab(TabSheet1, QString::fromUtf8(kLoaderTab));
    PageControl1->addTab(TabSheet2, QString::fromUtf8(kZelkTab));
    PageControl1->setCurrentWidget(TabSheet1);

    Edt_z_name = MakeReadOnlyEdit(TabSheet1, "Edt_z_name", "", kFileNameHint, 24, 16, 169, 24);
    Btn_z_open = MakeButton(TabSheet1, "Btn_z_open", kOpenFileCaption, kOpenFileHint, 200, 16, 129, 25);
    Btn_z_zelk = MakeButton(TabSheet1, "Btn_z_zelk", kSendCaption, kSendHint, 352, 8, 113, 41);
    Btn_z_zelk->setEnabled(false);
    Label1 = MakeLabel(TabSheet1, "Label1", kStartLabel, 24, 59, 169, 16);
    StartBox = MakeEditableCombo(TabSheet1, "StartBox", kStartItems, kDefaultStartIndex, 200, 56, 73, 24);
    StartBox->lineEdit()->setMaxLength(kStartMaxLength);
    Label2 = MakeLabel(TabSheet1, "Label2", kBlocksLabel, 56, 94, 135, 16);
    Edt_kol = MakeReadOnlyEdit(TabSheet1, "Edt_kol", "0", kBlocksHint, 200, 88, 49, 24);
    GB_err = Place(new QGroupBox(QString::fromUtf8(kErrorsGroup), TabSheet1), "GB_err", 320, 64, 145, 49);
    Label5 = MakeLabel(GB_err, "Label5", kChecksumLabel, 32, 20, 26, 16);
    Edt_err_ks = MakeReadOnlyEdit(GB_err, "Edt_err_ks", "0", kChecksumHint, 72, 16, 41, 24);
    PBar = Place(new QProgressBar(TabSheet1), "PBar", 8, 120, 457, 17);
    PBar->setRange(0, 100);
    PBar->setValue(0);
    PBar->setTextVisible(false);

    Label3 = MakeLabel(TabSheet2, "Label3", kReserved, 160, 64, 134, 16);

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

    errorBox_ = [this](const TErrorReport& report) { ShowErrorBox(this, report); };
    TWindowFace& face = *this;
    logic_ = std::make_unique<TWindowLogic>(face, ComPortFactory(mainThread_.Invoker()), TDeviceSource{});
    auto watcher = std::make_unique<TPortWatcher>();
    TPortWatcher* udev = watcher.get();
    WatchDevices({ListSerialDevices, udev->Fd(), [udev] { return udev->Drain(); }}, std::move(watcher));
    logic_->ShowAll();

    connect(UDCom, &TUpDown::PositionChanged, this, [this](int n) { logic_->PortNumberChanged(n); });
    connect(CB_Speed, &QComboBox::currentIndexChanged, this,
            [this] { logic_->SpeedChanged(CB_Speed->currentIndex(), CB_Speed->currentText().toStdString()); });
    connect(CB_Speed, &QComboBox::editTextChanged, this,
            [this] { logic_->SpeedChanged(CB_Speed->currentIndex(), CB_Speed->currentText().toStdString()); });
    connect(BtnCom, &QPushButton::clicked, this, [this] {
        logic_->BtnComClick(UDCom->Position(), CB_Speed->currentIndex(), CB_Speed->currentText().toStdString());
    });
    connect(BtnH, &QPushButton::clicked, this, [this] { logic_->HelpAbout1Execute(); });
    connect(Btn_z_open, &QPushButton::clicked, this, [this] { logic_->FileOpen1Execute(); });
    connect(Btn_z_zelk, &QPushButton::clicked, this, [this] { logic_->Btn_z_zelkClick(); });
    // Connected last: the initial text is no change.
    connect(StartBox, &QComboBox::editTextChanged, this,
            [this](const QString& text) { logic_->StartBoxChange(text.toStdString()); });
}

TForm1::~TForm1() { logic_.reset(); }

void TForm1::Attach(TAboutBox& aboutBox, TForm2& form2) {
    aboutBox_ = &aboutBox;
    form2_ = &form2;
    connect(&form2.tmr1, &QTimer::timeout, this, [this] { logic_->tmr1Timer(); });
}

void TForm1::SetErrorBox(TErrorBox errorBox) { errorBox_ = std::move(errorBox); }

void TForm1::WatchDevices(TDeviceWatch watch, std::unique_ptr<TPortWatcher> owner) {
    deviceNotifier_.reset();
    portWatcher_ = std::move(owner);
    deviceWatch_ = std::move(watch);
    if (deviceWatch_.Fd >= 0) {
        deviceNotifier_ = std::make_unique<QSocketNotifier>(deviceWatch_.Fd, QSocketNotifier::Read);
        connect(deviceNotifier_.get(), &QSocketNotifier::activated, this, [this] {
            if (deviceWatch_.Drain && deviceWatch_.Drain()) logic_->DevicesChanged();
        });
    }
    // Without a watch (no udev) the list is looked at afresh with each number.
    logic_->SetDeviceSource({deviceWatch_.List, deviceNotifier_ != nullptr});
}

void TForm1::Show(const TWindowState& state, unsigned changes) {
    if (changes & kChangePortCaption) BtnCom->setText(Text(state.PortCaption));
    if (changes & kChangeSendButton) {
        Btn_z_zelk->setText(Text(state.SendCaption));
        Btn_z_zelk->setEnabled(state.SendEnabled);
    }
    if (changes & kChangeLoadEnabled) Btn_z_open->setEnabled(state.LoadEnabled);
    if (changes & kChangePanels)
        for (int i = 0; i < TStatusBar::kPanelCount; ++i)
            stat1->SetPanelText(i, Text(state.Panels[static_cast<std::size_t>(i)]));
    if (changes & kChangeFlash)
        stat1->SetColor(state.Flash == TFlash::Failure   ? ToColor(kFailureRgb)
                        : state.Flash == TFlash::Success ? ToColor(kSuccessRgb)
                                                         : stat1->NormalColor());
    if (changes & kChangeFile) {
        Edt_z_name->setText(QFile::decodeName(QByteArray::fromStdString(state.FileName)));
        Edt_kol->setText(Text(state.BlockCount));
    }
    if (changes & kChangeErrorCount) Edt_err_ks->setText(Text(state.ErrorCount));
    if (changes & kChangeProgress) {
        if (PBar->maximum() != state.ProgressMax) PBar->setMaximum(state.ProgressMax);
        // setValue repaints at once, before returning, whenever the bar's
        // look changes; a 32-byte step of a large file often moves it by
        // less than a pixel, and then nothing is painted.
        PBar->setValue(state.ProgressPosition);
    }
    if (changes & kChangeStartText) {
        const QSignalBlocker quiet(StartBox);
        if (StartBox->currentText() != Text(state.StartText)) StartBox->setEditText(Text(state.StartText));
    }
    if (changes & kChangePortNumber) {
        const QSignalBlocker quiet(UDCom);
        UDCom->SetPosition(state.PortNumber);
    }
    if (changes & kChangeSpeed) {
        const QSignalBlocker quiet(CB_Speed);
        if (CB_Speed->currentIndex() != state.SpeedIndex) CB_Speed->setCurrentIndex(state.SpeedIndex);
        if (CB_Speed->currentText() != Text(state.SpeedText)) CB_Speed->setEditText(Text(state.SpeedText));
    }
    if (changes & kChangeDevice) {
        const QString path = Text(state.Device.Path);
        LblDevice->setText(QFontMetrics(LblDevice->font()).elidedText(path, Qt::ElideLeft, LblDevice->width()));
        QPalette colors = palette();
        if (!state.Device.Present)
            colors.setColor(QPalette::WindowText, colors.color(QPalette::Disabled, QPalette::WindowText));
        LblDevice->setPalette(colors);
        LblDevice->setToolTip(Text(state.Device.Hint));
    }
}

void TForm1::ShowError(const TErrorReport& report) { errorBox_(report); }

void TForm1::ShowAbout() {
    if (aboutBox_) aboutBox_->exec();
}

// The open-file dialog and the flash timer live on TForm2; a window used
// before Attach has neither, and going on would drop a file choice or a
// flash without a word.
TForm2& TForm1::Form2() const {
    if (form2_ == nullptr) qFatal("TForm1 used before Attach: no TForm2, so no dlgOpen1 and no tmr1");
    return *form2_;
}

std::optional<std::string> TForm1::ChooseFile() {
    const std::optional<QString> path = Form2().dlgOpen1->Execute();
    if (!path) return std::nullopt;
    return QFile::encodeName(*path).toStdString();
}

void TForm1::ClearChosenFile() {
    Form2().dlgOpen1->ClearFileName();
}

void TForm1::StartFlashTimer() {
    Form2().tmr1.start();
}

void TForm1::StopFlashTimer() {
    Form2().tmr1.stop();
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
// when the logic takes a file now (not while a transfer runs).
void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (logic_->CanLoad() && !DroppedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    const QString path = DroppedFile(event->mimeData());
    if (path.isEmpty()) return;
    if (logic_->FileDropped(QFile::encodeName(path).toStdString())) event->acceptProposedAction();
}

void TForm1::closeEvent(QCloseEvent* event) {
    logic_->Closing();
    QWidget::closeEvent(event);
}

}  // namespace zelk
