// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// The window's device label follows adapters plugged in and out. Real udev
// events cannot be made here, so the window watches a pipe instead: a byte
// in it stands for a udev event, and the listing is the test's own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTest>
#include <cstdlib>
#include <iostream>

#include "common/unique_fd.h"
#include "ui/main_zelk.h"
#include "ui/up_down.h"

namespace zelk {
namespace {

constexpr int kLimitMs = 5000;

class DeviceLabel : public ::testing::Test {
protected:
    DeviceLabel() {
        ::setenv("ZELK_COM5", "/dev/zelk-test-no-such-node", 1);
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        read_ = TUniqueFd(fds[0]);
        write_ = TUniqueFd(fds[1]);
        form_.WatchDevices({[this] { return devices_; }, read_.Get(), [this] {
                                char bytes[16];
                                return ::read(read_.Get(), bytes, sizeof bytes) > 0;
                            }});
        form_.findChild<TUpDown*>("UDCom")->SetPosition(5);
        label_ = form_.findChild<QLabel*>("LblDevice");
    }
    ~DeviceLabel() override { ::unsetenv("ZELK_COM5"); }

    bool Greyed() const {
        return label_->palette().color(QPalette::WindowText) ==
               form_.palette().color(QPalette::Disabled, QPalette::WindowText);
    }
    // Changes the devices, reports it as udev would and returns how long the
    // label took to show the device's presence as wanted, in ms; -1 if it never did.
    double Replug(std::vector<TSerialDevice> devices, bool present) {
        devices_ = std::move(devices);
        QElapsedTimer timer;
        timer.start();
        EXPECT_EQ(::write(write_.Get(), "!", 1), 1);
        if (!QTest::qWaitFor([&] { return Greyed() != present; }, kLimitMs)) return -1;
        return static_cast<double>(timer.nsecsElapsed()) / 1e6;
    }

    TUniqueFd read_;
    TUniqueFd write_;
    std::vector<TSerialDevice> devices_;
    TForm1 form_;
    QLabel* label_ = nullptr;
};

TEST_F(DeviceLabel, FollowsPlugAndUnplugWithinASecond) {
    EXPECT_TRUE(Greyed());
    EXPECT_EQ(label_->toolTip().split('\n').first(), "/dev/zelk-test-no-such-node");
    EXPECT_TRUE(label_->toolTip().contains("(absent)"));

    TSerialDevice ftdi;
    ftdi.Number = 5;
    ftdi.Path = "/dev/ttyUSB0";
    ftdi.Product = "FT232R USB UART";
    ftdi.Usb = true;
    for (int round = 0; round < 3; ++round) {
        const double plugged = Replug({ftdi}, true);
        EXPECT_GE(plugged, 0);
        EXPECT_LT(plugged, 1000);
        EXPECT_EQ(label_->toolTip().split('\n').first(), "/dev/zelk-test-no-such-node");
        EXPECT_TRUE(label_->toolTip().contains("COM5  /dev/ttyUSB0  FT232R USB UART")) << label_->toolTip().toStdString();
        const double unplugged = Replug({}, false);
        EXPECT_GE(unplugged, 0);
        EXPECT_LT(unplugged, 1000);
        EXPECT_TRUE(label_->toolTip().contains("(absent)"));
        std::cout << "re-plug " << round << ": plugged shown after " << plugged << " ms, unplugged after "
                  << unplugged << " ms\n";
    }
    // The text stays the path; only its colour tells.
    EXPECT_TRUE(label_->text().endsWith("such-node") && !label_->text().contains("absent"))
        << label_->text().toStdString();
}

}  // namespace
}  // namespace zelk

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
