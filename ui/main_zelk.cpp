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
#include <map>
#include <string_view>
#include <vector>

#include "ui/ABOUT.h"
#include "ui/error_box.h"
#include "ui/fils_io.h"
#include "ui/status_bar.h"
#include "ui/up_down.h"
#include "window/texts.h"
#include "window/window_design.h"

namespace zelk {

namespace {

using design::TKind;

QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }

QRect ToQRect(const design::TRect& r) { return {r.Left, r.Top, r.Width, r.Height}; }

QColor ToColor(TRgb rgb) { return QColor(rgb.R, rgb.G, rgb.B); }

QFont DesignFont(const design::TFont& design) {
    QFont font;
    QStringList families;
    for (const char* family : design::kFontFamilies) families << family;
    font.setFamilies(families);
    font.setPixelSize(design.PixelHeight);
    font.setBold(design.Bold);
    return font;
}

// One control of the design, created in parent.
QWidget* MakeControl(const design::TControl& c, QWidget* parent) {
    const QString text = QString::fromUtf8(c.Text);
    QWidget* widget = nullptr;
    switch (c.Kind) {
    case TKind::Panel: {
        auto* panel = new QFrame(parent);
        panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
        widget = panel;
        break;
    }
    case TKind::Label: {
        auto* label = new QLabel(text, parent);
        label->setTextFormat(Qt::PlainText);
        widget = label;
        break;
    }
    case TKind::Edit: {
        auto* edit = new QLineEdit(text, parent);
        edit->setReadOnly(true);
        widget = edit;
        break;
    }
    case TKind::UpDown:
        widget = new TUpDown(design::kFirstPort, design::kLastPort, design::kFirstPort, parent);
        break;
    case TKind::ComboBox: {
        auto* combo = new QComboBox(parent);
        combo->setEditable(true);
        // Typed text never becomes an item; it selects one only by matching it.
        combo->setInsertPolicy(QComboBox::NoInsert);
        for (const char* item : c.Items) combo->addItem(QString::fromUtf8(item));
        combo->setCurrentIndex(c.Selected);
        widget = combo;
        break;
    }
    case TKind::Button:
        widget = new QPushButton(text, parent);
        break;
    case TKind::TabControl:
        widget = new QTabWidget(parent);
        break;
    case TKind::TabSheet: {
        widget = new QWidget;
        static_cast<QTabWidget*>(parent)->addTab(widget, text);
        break;
    }
    case TKind::GroupBox:
        widget = new QGroupBox(text, parent);
        break;
    case TKind::ProgressBar: {
        auto* bar = new QProgressBar(parent);
        bar->setRange(0, design::kProgressMaximum);
        bar->setValue(0);
        bar->setTextVisible(false);
        widget = bar;
        break;
    }
    case TKind::StatusBar:
        widget = new TStatusBar(parent);
        break;
    }
    widget->setObjectName(c.Name);
    if (c.Kind != TKind::TabSheet) widget->setGeometry(ToQRect(c.Rect));
    if (*c.Hint != '\0') widget->setToolTip(QString::fromUtf8(c.Hint));
    return widget;
}

// The one local file dropped; empty for anything else.
QString DroppedFile(const QMimeData* mime) {
    if (!mime || !mime->hasUrls() || mime->urls().size() != 1) return {};
    return mime->urls().constFirst().toLocalFile();
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
    setObjectName(design::kForm);
    setWindowTitle(QString::fromUtf8(texts::kWindowCaption));
    setFont(DesignFont(design::kWindowFont));
    resize(design::kClientWidth, design::kClientHeight);
    move(design::kWindowLeft, design::kWindowTop);
    setAcceptDrops(true);

    std::map<std::string_view, QWidget*> made{{design::kForm, this}};
    for (const design::TControl& c : design::kControls) made[c.Name] = MakeControl(c, made.at(c.Parent));
    const auto get = [&made]<class W>(W*& member, std::string_view name) { member = static_cast<W*>(made.at(name)); };
    get(Panel1, "Panel1");
    get(Label4, "Label4");
    get(EdtCom, "EdtCom");
    get(UDCom, "UDCom");
    get(CB_Speed, "CB_Speed");
    get(BtnCom, "BtnCom");
    get(LblDevice, "LblDevice");
    get(BtnH, "BtnH");
    get(PageControl1, "PageControl1");
    get(TabSheet1, "TabSheet1");
    get(TabSheet2, "TabSheet2");
    get(Edt_z_name, "Edt_z_name");
    get(Btn_z_open, "Btn_z_open");
    get(Btn_z_zelk, "Btn_z_zelk");
    get(Label1, "Label1");
    get(StartBox, "StartBox");
    get(Label2, "Label2");
    get(Edt_kol, "Edt_kol");
    get(GB_err, "GB_err");
    get(Label5, "Label5");
    get(Edt_err_ks, "Edt_err_ks");
    get(PBar, "PBar");
    get(Label3, "Label3");
    get(stat1, "stat1");

    UDCom->Associate(EdtCom);
    CB_Speed->setMaxVisibleItems(design::kSpeedRows);
    StartBox->lineEdit()->setMaxLength(design::kStartMaxLength);
    PageControl1->setCurrentWidget(TabSheet1);
    // Plain weight for the status texts and the device, which are no captions.
    LblDevice->setFont(DesignFont(design::kPlainFont));
    stat1->setFont(DesignFont(design::kStatusFont));

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
    if (!aboutBox_) return;
    aboutBox_->CentreOn(frameGeometry());
    aboutBox_->exec();
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
    for (const design::TControl& c : design::kControls)
        if (c.Anchors != design::kAnchorLeftTop)
            if (QWidget* control = findChild<QWidget*>(c.Name))
                control->setGeometry(ToQRect(design::Anchored(c, width(), height())));
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
