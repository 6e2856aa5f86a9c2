// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "ui_test_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "ui/up_down.h"

namespace zelk::test {

std::optional<QString> TScriptedDialog::Execute() {
    ++Runs;
    OpenedEmpty = Name.isEmpty();
    if (Answers.empty()) throw std::runtime_error("the file dialog ran unexpectedly");
    std::optional<QString> answer = Answers.front();
    Answers.pop_front();
    if (answer) Name = QFileInfo(*answer).fileName();
    return answer;
}

TWindow::TWindow() {
    auto dialog = std::make_unique<TScriptedDialog>();
    Dialog = dialog.get();
    form2.dlgOpen1 = std::move(dialog);
    form1.Attach(aboutBox, form2);
    form1.SetErrorBox([this](const TErrorReport& report) {
        Errors.push_back({QString::fromStdString(report.Text), QString::fromStdString(report.Detail)});
    });
}

QString TWindow::Text(const char* name) const {
    QWidget* w = Find(name);
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
    if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
    if (auto* combo = qobject_cast<QComboBox*>(w)) return combo->currentText();
    if (auto* box = qobject_cast<QGroupBox*>(w)) return box->title();
    throw std::runtime_error(std::string("no text in ") + name);
}

void TWindow::Click(const char* name) const { Find<QAbstractButton>(name)->click(); }

void TWindow::ExpireFlash() {
    ASSERT_TRUE(form2.tmr1.isActive());
    ASSERT_TRUE(QMetaObject::invokeMethod(&form2.tmr1, "timeout", Qt::DirectConnection));
}

void TWindow::Load(std::optional<QString> path) {
    Dialog->Answers.push_back(std::move(path));
    Click("Btn_z_open");
}

void TWindow::SetStartText(const QString& text) const { Find<QComboBox>("StartBox")->setEditText(text); }

bool TWindow::Drop(const QString& path) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter({10, 10}, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&form1, &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&form1, &drop);
    return enter.isAccepted();
}

void TWindow::SetPortNumber(int number) const { Find<TUpDown>("UDCom")->SetPosition(number); }

TEnvVar::TEnvVar(std::string name, const std::string& value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    ::setenv(name_.c_str(), value.c_str(), 1);
}

TEnvVar::~TEnvVar() {
    if (old_)
        ::setenv(name_.c_str(), old_->c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

QString MakeFile(const QTemporaryDir& dir, const QString& name, int size) {
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i) data[i] = static_cast<char>(i * 7 + 3);
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != size)
        throw std::runtime_error("cannot write " + path.toStdString());
    return path;
}

std::vector<std::uint8_t> TPty::Receive(std::size_t count) {
    // Until the port opens the slave side, reads fail with EIO: nothing yet.
    // A short result shows in the caller's comparison.
    [[maybe_unused]] const bool complete = QTest::qWaitFor(
        [&] {
            std::uint8_t chunk[256];
            ssize_t n;
            while ((n = ::read(Master(), chunk, sizeof chunk)) > 0) unread_.insert(unread_.end(), chunk, chunk + n);
            return unread_.size() >= count;
        },
        kLimitMs);
    const std::size_t got = std::min(count, unread_.size());
    std::vector<std::uint8_t> result(unread_.begin(), unread_.begin() + static_cast<std::ptrdiff_t>(got));
    unread_.erase(unread_.begin(), unread_.begin() + static_cast<std::ptrdiff_t>(got));
    return result;
}

unsigned TPty::Baud() const { return LineBaud(Master()); }

}  // namespace zelk::test
