// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include <sys/stat.h>

#include <algorithm>

#include "test_support.h"
#include "transfer/file_image.h"

namespace zelk::test {
namespace {

class FileImageTest : public ::testing::Test {
protected:
    FileImageTest() { image_.fill(0x5A); }

    TTempDir dir_;
    TImage image_{};
};

Bytes Pattern(std::size_t n, unsigned seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 31 + seed + i / 251);
    return b;
}

TEST_F(FileImageTest, LengthsRoundUpToWholePages) {
    struct Case { std::int32_t bytes, fileLen, blocks; };
    for (const Case c : {Case{0, 0, 0}, {1, 256, 1}, {255, 256, 1}, {256, 256, 1}, {257, 512, 2}, {65535, 65536, 256}}) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(RoundFileLen(c.bytes), c.fileLen);
        EXPECT_EQ(BlockCount(c.fileLen), c.blocks);

        image_.fill(0x5A);
        const Bytes file = Pattern(static_cast<std::size_t>(c.bytes), 9);
        const TLoadResult r = LoadImage(dir_.Write("f.rom", file), image_);
        ASSERT_EQ(r.Status, TLoadStatus::Loaded);
        EXPECT_EQ(r.ByteCount, c.bytes);
        EXPECT_EQ(r.FileLen, c.fileLen);
        EXPECT_EQ(r.ShortName, "f.rom");
        EXPECT_TRUE(std::equal(file.begin(), file.end(), image_.begin()));
        EXPECT_TRUE(std::all_of(image_.begin() + c.bytes, image_.begin() + c.fileLen, [](auto b) { return b == 0; }));
        EXPECT_TRUE(std::all_of(image_.begin() + c.fileLen, image_.end(), [](auto b) { return b == 0x5A; }));
    }
}

TEST_F(FileImageTest, FilesOfSixtyFourKilobytesOrMoreAreRejectedWithoutTouchingTheImage) {
    const TImage before = image_;
    for (const std::size_t size : {std::size_t{65536}, std::size_t{65537}, std::size_t{200000}}) {
        SCOPED_TRACE(size);
        const TLoadResult r = LoadImage(dir_.Write("big.bin", Pattern(size, 1)), image_);
        EXPECT_EQ(r.Status, TLoadStatus::TooLarge);
        EXPECT_EQ(r.FileLen, 0);
        EXPECT_TRUE(image_ == before);
    }
}

TEST_F(FileImageTest, ShortFileAfterLongOneZeroesTheTailOfItsLastPageOnly) {
    ASSERT_EQ(LoadImage(dir_.Write("long.rom", Bytes(1000, 0xFF)), image_).Status, TLoadStatus::Loaded);
    const TLoadResult r = LoadImage(dir_.Write("short.rom", Bytes(10, 0x11)), image_);
    ASSERT_EQ(r.Status, TLoadStatus::Loaded);
    EXPECT_EQ(r.FileLen, 256);
    for (std::size_t i = 0; i < 1100; ++i) {
        const std::uint8_t want = i < 10 ? 0x11 : i < 256 ? 0x00 : i < 1000 ? 0xFF : i < 1024 ? 0x00 : 0x5A;
        ASSERT_EQ(image_[i], want) << "at " << i;
    }
}

TEST_F(FileImageTest, MissingFileLeavesTheImageAlone) {
    const TImage before = image_;
    for (const std::string& path : {dir_.Path("none.rom"), dir_.Write("plain", Bytes(3, 1)) + "/inside.rom"}) {
        SCOPED_TRACE(path);
        const TLoadResult r = LoadImage(path, image_);
        EXPECT_EQ(r.Status, TLoadStatus::Missing);
        EXPECT_EQ(r.FileLen, 0);
        EXPECT_TRUE(image_ == before);
    }
}

TEST_F(FileImageTest, DirectoryOrFifoIsAnInOutErrorAndLeavesTheImageAlone) {
    const TImage before = image_;
    ASSERT_EQ(::mkfifo(dir_.Path("pipe").c_str(), 0600), 0);
    ASSERT_TRUE(std::filesystem::create_directory(dir_.Path("sub.rom")));
    for (const std::string& path : {dir_.Path("pipe"), dir_.Path("sub.rom")}) {
        SCOPED_TRACE(path);
        try {
            LoadImage(path, image_);
            ADD_FAILURE() << "no error";
        } catch (const EInOutError& e) {
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
        EXPECT_TRUE(image_ == before);
    }
}

TEST(ShortNameTest, CutsAtTheLastSlashThenToEightDotThreeThenToTwelveCharacters) {
    struct Case { const char* path; const char* name; };
    for (const Case c : {
             Case{"/work/program.rom", "program.rom"},
             {"/work/longfilename.rom", "longfile.rom"},
             {"/work/abcdefgh.rom", "abcdefgh.rom"},
             {"/work/my.long.filename.rom", "my.long.file"},
             {"/work/abcdefghijklmn", "abcdefghijkl"},
             {"/work/ab.c/longfilename", "longfilename"},
             {"program.rom", "program.rom"},
             {"/abc.rom", "/abc.rom"},
             {"/abcdefghijk.rom", "/abcdefg.rom"},
             {"/work/dir/", ""},
             {"/work/программа.rom", "программ.rom"},
             {"/дом/файл.rom", "файл.rom"},
             {"/work/файлик.rom", "файлик.rom"},
             {"/work/абвгдежзийклмн", "абвгдежзийкл"},
             {"/work/ab.вгдежзийклмн", "ab.вгдежзийк"},
             {"/work/aбвгдежзийклмн.rom", "aбвгдежз.rom"},
         }) {
        EXPECT_EQ(ShortName(c.path), c.name) << c.path;
    }
}

}  // namespace
}  // namespace zelk::test
