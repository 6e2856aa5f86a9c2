// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "tools/emulator/device_emulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "tools/emulator/device_model.h"
#include "tools/emulator/sha256.h"

namespace zelk::emu {
namespace {

using namespace std::chrono_literals;

constexpr std::uint8_t kBurstByte = 0x55;

[[noreturn]] void ThrowErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

int CheckFd(int fd, const std::string& what) {
    if (fd < 0) ThrowErrno(what);
    return fd;
}

timespec ToTimespec(std::chrono::nanoseconds d) {
    d = std::max(d, std::chrono::nanoseconds{0});
    return {static_cast<time_t>(d / 1s), static_cast<long>((d % 1s).count())};
}

// 8N1, raw, one byte satisfies a read; baud 0 keeps the line's rate.
void MakeRaw(int fd, int baud, const std::string& path) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) ThrowErrno("tcgetattr " + path);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    // glibc takes the plain number as well as the B-constant.
    if (baud > 0 && cfsetspeed(&t, static_cast<speed_t>(baud)) != 0)
        throw std::invalid_argument("unsupported baud rate " + std::to_string(baud));
    if (tcsetattr(fd, TCSANOW, &t) != 0) ThrowErrno("tcsetattr " + path);
}

std::string Millis(std::chrono::nanoseconds d) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f ms", std::chrono::duration<double, std::milli>(d).count());
    return text;
}

}  // namespace

const char* OutcomeName(TOutcome outcome) {
    switch (outcome) {
    case TOutcome::Completed: return "completed";
    case TOutcome::NoHeader: return "no header (empty upload)";
    case TOutcome::Aborted: return "aborted by the injected unexpected reply";
    case TOutcome::Violation: return "protocol violation";
    case TOutcome::Restarted: return "restarted by a new start burst";
    case TOutcome::Stopped: return "stopped";
    case TOutcome::Failed: return "terminal failed";
    }
    return "?";
}

std::string FormatSummary(const TUploadResult& r) {
    std::string s = std::string("upload: ") + OutcomeName(r.Outcome) + "\n";
    if (r.HeaderSeen) {
        const int pages = r.BlockCountByte == 0 ? 256 : r.BlockCountByte;
        s += "start page: " + HexByte(r.StartPage) + "\n";
        s += "block count: " + std::to_string(r.BlockCountByte) + " (" + std::to_string(pages) + " pages)\n";
    } else {
        s += "start page: none (no header came)\nblock count: none\n";
    }
    s += "pages: " + std::to_string(r.Pages) + "\n";
    s += "packets: " + std::to_string(r.PacketsReceived) + " received, " + std::to_string(r.PacketsAccepted) +
         " accepted, " + std::to_string(r.PacketsRejected) + " rejected (" + std::to_string(r.ChecksumErrors) +
         " checksum errors)\n";
    s += "re-requests: " + std::to_string(r.ReRequests) + "\n";
    s += "protocol violations: " + std::to_string(r.Violations.size()) + "\n";
    for (const std::string& v : r.Violations) s += "  " + v + "\n";
    if (const TResponseTimes& times = r.ResponseTimes; !times.Empty()) {
        s += "host response: median " + Millis(times.Percentile(0.5)) + ", 99th percentile " +
             Millis(times.Percentile(0.99)) + ", max " + Millis(times.Max());
        if (times.Sampled())
            s += " (percentiles of " + std::to_string(times.Kept().size()) + " of the " +
                 std::to_string(times.Count()) + " packets, picked at random)";
        s += "\n";
    }
    s += "bytes: " + std::to_string(r.Bytes.size()) + "\n";
    s += "sha256: " + r.Sha256 + "\n";
    if (!r.Error.empty()) s += "error: " + r.Error + "\n";
    return s;
}

TDeviceEmulator::TDeviceEmulator(TEmulatorOptions options) : options_(std::move(options)) {
    if (options_.Baud < 0) throw std::invalid_argument("negative baud rate");
    if (options_.Baud > 0) byteTime_ = std::chrono::nanoseconds(10'000'000'000LL / options_.Baud);
    if (options_.DevicePath.empty())
        OpenPseudoTerminal();
    else
        OpenDevice();
    stop_ = TUniqueFd(CheckFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK), "eventfd"));
    ready_ = TUniqueFd(CheckFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK | EFD_SEMAPHORE), "eventfd"));
    thread_ = std::thread([this] { Run(); });
}

TDeviceEmulator::~TDeviceEmulator() { Stop(); }

void TDeviceEmulator::OpenPseudoTerminal() {
    line_ = TUniqueFd(CheckFd(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC), "posix_openpt"));
    if (grantpt(line_.Get()) != 0 || unlockpt(line_.Get()) != 0) ThrowErrno("unlockpt");
    char name[128];
    if (ptsname_r(line_.Get(), name, sizeof name) != 0) ThrowErrno("ptsname_r");
    path_ = name;
    slave_ = TUniqueFd(CheckFd(open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK), "open " + path_));
    // Raw before the host comes: no echo of its bytes back to it, no line editing.
    MakeRaw(slave_.Get(), 0, path_);
    if (fcntl(line_.Get(), F_SETFL, O_NONBLOCK) != 0) ThrowErrno("fcntl");
}

void TDeviceEmulator::OpenDevice() {
    path_ = options_.DevicePath;
    line_ = TUniqueFd(CheckFd(open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK), "open " + path_));
    MakeRaw(line_.Get(), options_.Baud, path_);
    // A device starts with nothing in flight: bytes a previous user of the
    // terminal left unread, or wrote and the other side has not taken yet,
    // belong to no upload of this one.
    if (tcflush(line_.Get(), TCIOFLUSH) != 0) ThrowErrno("tcflush " + path_);
}

const std::string& TDeviceEmulator::DevicePath() const { return path_; }

void TDeviceEmulator::Stop() {
    if (!thread_.joinable()) return;
    const std::uint64_t one = 1;
    if (write(stop_.Get(), &one, sizeof one) != sizeof one) std::abort();  // an eventfd takes this write
    thread_.join();
}

std::optional<TUploadResult> TDeviceEmulator::TakeResult() {
    std::lock_guard lock(mutex_);
    if (results_.empty()) return std::nullopt;
    TUploadResult r = std::move(results_.front());
    results_.pop_front();
    std::uint64_t one = 0;
    if (read(ready_.Get(), &one, sizeof one) != sizeof one) std::abort();  // counts results_ one for one
    return r;
}

std::optional<TUploadResult> TDeviceEmulator::WaitResult(std::chrono::milliseconds timeout) {
    {
        std::unique_lock lock(mutex_);
        if (!resultCv_.wait_for(lock, timeout, [this] { return !results_.empty(); })) return std::nullopt;
    }
    return TakeResult();
}

int TDeviceEmulator::ResultFd() const { return ready_.Get(); }

void TDeviceEmulator::Publish(TUploadResult result) {
    result.Sha256 = Sha256Hex(result.Bytes);
    {
        std::lock_guard lock(mutex_);
        results_.push_back(std::move(result));
        const std::uint64_t one = 1;
        if (write(ready_.Get(), &one, sizeof one) != sizeof one) std::abort();
    }
    resultCv_.notify_all();
}

void TDeviceEmulator::Run() {
    // The short waits of this thread (0.1 ms checks, the 0.2 ms gap) should not
    // grow by the default 50 us of timer slack.
    prctl(PR_SET_TIMERSLACK, 1000UL);
    bool burstTaken = false;
    try {
        for (;;) {
            if (!burstTaken) WaitForBurst();
            current_.emplace();
            burstTaken = PlayUpload(*current_);
            // The upload's last reply must reach the host before the result
            // is out: a program that exits on it closes the pseudo-terminal's
            // master, which hangs up the slave and throws away what the host
            // has not read yet.
            const TOutcome o = current_->Outcome;
            if (o == TOutcome::Completed || o == TOutcome::Aborted || o == TOutcome::Violation)
                WaitHostTook(TClock::now() + options_.RequestTimeout);
            Publish(std::move(*current_));
            current_.reset();
        }
    } catch (const TStopRequest&) {
        if (current_) {
            current_->Outcome = TOutcome::Stopped;
            Publish(std::move(*current_));
        }
    } catch (const std::exception& e) {
        TUploadResult r = current_ ? std::move(*current_) : TUploadResult{};
        r.Outcome = TOutcome::Failed;
        r.Error = e.what();
        Publish(std::move(r));
    }
}

// Waits for input or the deadline (none: for ever) and appends what came to in_.
// False when the deadline passed first.
bool TDeviceEmulator::Fill(std::optional<TClock::time_point> deadline) {
    pollfd fds[2] = {{line_.Get(), POLLIN, 0}, {stop_.Get(), POLLIN, 0}};
    for (;;) {
        timespec ts{};
        if (deadline) ts = ToTimespec(*deadline - TClock::now());
        const int n = ppoll(fds, 2, deadline ? &ts : nullptr, nullptr);
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowErrno("ppoll");
        }
        if (fds[1].revents != 0) throw TStopRequest{};
        if (n == 0) return false;
        std::uint8_t buf[512];
        const ssize_t got = read(line_.Get(), buf, sizeof buf);
        if (got > 0) {
            // Paced: the last of these bytes is due one byte time after the one before it.
            rxFree_ = std::max(rxFree_, TClock::now()) + got * byteTime_;
            in_.insert(in_.end(), buf, buf + got);
            return true;
        }
        if (got == 0) throw std::runtime_error("end of file on " + path_);
        if (errno != EAGAIN && errno != EINTR) ThrowErrno("read " + path_);
    }
}

void TDeviceEmulator::SleepUntil(TClock::time_point deadline) {
    pollfd fd{stop_.Get(), POLLIN, 0};
    for (;;) {
        const timespec ts = ToTimespec(deadline - TClock::now());
        const int n = ppoll(&fd, 1, &ts, nullptr);
        if (n > 0) throw TStopRequest{};
        if (n == 0) return;
        if (errno != EINTR) ThrowErrno("ppoll");
    }
}

void TDeviceEmulator::Send(std::initializer_list<std::uint8_t> bytes) {
    Send(std::span<const std::uint8_t>(bytes.begin(), bytes.size()));
}

void TDeviceEmulator::Send(std::span<const std::uint8_t> bytes) {
    if (options_.ReplyDelay.count() > 0) SleepUntil(TClock::now() + options_.ReplyDelay);
    if (byteTime_.count() > 0) {
        // The bytes reach the host when their last bit would have crossed the line.
        const auto due = std::max(txFree_, TClock::now()) + static_cast<long>(bytes.size()) * byteTime_;
        SleepUntil(due);
        txFree_ = due;
    }
    const std::uint8_t* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = write(line_.Get(), p, left);
        if (n > 0) {
            p += n;
            left -= static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            // The host's input queue is full (its port is closed): wait for room.
            pollfd fds[2] = {{line_.Get(), POLLOUT, 0}, {stop_.Get(), POLLIN, 0}};
            if (ppoll(fds, 2, nullptr, nullptr) > 0 && fds[1].revents != 0) throw TStopRequest{};
        } else if (!(n < 0 && errno == EINTR)) {
            ThrowErrno("write " + path_);
        }
    }
}

// Bytes the emulator wrote that the host has not read yet.
int TDeviceEmulator::HostQueued() {
    // Polling the slave side first lets the terminal layer hand over bytes still
    // on their way from the master, so that FIONREAD counts them.
    pollfd fd{slave_.Get(), POLLIN, 0};
    if (poll(&fd, 1, 0) < 0 && errno != EINTR) ThrowErrno("poll " + path_);
    int queued = 0;
    if (ioctl(slave_.Get(), FIONREAD, &queued) != 0) ThrowErrno("FIONREAD " + path_);
    return queued;
}

// Keeps a reply and the next request apart: the host must have read the reply
// out of its queue, and a read already under way on its side gets RequestGap to
// finish before the request lands. With giveUpAt, a host that has not read by
// then is no longer waited for (it may have closed its port for good), and no
// gap follows.
void TDeviceEmulator::WaitHostTook(std::optional<TClock::time_point> giveUpAt) {
    if (slave_) {
        const auto start = TClock::now();
        while (HostQueued() > 0) {
            // Checks every 0.1 ms at first; a host that stays away (its port
            // closed) is checked less and less often, at most every 10 ms.
            const auto now = TClock::now();
            if (giveUpAt && now >= *giveUpAt) return;
            auto next = now + std::clamp<std::chrono::nanoseconds>((now - start) / 16, 100us, 10ms);
            if (giveUpAt) next = std::min(next, *giveUpAt);
            SleepUntil(next);
        }
    } else {
        while (tcdrain(line_.Get()) != 0)
            if (errno != EINTR) ThrowErrno("tcdrain " + path_);
    }
    if (!giveUpAt) SleepUntil(TClock::now() + options_.RequestGap);
}

void TDeviceEmulator::WaitForBurst() {
    int run = 0;
    for (;;) {
        while (!in_.empty()) {
            run = in_.front() == kBurstByte ? run + 1 : 0;
            in_.pop_front();
            if (run == 3) {
                SleepUntil(rxFree_);
                return;
            }
        }
        Fill(std::nullopt);
    }
}

// Takes a start burst from the front of in_, if one is there.
bool TDeviceEmulator::TakeBurst() {
    if (in_.size() < 3 || !std::all_of(in_.begin(), in_.begin() + 3, [](std::uint8_t b) { return b == kBurstByte; }))
        return false;
    in_.erase(in_.begin(), in_.begin() + 3);
    SleepUntil(rxFree_);
    return true;
}

TDeviceEmulator::TReceived TDeviceEmulator::ReadPacket(TPacket& packet, TClock::time_point since,
                                                       std::optional<TClock::time_point> giveUpAt) {
    std::size_t have = 0;
    TClock::time_point last = since;
    for (;;) {
        while (have < packet.size() && !in_.empty()) {
            packet[have++] = in_.front();
            in_.pop_front();
        }
        if (have >= 3 && std::all_of(packet.begin(), packet.begin() + 3, [](std::uint8_t b) { return b == kBurstByte; })) {
            in_.insert(in_.begin(), packet.begin() + 3, packet.begin() + static_cast<long>(have));
            SleepUntil(rxFree_);
            return {TReceived::Burst, 3, last};
        }
        if (have == packet.size()) return {TReceived::Packet, have, last};
        TClock::time_point deadline = last + options_.RequestTimeout;
        if (have == 0 && giveUpAt) deadline = std::min(deadline, *giveUpAt);
        if (!Fill(deadline)) return {have == 0 ? TReceived::Timeout : TReceived::Incomplete, have, last};
        last = TClock::now();
    }
}

// One upload after its start burst. True when it ended because the next
// upload's burst came, which has then been taken.
bool TDeviceEmulator::PlayUpload(TUploadResult& r) {
    TDeviceModel model(options_, r);
    std::optional<TClock::time_point> giveUpAt;
    if (options_.FirstHeaderTimeout > 0ms) giveUpAt = TClock::now() + options_.FirstHeaderTimeout;

    bool request = true;
    TClock::time_point requestAt{};
    TClock::time_point waitFrom{};
    for (;;) {
        if (request) {
            WaitHostTook();
            while (Fill(TClock::now())) {
            }
            if (TakeBurst()) {
                r.Outcome = TOutcome::Restarted;
                return true;
            }
            if (!in_.empty()) {
                r.Violations.push_back(std::to_string(in_.size()) + " bytes came unasked after packet " +
                                       std::to_string(r.PacketsReceived));
                in_.clear();
                r.Outcome = TOutcome::Violation;
                return false;
            }
            Send({kRequestByte});
            requestAt = waitFrom = TClock::now();
        }
        request = true;

        TPacket p{};
        const TReceived got = ReadPacket(p, waitFrom, r.HeaderSeen ? std::nullopt : giveUpAt);
        if (got.Kind == TReceived::Burst) {
            r.Outcome = TOutcome::Restarted;
            return true;
        }
        if (got.Kind == TReceived::Timeout) {
            if (!r.HeaderSeen && giveUpAt && TClock::now() >= *giveUpAt) {
                r.Outcome = TOutcome::NoHeader;
                return false;
            }
            if (slave_ && HostQueued() > 0) {
                // The host has not even read the request (its port is closed): keep waiting.
                request = false;
                waitFrom = TClock::now();
            } else {
                ++r.ReRequests;
            }
            continue;
        }

        TDeviceModel::TStep step;
        if (got.Kind == TReceived::Incomplete) {
            step = model.Incomplete(got.Have);
        } else {
            r.ResponseTimes.Add(got.LastByteAt - requestAt);
            SleepUntil(rxFree_);
            step = model.Packet(p);
        }
        Send(step.Reply());
        if (step.Ended) return false;
        if (step.RequestSent) {
            request = false;
            requestAt = waitFrom = TClock::now();
        }
    }
}

}  // namespace zelk::emu
