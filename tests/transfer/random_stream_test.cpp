// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include <array>
#include <memory>
#include <optional>
#include <random>

#include "test_support.h"
#include "transfer/file_image.h"

namespace zelk::test {
namespace {

struct TStartText {
    const char* text;
    std::uint8_t page;
};
constexpr std::array kStartTexts{TStartText{"0100h", 0x01}, TStartText{"0000h", 0x00}, TStartText{"ab00h", 0xAB},
                                 TStartText{"F", 0xF0}, TStartText{"я1", 0x01}};

// What a device that took `accepted` in order has received must be the image,
// page by page, with the headers and page numbers of a correct upload.
void ExpectDelivered(const std::vector<Bytes>& accepted, const Bytes& file, std::int32_t fileLen, std::uint8_t s) {
    const int pages = fileLen / 256;
    const auto c = static_cast<std::uint8_t>(pages);
    ASSERT_EQ(accepted.size(), static_cast<std::size_t>(pages) * 9);
    Bytes received;
    for (int k = 0; k < pages; ++k) {
        const auto b = static_cast<std::uint8_t>(s + 2 * c - k);
        Bytes header(36, 0);
        header[0] = 0xE6;
        if (k == 0) {
            header[32] = s;
            header[33] = header[34] = c;
        } else {
            header[2] = b;
        }
        header[35] = b;
        ASSERT_EQ(accepted[9 * k], header) << "page " << k;
        for (int j = 0; j < 8; ++j) {
            const Bytes& dp = accepted[9 * k + 1 + j];
            ASSERT_EQ(dp[1], j == 0 ? 8 : j) << "page " << k << " piece " << j;
            ASSERT_EQ(dp[2], b) << "page " << k << " piece " << j;
            received.insert(received.end(), dp.begin() + 3, dp.begin() + 35);
        }
    }
    Bytes padded = file;
    padded.resize(static_cast<std::size_t>(fileLen), 0);
    EXPECT_TRUE(received == padded);
}

TEST(RandomReplyStreamTest, MachineStaysConsistentAndCompletedRunsDeliverEveryPage) {
    TTempDir dir;
    constexpr unsigned kRuns = 400;
    unsigned completed = 0;
    unsigned ended = 0;
    for (unsigned seed = 1; seed <= kRuns; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        const auto chance = [&](double p) { return std::bernoulli_distribution(p)(rng); };
        const auto byte = [&] { return static_cast<std::uint8_t>(rng()); };

        TFakeWindow win;
        TFakePort port;
        auto t = std::make_unique<TTransfer>(win, port);
        for (auto& b : t->Image()) b = byte();  // what earlier files left
        Bytes file(seed % 97 == 0 ? 65535 : std::uniform_int_distribution<std::size_t>(0, 1400)(rng));
        for (auto& b : file) b = byte();
        const TLoadResult loaded = LoadImage(dir.Write("run.bin", file), t->Image());
        ASSERT_EQ(loaded.Status, TLoadStatus::Loaded);
        t->SetFileLen(loaded.FileLen);
        const TStartText start = kStartTexts[seed % kStartTexts.size()];
        win.StartBox = start.text;
        const double noise = std::array{0.0, 0.002, 0.01}[seed % 3];
        t->Btn_z_zelkClick();

        std::optional<Bytes> outstanding;  // sent, not yet answered
        std::optional<Bytes> rejected;     // answered 0xF4, due again
        std::vector<Bytes> accepted;
        int mismatches = 0;
        const int packets = t->FileLen() / 256 * 9;
        for (int step = 0; step < 20000 && t->State() != TState::Idle; ++step) {
            // One reply, or a few, or up to 250 that arrive together: each is
            // chosen as a device would answer at that point, with some noise.
            struct TReply {
                std::uint8_t r;
                bool wrong;
            };
            std::vector<TReply> replies;
            const std::size_t count = chance(0.2) ? 1 + rng() % (chance(0.1) ? 250 : 4) : 1;
            for (bool waiting = outstanding.has_value(); replies.size() < count;) {
                std::uint8_t r = 0;
                const bool wrong = chance(noise);
                if (wrong && chance(0.5)) {
                    r = waiting ? 0x05 : chance(0.5) ? 0x06 : 0xF4;
                } else if (wrong) {
                    do r = byte();
                    while (r == 0x05 || r == 0x06 || r == 0xF4);
                } else {
                    r = !waiting ? 0x05 : chance(0.15) ? 0xF4 : 0x06;
                }
                replies.push_back({r, wrong});
                if (!wrong && (waiting || t->FileLen() > 0)) waiting = !waiting;
            }
            Bytes chunk;
            for (const TReply& reply : replies) chunk.push_back(reply.r);

            const std::size_t writes = port.Writes.size();
            t->OnRead(chunk);
            ASSERT_EQ(t->Offset() % 32, 0);
            ASSERT_GE(t->Offset(), 0);
            ASSERT_LE(t->Offset(), t->FileLen());
            ASSERT_LE(t->Piece(), 8);

            // Walk the replies as the machine must have taken them, one by
            // one, each due packet being the next write.
            std::size_t written = writes;
            for (const auto& [r, wrong] : replies) {
                if (static_cast<int>(accepted.size()) == packets && packets > 0) break;  // complete: the rest is ignored
                const bool due = !wrong && r == 0x05 && !outstanding && t->FileLen() > 0;
                if (wrong) {
                    ASSERT_EQ(t->State(), TState::Idle);
                    ASSERT_EQ(win.OpsSince(win.Ops.size() - 3),
                              (std::vector<std::string>{"panel1: Ошибка при отправке!", "flash: red", "caption: РС -> ЗЕЛК"}));
                    ++ended;
                    break;
                } else if (due) {
                    ASSERT_LT(written, port.Writes.size()) << "reply " << int(r) << " brought no packet";
                    const Bytes& p = port.Writes[written++];
                    ASSERT_EQ(p.size(), 36u);
                    ASSERT_EQ(p[0], 0xE6);
                    unsigned sum = 0;
                    for (int i = 1; i < 35; ++i) sum += p[i];
                    ASSERT_EQ(p[35], sum % 256);
                    if (rejected) {
                        ASSERT_EQ(p, *rejected);
                        rejected.reset();
                    }
                    outstanding = p;
                } else if (outstanding) {
                    if (r == 0x06) {
                        accepted.push_back(*outstanding);
                    } else {
                        ++mismatches;
                        rejected = outstanding;
                    }
                    outstanding.reset();
                }
            }
            ASSERT_EQ(port.Writes.size(), written) << "packets no reply asked for";
        }
        ASSERT_EQ(t->ErrCount(), mismatches);
        if (mismatches > 0) {
            ASSERT_EQ(win.ErrCountTexts().back(), std::to_string(mismatches));
        }
        if (t->State() == TState::Idle && win.Ops.back() == "flash: green") {
            ++completed;
            EXPECT_EQ(win.OpsSince(win.Ops.size() - 3),
                      (std::vector<std::string>{"panel1: Отправка Завершена.", "caption: РС -> ЗЕЛК", "flash: green"}));
            ExpectDelivered(accepted, file, t->FileLen(), start.page);
        } else if (noise == 0.0) {
            EXPECT_EQ(t->FileLen(), 0) << "a clean stream did not complete";
        }
    }
    EXPECT_GT(completed, kRuns / 4);
    EXPECT_GT(ended, kRuns / 20);
}

}  // namespace
}  // namespace zelk::test
