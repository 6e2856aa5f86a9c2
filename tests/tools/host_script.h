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

namespace zelk::emu::test {

using TBytes = std::vector<std::uint8_t>;

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

// Sync, bytes 1 and 2, body in bytes 3..34, checksum of bytes 1..34.
inline TBytes Packet(std::uint8_t b1, std::uint8_t b2, const std::uint8_t* body = nullptr) {
    TBytes p(36, 0);
    p[0] = 0xE6;
    p[1] = b1;
    p[2] = b2;
    if (body != nullptr) std::copy(body, body + 32, p.begin() + 3);
    unsigned sum = 0;
    for (int i = 1; i <= 34; ++i) sum += p[i];
    p[35] = static_cast<std::uint8_t>(sum);
    return p;
}

// Every packet of an upload of image (whole pages) at start page s.
inline std::vector<TBytes> PacketsFor(const TBytes& image, std::uint8_t s) {
    const std::size_t pages = image.size() / 256;
    const auto c = static_cast<std::uint8_t>(pages);
    std::vector<TBytes> packets;
    auto block = static_cast<std::uint8_t>(s + 2 * c);
    for (std::size_t k = 0; k < pages; ++k, --block) {
        if (k == 0) {
            std::uint8_t body[32]{};
            body[29] = s;
            body[30] = c;
            body[31] = c;
            packets.push_back(Packet(0, 0, body));
        } else {
            packets.push_back(Packet(0, block));
        }
        for (int j = 0; j < 8; ++j)
            packets.push_back(Packet(static_cast<std::uint8_t>(j == 0 ? 8 : j), block, &image[256 * k + 32 * j]));
    }
    return packets;
}

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
    for (std::size_t i = 0; i < packets.size();) {
        // A request always comes alone, also after a 06 05 chunk, whose 05 does not count.
        TBytes p = packets[i];
        if (corruptOnce.erase(i) != 0) ++p[35];
        const TBytes reply = Exchange(host, p);
        if (reply == kRej) {
            ++played.Rejections;
            continue;
        }
        if (reply == TBytes{0x06, 0x05}) {
            ++played.AckWithRequest;
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
