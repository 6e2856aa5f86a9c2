// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "test_support.h"
#include "transfer/file_image.h"

namespace zelk::test {
namespace {

TEST(HexDigitTest, OnlyHexDigitsOfEitherCaseCount) {
    struct Case { char c; int value; };
    for (const Case k : {Case{'0', 0}, {'7', 7}, {'9', 9}, {'A', 10}, {'F', 15}, {'a', 10}, {'f', 15}, {'G', 0},
                         {'g', 0}, {'/', 0}, {':', 0}, {'@', 0}, {'`', 0}, {'h', 0}, {' ', 0}, {'\0', 0}, {'\xD0', 0}})
        EXPECT_EQ(ChToInt(k.c), k.value) << static_cast<int>(k.c);
}

TEST(StartTextTest, ChecksUpperCaseAddressesButStartPageReadsAnyText) {
    struct Case { const char* text; bool valid; int page; };
    for (const Case k : {Case{"0100h", true, 0x01}, {"0000h", true, 0x00}, {"FF00h", true, 0xFF}, {"ab00h", false, 0xAB},
                         {"1", false, 0x10}, {"", false, 0x00}, {"0101h", false, 0x01}, {"0100", false, 0x01},
                         {"G100h", false, 0x01}, {"я1", false, 0x01}, {"1я00h", false, 0x10}}) {
        EXPECT_EQ(ValidStartText(k.text), k.valid) << k.text;
        EXPECT_EQ(StartPage(k.text), k.page) << k.text;
    }
}

// The first page header and the first data packet carry the start page S from
// StartBox and the page number S + 2 * C; here C = 2.
TEST(FirstPageTest, StartBoxTextSetsStartPageAndFirstPageNumber) {
    struct Case { const char* text; std::uint8_t s; };
    for (const Case k : {Case{"0100h", 0x01}, {"ab00h", 0xAB}, {"1", 0x10}, {"", 0x00}, {"0000h", 0x00}, {"FF00h", 0xFF}}) {
        SCOPED_TRACE(k.text);
        TFakeWindow win;
        TFakePort port;
        TTransfer t(win, port);
        win.StartBox = k.text;
        t.SetFileLen(512);
        t.Btn_z_zelkClick();
        for (std::uint8_t r : {0x05, 0x06, 0x05}) t.OnRead(Bytes{r});
        ASSERT_EQ(port.Writes.size(), 3u);
        const auto b = static_cast<std::uint8_t>(k.s + 4);
        Bytes header(32, 0);
        header[0] = 0xE6;
        header.insert(header.end(), {k.s, 2, 2, b});
        EXPECT_EQ(port.Writes[1], header);
        EXPECT_EQ(port.Writes[2][2], b);  // the first data packet's page number
    }
}

TEST_F(TransferTest, ChecksumWrapsModulo256) {
    SetPattern(512);
    std::fill_n(T.Image().begin(), 32, 0xFF);
    T.Btn_z_zelkClick();
    Replies({0x05, 0x06, 0x05});
    Bytes expected{0xE6, 0x08, 0x05};
    expected.insert(expected.end(), 32, 0xFF);
    expected.push_back(0xED);
    EXPECT_EQ(Port.Writes.back(), expected);
}

TEST_F(TransferTest, FullImageSendsBlockCountZeroAndStartsAtTheStartPage) {
    SetPattern(65536);
    Win.StartBox = "3000h";
    T.Btn_z_zelkClick();
    Replies(CleanReplies(256));
    ASSERT_EQ(Port.Writes.size(), 1u + 256 * 9);
    Bytes first(32, 0);
    first[0] = 0xE6;
    first.insert(first.end(), {0x30, 0x00, 0x00, 0x30});
    EXPECT_EQ(Port.Writes[1], first);
    EXPECT_EQ(Port.Writes[2], DataPacket(8, 0x30, &T.Image()[0]));
    EXPECT_EQ(Port.Writes[10][2], 0x2F);  // second page header
    EXPECT_EQ(Port.Writes.back(), DataPacket(7, 0x31, &T.Image()[65504]));
    EXPECT_EQ(T.State(), TState::Idle);
    EXPECT_EQ(Win.Ops.back(), "flash: green");
}

// A 300-byte file at "0100h": two pages, C = 2, S = 1, page numbers 5 and 4.
TEST_F(TransferTest, WorkedExampleGoesOutByteForByte) {
    TTempDir dir;
    Bytes file(300);
    for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<std::uint8_t>(i * 13 + 1);
    T.Image().fill(0xCC);  // an earlier, longer file
    const TLoadResult loaded = LoadImage(dir.Write("example.rom", file), T.Image());
    ASSERT_EQ(loaded.Status, TLoadStatus::Loaded);
    T.SetFileLen(loaded.FileLen);
    ASSERT_EQ(T.FileLen(), 512);

    T.Btn_z_zelkClick();
    Replies(CleanReplies(2));

    Bytes padded = file;
    padded.resize(512, 0);
    std::vector<Bytes> expected{{0x55, 0x55, 0x55}};
    Bytes header{0xE6, 0x00, 0x00};
    header.resize(32, 0);
    header.insert(header.end(), {0x01, 0x02, 0x02, 0x05});
    expected.push_back(header);
    const std::uint8_t codes[8] = {8, 1, 2, 3, 4, 5, 6, 7};
    for (int j = 0; j < 8; ++j) expected.push_back(DataPacket(codes[j], 0x05, &padded[32 * j]));
    header = {0xE6, 0x00, 0x04};
    header.resize(35, 0);
    header.push_back(0x04);
    expected.push_back(header);
    for (int j = 0; j < 8; ++j) expected.push_back(DataPacket(codes[j], 0x04, &padded[256 + 32 * j]));
    EXPECT_EQ(Port.Writes, expected);

    std::vector<std::string> ops{"caption: СТОП", "caption: СТОП", "pbar max: 512", "panel1: Отправка"};
    for (int p = 32; p <= 512; p += 32) ops.push_back("pbar: " + std::to_string(p));
    ops.insert(ops.end(), {"panel1: Отправка Завершена.", "caption: РС -> ЗЕЛК", "flash: green"});
    EXPECT_EQ(Win.Ops, ops);
    EXPECT_EQ(T.State(), TState::Idle);
}

}  // namespace
}  // namespace zelk::test
