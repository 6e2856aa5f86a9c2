// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// Opening errors and the line settings the port leaves on the device.
// termios2 comes from <asm/termbits.h>, so <termios.h> must stay out of here.
#include <asm/termbits.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "port_fixture.h"

namespace zelk::test {
namespace {

// Runs make() and returns the EComPortError it throws.
template <typename TMake>
EComPortError ErrorOf(TMake make) {
    try {
        make();
    } catch (const EComPortError& e) {
        return e;
    }
    ADD_FAILURE() << "no EComPortError";
    return EComPortError("");
}

termios2 LineOf(int fd) {
    termios2 tio{};
    EXPECT_EQ(::ioctl(fd, TCGETS2, &tio), 0);
    return tio;
}

using OpenTest = PortTest;

TEST_F(OpenTest, MissingDeviceIsAnOpeningError) {
    ::setenv("ZELK_COM20", "/dev/zelk-no-such-tty", 1);
    const EComPortError e = ErrorOf([&] { Open(); });
    EXPECT_STREQ(e.what(), "Error opening port COM20");
    EXPECT_EQ(e.Detail, "/dev/zelk-no-such-tty: No such file or directory");
    EXPECT_EQ(e.Errno, ENOENT);
}

TEST_F(OpenTest, NumberWithoutDeviceIsAnOpeningError) {
    ::unsetenv("ZELK_COM21");
    const EComPortError e = ErrorOf([&] { TComPort(21, 9600, main.Invoker()); });
    EXPECT_STREQ(e.what(), "Error opening port COM21");
    EXPECT_EQ(e.Errno, ENODEV);
}

TEST_F(OpenTest, PortNamedByItsPathNamesThatPathInMessages) {
    const EComPortError e = ErrorOf([&] { TComPort("/dev/zelk-x", "/dev/zelk-x", 9600, main.Invoker()); });
    EXPECT_STREQ(e.what(), "Error opening port /dev/zelk-x");
}

TEST_F(OpenTest, FileThatIsNoTerminalIsAnOpeningError) {
    std::string path = ::testing::TempDir() + "zelk-not-a-tty-XXXXXX";
    const TUniqueFd file(::mkstemp(path.data()));
    ASSERT_TRUE(file);
    ::setenv("ZELK_COM20", path.c_str(), 1);
    const EComPortError e = ErrorOf([&] { Open(); });
    ::unlink(path.c_str());
    EXPECT_STREQ(e.what(), "Error opening port COM20");
    EXPECT_EQ(e.Detail, path + ": not a terminal");
    EXPECT_EQ(e.Errno, ENOTTY);
}

TEST_F(OpenTest, PortHeldByThisToolIsAnOpeningErrorAndKeepsWorking) {
    const auto first = Open();
    const EComPortError e = ErrorOf([&] { Open(); });
    EXPECT_STREQ(e.what(), "Error opening port COM20");
    // The lock refuses it.
    EXPECT_TRUE(e.Errno == EBUSY || e.Errno == EWOULDBLOCK) << e.Errno;
    EXPECT_EQ(e.Detail.rfind(pty.SlavePath() + ": ", 0), 0u) << e.Detail;

    const auto bytes = Bytes("still mine");
    first->Write(bytes);
    EXPECT_EQ(pty.Receive(bytes.size()), bytes);
}

TEST_F(OpenTest, PortLockedByAnotherProgramIsAnOpeningError) {
    const TUniqueFd other = OpenSlave(pty.SlavePath());
    ASSERT_EQ(::flock(other.Get(), LOCK_EX | LOCK_NB), 0);
    const EComPortError e = ErrorOf([&] { Open(); });
    EXPECT_STREQ(e.what(), "Error opening port COM20");
    EXPECT_EQ(e.Detail, pty.SlavePath() + ": in use by another program");
    EXPECT_EQ(e.Errno, EWOULDBLOCK);

    ASSERT_EQ(::flock(other.Get(), LOCK_UN), 0);
    EXPECT_NO_THROW(Open());
}

// The tty's exclusive-mode flag outlives a killed holder; the port relies on
// its lock alone, which the kernel drops with the process.
TEST_F(OpenTest, ThePortNeverSetsExclusiveMode) {
    const auto port = Open();
    const TUniqueFd other = OpenSlave(pty.SlavePath());
    int exclusive = -1;
    ASSERT_EQ(::ioctl(other.Get(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
}

// Another program that still holds the device in exclusive mode is named,
// and its flag stays as it set it (root could open past it).
TEST_F(OpenTest, ExclusiveHolderIsNamedAndItsFlagLeftAlone) {
    int ready[2];
    int release[2];
    ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(release, O_CLOEXEC), 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        ::close(release[1]);  // so that the parent's close ends the wait below
        const int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
        const char ok = fd >= 0 && ::ioctl(fd, TIOCEXCL) == 0 ? 'y' : 'n';
        [[maybe_unused]] const ssize_t n = ::write(ready[1], &ok, 1);
        char c;
        while (::read(release[0], &c, 1) > 0) {
        }
        ::_exit(0);
    }
    const TUniqueFd readyIn(ready[0]), readyOut(ready[1]), releaseIn(release[0]);
    TUniqueFd releaseOut(release[1]);
    char ok = 'n';
    ASSERT_EQ(::read(readyIn.Get(), &ok, 1), 1);
    ASSERT_EQ(ok, 'y');

    const EComPortError e = ErrorOf([&] { Open(); });
    EXPECT_STREQ(e.what(), "Error opening port COM20");
    EXPECT_EQ(e.Detail, pty.SlavePath() + ": in use by another program: serial_tests, pid " + std::to_string(holder));
    if (::geteuid() == 0) {
        const TUniqueFd probe = OpenSlave(pty.SlavePath());
        int exclusive = 0;
        ASSERT_EQ(::ioctl(probe.Get(), TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 1);
    }
    releaseOut.Reset();
    int status = 0;
    ASSERT_EQ(::waitpid(holder, &status, 0), holder);
}

TEST_F(OpenTest, EveryRateOfTheListIsSetExactly) {
    const TUniqueFd probe = OpenSlave(pty.SlavePath());
    for (const unsigned rate : {1200u, 2400u, 4800u, 9600u, 14400u, 19200u, 38400u, 56000u, 57600u, 115200u}) {
        SCOPED_TRACE(rate);
        const auto port = Open(static_cast<int>(rate));
        const termios2 tio = LineOf(probe.Get());
        EXPECT_EQ(tio.c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER));
        EXPECT_EQ(tio.c_ospeed, rate);
        EXPECT_EQ(tio.c_ispeed, rate);
    }
}

TEST_F(OpenTest, RateThatIsNoRateIsAStateErrorAndFreesThePort) {
    for (const int rate : {0, -9600}) {
        const EComPortError e = ErrorOf([&] { Open(rate); });
        EXPECT_STREQ(e.what(), "Error setting port COM20 state");
        EXPECT_EQ(e.Errno, EINVAL);
    }
    EXPECT_NO_THROW(Open());
}

class LineTest : public PortTest, public ::testing::WithParamInterface<bool> {};

// The device starts out cooked, echoing, with software flow control, two stop
// bits and no CLOCAL; RTS/CTS on or off as the parameter says.
TEST_P(LineTest, LineIsRawEightNoneOneAndKeepsHardwareFlowControl) {
    const bool rtscts = GetParam();
    const TUniqueFd probe = OpenSlave(pty.SlavePath());
    termios2 before = LineOf(probe.Get());
    before.c_iflag |= ICRNL | INLCR | IGNCR | IXON | IXOFF | IXANY | ISTRIP | BRKINT;
    before.c_oflag |= OPOST | ONLCR;
    before.c_lflag |= ECHO | ECHONL | ICANON | ISIG | IEXTEN;
    before.c_cflag |= CSTOPB;
    before.c_cflag &= ~static_cast<tcflag_t>(CLOCAL | CRTSCTS);
    if (rtscts) before.c_cflag |= CRTSCTS;
    ASSERT_EQ(::ioctl(probe.Get(), TCSETS2, &before), 0);

    const auto port = Open(9600);
    const termios2 tio = LineOf(probe.Get());
    EXPECT_EQ(tio.c_iflag & (ICRNL | INLCR | IGNCR | IXON | IXOFF | IXANY | ISTRIP | BRKINT), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_lflag & (ECHO | ECHONL | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CLOCAL | CREAD), static_cast<tcflag_t>(CS8 | CLOCAL | CREAD));
    EXPECT_EQ((tio.c_cflag & CRTSCTS) != 0, rtscts);
    EXPECT_EQ(tio.c_cc[VMIN], 1);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
}

// Closing puts the line back as it was found, rate and every flag, as Qt's
// serial port does: a terminal program used next finds its own settings.
TEST_P(LineTest, ClosingPutsTheLineBackAsItWasFound) {
    const TUniqueFd probe = OpenSlave(pty.SlavePath());
    termios2 before = LineOf(probe.Get());
    before.c_iflag |= ICRNL | IXON;
    before.c_oflag |= OPOST | ONLCR;
    before.c_lflag |= ECHO | ICANON | ISIG;
    before.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT) | CSIZE | CLOCAL | CRTSCTS);
    before.c_cflag |= B4800 | CS7 | PARENB | CSTOPB;
    if (GetParam()) before.c_cflag |= CRTSCTS;
    before.c_cc[VMIN] = 4;
    before.c_cc[VTIME] = 7;
    ASSERT_EQ(::ioctl(probe.Get(), TCSETS2, &before), 0);
    before = LineOf(probe.Get());  // as the driver keeps it
    ASSERT_EQ(before.c_ospeed, 4800u);

    const auto expectFound = [&](const termios2& tio) {
        EXPECT_EQ(tio.c_iflag, before.c_iflag);
        EXPECT_EQ(tio.c_oflag, before.c_oflag);
        EXPECT_EQ(tio.c_cflag, before.c_cflag);
        EXPECT_EQ(tio.c_lflag, before.c_lflag);
        EXPECT_EQ(tio.c_ospeed, before.c_ospeed);
        EXPECT_EQ(tio.c_ispeed, before.c_ispeed);
        for (std::size_t i = 0; i < NCCS; ++i) EXPECT_EQ(tio.c_cc[i], before.c_cc[i]) << "c_cc[" << i << "]";
    };
    {
        const auto port = Open(115200);
        const termios2 open = LineOf(probe.Get());
        EXPECT_EQ(open.c_ospeed, 115200u);
        EXPECT_EQ(open.c_lflag & ICANON, 0u);
        port->Write(Bytes("x"));
        EXPECT_EQ(pty.Receive(1), Bytes("x"));
    }
    expectFound(LineOf(probe.Get()));

}

INSTANTIATE_TEST_SUITE_P(RtsCts, LineTest, ::testing::Bool());

}  // namespace
}  // namespace zelk::test
