// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

// A scripted host for the emulator tests: opens the terminal like a serial port
// and builds packets on its own, independent of the transfer core.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "common/unique_fd.h"
#include "support/packets.h"

namespace zelk::emu::test {

using zelk::test::TBytes;

inline const TBytes kBurst{0x55, 0x55, 0x55};
inline const TBytes kReq{0x05};
inline const TBytes kAck{0x06};
inline const TBytes kRej{0xF4};

class THostPort {
public:
    explicit THostPort(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        termios t{};
        if (!fd_ || tcgetattr(fd_.Get(), &t) != 0) {
            ADD_FAILURE() << "cannot open " << path;
            return;
        }
        cfmakeraw(&t);
        tcsetattr(fd_.Get(), TCSANOW, &t);
    }
    int Fd() const { return fd_.Get(); }
    void Write(const TBytes& bytes) {
        EXPECT_EQ(write(fd_.Get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // What one read returns, waiting up to 10 s; empty when nothing came.
    TBytes Read() {
        pollfd p{fd_.Get(), POLLIN, 0};
        if (poll(&p, 1, 10'000) != 1) return {};
        std::uint8_t buf[256];
        const ssize_t n = read(fd_.Get(), buf, sizeof buf);
        return n > 0 ? TBytes(buf, buf + n) : TBytes{};
    }

private:
    TUniqueFd fd_;
};

using zelk::test::Packet;
using zelk::test::PacketsFor;

inline TBytes TestImage(std::size_t size, unsigned seed) {
    TBytes image(size);
    for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(i * 131 + seed + (i >> 8));
    return image;
}

// Waits for a request, sends packet and returns the reply; empty when either is missing.
inline TBytes Exchange(THostPort& host, const TBytes& packet) {
    const TBytes req = host.Read();
    EXPECT_EQ(req, kReq);
    if (req != kReq) return {};
    host.Write(packet);
    return host.Read();
}

struct TPlayed {
    int Rejections = 0;
    int AckWithRequest = 0;  // replies that came as 06 05 in one chunk
};

// Answers every request with the next packet; a packet answered 0xF4 goes
// again. The packets at the indices in corruptOnce go out with a wrong
// checksum the first time.
inline TPlayed PlayAll(THostPort& host, const std::vector<TBytes>& packets, std::set<std::size_t> corruptOnce = {}) {
    TPlayed played;
    bool asked = false;  // the last reply was 06 05: its 05 asks for the next packet
    for (std::size_t i = 0; i < packets.size();) {
        TBytes p = packets[i];
        if (corruptOnce.erase(i) != 0) ++p[35];
        TBytes reply;
        if (asked) {
            host.Write(p);
            reply = host.Read();
        } else {
            reply = Exchange(host, p);
        }
        asked = false;
        if (reply == kRej) {
            ++played.Rejections;
            continue;
        }
        if (reply == TBytes{0x06, 0x05}) {
            ++played.AckWithRequest;
            asked = true;
        } else if (reply != kAck) {
            ADD_FAILURE() << "packet " << i << ": reply of " << reply.size() << " bytes, first "
                          << (reply.empty() ? -1 : reply[0]);
            return played;
        }
        ++i;
    }
    return played;
}

}  // namespace zelk::emu::test
