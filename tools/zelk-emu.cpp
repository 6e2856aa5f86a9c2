// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// zelk-emu: plays the ZELK controller for the uploader, on a pseudo-terminal
// or a given terminal device.

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "common/licence.h"
#include "tools/emulator/device_emulator.h"

namespace {

using zelk::emu::TDeviceEmulator;
using zelk::emu::TEmulatorOptions;
using zelk::emu::TOutcome;
using zelk::emu::TUploadResult;

constexpr const char* kHelp = R"(Usage: zelk-emu [OPTION]...
Plays the ZELK network controller of a Vector-06C for the ZELK uploader.

Creates a pseudo-terminal (or serves --device) and prints the path the
uploader opens as the first line of standard output; point the uploader's
port at it with ZELK_COM1=PATH (its README has a script). Then it waits
for the start burst, asks for every packet with 0x05, checks it, answers
0x06 or 0xF4 and rebuilds the uploaded bytes. After each upload it prints a
summary, with the SHA-256 of the rebuilt bytes, on standard error.

  --device PATH               serve this terminal device instead of a new
                              pseudo-terminal
  --loop                      serve one upload after another until stopped
                              (default: exit after one upload)
  --output FILE               write the rebuilt bytes of each completed upload
                              to FILE (C x 256 bytes; empty for an upload
                              without a header)
  --baud N                    pace all traffic as on an N-baud line, 10 bits
                              a byte (default: no pacing)
  --request-timeout MS        ask again when a request brings no packet within
                              MS milliseconds (default 2000)
  --first-header-timeout MS   end an upload whose first header has not come MS
                              milliseconds after the burst, as an empty one
                              (default: keep asking)
  --reply-delay MS            hold every byte sent MS milliseconds, as a USB
                              adapter's latency timer does (default 0)
  --reject N[,N...]           answer packets N with 0xF4 although they are right
  --unexpected-reply N        answer packet N with 0x42 and end the upload
  --ack-with-request N        acknowledge packet N with 06 05 in one write
  --watch-stdin               also stop when standard input closes
  --help                      show this help and exit
  --version                   show the version and exit

Packets are numbered from 1 in each upload, in the order they arrive,
headers and data alike, resent ones included.

SIGINT or SIGTERM stops the emulator; an upload in the middle is summed up.
Exit status: 0 when the upload completed (with --loop: when stopped),
1 when it ended otherwise or the terminal failed, 2 for a usage error.
)";

struct TUsageError {
    std::string What;
};

int Number(std::string_view text, std::string_view option) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || value < 0)
        throw TUsageError{std::string(option) + ": not a number: " + std::string(text)};
    return value;
}

struct TArgs {
    TEmulatorOptions Options;
    bool Loop = false;
    bool WatchStdin = false;
    std::string Output;
};

TArgs Parse(int argc, char** argv) {
    TArgs args;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        const auto value = [&]() -> std::string_view {
            if (i + 1 >= argc) throw TUsageError{std::string(option) + " needs a value"};
            return argv[++i];
        };
        if (option == "--help") {
            std::cout << kHelp;
            std::exit(0);
        } else if (option == "--version") {
            std::cout << "zelk-emu " << ZELK_VERSION << '\n' << zelk::kLicenceNotice;
            std::exit(0);
        } else if (option == "--device") {
            args.Options.DevicePath = value();
        } else if (option == "--loop") {
            args.Loop = true;
        } else if (option == "--output") {
            args.Output = value();
        } else if (option == "--baud") {
            args.Options.Baud = Number(value(), option);
        } else if (option == "--request-timeout") {
            args.Options.RequestTimeout = std::chrono::milliseconds(Number(value(), option));
        } else if (option == "--first-header-timeout") {
            args.Options.FirstHeaderTimeout = std::chrono::milliseconds(Number(value(), option));
        } else if (option == "--reply-delay") {
            args.Options.ReplyDelay = std::chrono::milliseconds(Number(value(), option));
        } else if (option == "--reject") {
            for (std::string_view list = value();;) {
                const std::size_t comma = list.find(',');
                args.Options.RejectPackets.insert(Number(list.substr(0, comma), option));
                if (comma == std::string_view::npos) break;
                list.remove_prefix(comma + 1);
            }
        } else if (option == "--unexpected-reply") {
            args.Options.UnexpectedReplyAt = Number(value(), option);
        } else if (option == "--ack-with-request") {
            args.Options.AckWithRequestAt = Number(value(), option);
        } else if (option == "--watch-stdin") {
            args.WatchStdin = true;
        } else {
            throw TUsageError{"unknown option " + std::string(option)};
        }
    }
    if (args.Options.RequestTimeout.count() == 0) throw TUsageError{"--request-timeout must be above 0"};
    return args;
}

void Report(const TUploadResult& r, const std::string& output) {
    std::cerr << zelk::emu::FormatSummary(r) << std::endl;
    if (output.empty() || (r.Outcome != TOutcome::Completed && r.Outcome != TOutcome::NoHeader)) return;
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(r.Bytes.data()), static_cast<std::streamsize>(r.Bytes.size()));
    if (!out.flush()) std::cerr << "zelk-emu: cannot write " << output << "\n";
}

int Serve(const TArgs& args) {
    // Signals arrive through a descriptor; the emulator's thread inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    const zelk::TUniqueFd signalFd(signalfd(-1, &signals, SFD_CLOEXEC));
    if (!signalFd) {
        std::perror("zelk-emu: signalfd");
        return 1;
    }
    signal(SIGPIPE, SIG_IGN);

    TDeviceEmulator emu(args.Options);
    std::cout << emu.DevicePath() << std::endl;

    pollfd fds[3] = {{signalFd.Get(), POLLIN, 0}, {emu.ResultFd(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    const nfds_t count = args.WatchStdin ? 3 : 2;
    for (;;) {
        if (poll(fds, count, -1) < 0) {
            if (errno == EINTR) continue;
            std::perror("zelk-emu: poll");
            return 1;
        }
        if (fds[1].revents != 0) {
            const std::optional<TUploadResult> r = emu.TakeResult();
            Report(*r, args.Output);
            if (r->Outcome == TOutcome::Failed) return 1;
            if (!args.Loop && r->Outcome != TOutcome::Restarted) return r->Outcome == TOutcome::Completed ? 0 : 1;
        }
        if (fds[2].revents != 0) {
            char buf[256];
            if (read(STDIN_FILENO, buf, sizeof buf) <= 0) break;
        }
        if (fds[0].revents != 0) break;
    }
    emu.Stop();
    while (const std::optional<TUploadResult> r = emu.TakeResult()) Report(*r, args.Output);
    return args.Loop ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Serve(Parse(argc, argv));
    } catch (const TUsageError& e) {
        std::cerr << "zelk-emu: " << e.What << "\nTry 'zelk-emu --help'.\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "zelk-emu: " << e.what() << "\n";
        return 1;
    }
}
