// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// The contract suite's driver for the Qt face: the forms as the program
// creates them, offscreen; the error box is the real one, read instead of run.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include "faces/face_driver.h"
#include "ui/up_down.h"
#include "ui_test_support.h"

namespace zelk::test {
namespace {

design::TRect Design(const QRect& r) { return {r.x(), r.y(), r.width(), r.height()}; }

TRgb Rgb(const QColor& c) {
    return {static_cast<std::uint8_t>(c.red()), static_cast<std::uint8_t>(c.green()),
            static_cast<std::uint8_t>(c.blue())};
}

std::string Utf8(const QString& text) { return text.toStdString(); }

class TQtFaceDriver final : public TFaceDriver {
public:
    TQtFaceDriver() {
        w_.form1.SetErrorBox([this](const TErrorReport& report) {
            const std::unique_ptr<QMessageBox> box = MakeErrorBox(&w_.form1, report);
            EXPECT_EQ(box->icon(), QMessageBox::Critical);
            EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
            EXPECT_TRUE(box->detailedText().isEmpty());  // nothing hidden behind a button
            boxes_.push_back({Utf8(box->windowTitle()), Utf8(box->text())});
        });
    }

    std::string Caption() const override { return Utf8(w_.form1.windowTitle()); }
    design::TRect Frame() const override { return Design(w_.form1.frameGeometry()); }
    int ClientWidth() const override { return w_.form1.width(); }
    int ClientHeight() const override { return w_.form1.height(); }
    design::TFont Font(std::string_view control) const override {
        const QFont font = Find(control)->font();
        return {font.pixelSize(), font.bold()};
    }
    design::TRect Place(std::string_view control) const override { return Design(Find(control)->geometry()); }
    std::string Text(std::string_view control) const override { return Utf8(w_.Text(Name(control).c_str())); }
    std::string Hint(std::string_view control) const override { return Utf8(Find(control)->toolTip()); }
    bool Enabled(std::string_view control) const override { return Find(control)->isEnabled(); }
    bool ReadOnly(std::string_view control) const override {
        return w_.Find<QLineEdit>(Name(control).c_str())->isReadOnly();
    }
    bool Visible(std::string_view control) const override { return Find(control)->isVisibleTo(&w_.form1); }
    std::vector<std::string> Items(std::string_view combo) const override {
        const auto* box = w_.Find<QComboBox>(Name(combo).c_str());
        std::vector<std::string> items;
        for (int i = 0; i < box->count(); ++i) items.push_back(Utf8(box->itemText(i)));
        return items;
    }
    int Selected(std::string_view combo) const override {
        return w_.Find<QComboBox>(Name(combo).c_str())->currentIndex();
    }
    std::vector<std::string> Tabs() const override {
        const auto* tabs = w_.Find<QTabWidget>("PageControl1");
        std::vector<std::string> captions;
        for (int i = 0; i < tabs->count(); ++i) captions.push_back(Utf8(tabs->tabText(i)));
        return captions;
    }
    int Minimum(std::string_view control) const override {
        if (const auto* upDown = qobject_cast<TUpDown*>(Find(control))) return upDown->Minimum();
        return w_.Find<QProgressBar>(Name(control).c_str())->minimum();
    }
    int Maximum(std::string_view control) const override {
        if (const auto* upDown = qobject_cast<TUpDown*>(Find(control))) return upDown->Maximum();
        return w_.Find<QProgressBar>(Name(control).c_str())->maximum();
    }
    int Position(std::string_view control) const override {
        if (const auto* upDown = qobject_cast<TUpDown*>(Find(control))) return upDown->Position();
        return w_.Find<QProgressBar>(Name(control).c_str())->value();
    }
    std::string Panel(int panel) const override { return Utf8(w_.Status(panel)); }
    TRgb StatusColor() const override { return Rgb(w_.StatusColor()); }
    TRgb NormalColor() const override { return Rgb(w_.NormalColor()); }
    bool FlashRunning() const override { return w_.form2.tmr1.isActive(); }
    void ExpireFlash() override { w_.ExpireFlash(); }

    void Click(std::string_view button) override { w_.Click(Name(button).c_str()); }
    void Step(int delta) override {
        w_.Find<TUpDown>("UDCom")->findChild<QAbstractButton*>(delta > 0 ? "Up" : "Down")->click();
    }
    void ArrowKey(int delta) override { QTest::keyClick(Find("EdtCom"), delta > 0 ? Qt::Key_Up : Qt::Key_Down); }
    void Type(std::string_view combo, const std::string& text) override {
        w_.Find<QComboBox>(Name(combo).c_str())->setEditText(QString::fromStdString(text));
    }
    void Choose(std::string_view combo, int item) override {
        w_.Find<QComboBox>(Name(combo).c_str())->setCurrentIndex(item);
    }
    void Resize(int clientWidth, int clientHeight) override {
        w_.form1.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w_.form1));
        w_.form1.resize(clientWidth, clientHeight);
        QWidget* status = Find("stat1");
        ASSERT_TRUE(QTest::qWaitFor([&] { return status->geometry().bottom() + 1 == clientHeight; }, kLimitMs));
    }
    void AnswerFileDialog(std::optional<std::string> path) override {
        if (path)
            w_.Dialog->Answers.emplace_back(QString::fromStdString(*path));
        else
            w_.Dialog->Answers.emplace_back(std::nullopt);
    }
    bool LastDialogOpenedEmpty() const override { return w_.Dialog->OpenedEmpty; }
    void Drop(const std::string& path) override { w_.Drop(QString::fromStdString(path)); }
    std::vector<TShownBox> ErrorBoxes() const override { return boxes_; }

    TAboutView ShowAbout() override {
        TAboutBox& about = w_.aboutBox;
        TAboutView view;
        QTimer::singleShot(0, &about, [&] {
            view.Caption = Utf8(about.windowTitle());
            view.ClientWidth = about.width();
            view.ClientHeight = about.height();
            view.Frame = Design(about.frameGeometry());
            for (const design::TControl& c : design::kAboutControls) {
                QWidget* element = about.findChild<QWidget*>(c.Name);
                if (element == nullptr) continue;
                view.Places[c.Name] = Design(element->geometry());
                if (const auto* label = qobject_cast<QLabel*>(element))
                    view.Texts[c.Name] = Utf8(label->text());
                else if (const auto* button = qobject_cast<QAbstractButton*>(element))
                    view.Texts[c.Name] = Utf8(button->text());
                else
                    view.Texts[c.Name] = "";
            }
            auto* ok = about.findChild<QPushButton*>("OKButton");
            view.Modal = QApplication::activeModalWidget() == &about;
            view.OkIsDefault = ok != nullptr && ok->isDefault();
            view.OkHasFocus = ok != nullptr && about.focusWidget() == ok;
            if (ok != nullptr) ok->click();
        });
        w_.Click("BtnH");
        view.Accepted = about.result() == QDialog::Accepted && !about.isVisible();
        return view;
    }

    bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds bound) override {
        return QTest::qWaitFor(done, static_cast<int>(bound.count()));
    }
    void PortWithNothingBehind(int number) override {
        const std::string n = std::to_string(number);
        nothingBehind_ = std::make_unique<TEnvVar>("ZELK_COM" + n, "/nonexistent/zelk-ui-test/tty" + n);
    }

private:
    static std::string Name(std::string_view control) { return std::string(control); }
    QWidget* Find(std::string_view control) const { return w_.Find(Name(control).c_str()); }

    std::unique_ptr<TEnvVar> nothingBehind_;  // before the window: outlives it
    TWindow w_;
    std::vector<TShownBox> boxes_;
};

}  // namespace

std::unique_ptr<TFaceDriver> MakeFaceDriver() { return std::make_unique<TQtFaceDriver>(); }

}  // namespace zelk::test
