// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// The .mo reader zelk-upload.exe translates with: the real Russian catalog
// as the build compiles it, and made-up ones for plural forms and damage.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "catalog.h"

namespace zelk::upload {
namespace {

using TBytes = std::vector<std::uint8_t>;

constexpr char kRussianRule[] =
    "Plural-Forms: nplurals=3; plural=(n%10==1 && n%100!=11 ? 0 : n%10>=2 && n%10<=4 && (n%100<10 || n%100>=20) ? 1 : 2);\n";

// A .mo file as msgfmt lays it out (without the hash table, which is optional).
TBytes MakeMo(const std::vector<std::pair<std::string, std::string>>& entries, bool bigEndian = false) {
    TBytes mo;
    const auto put = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) mo.push_back(static_cast<std::uint8_t>(v >> (bigEndian ? 24 - 8 * i : 8 * i)));
    };
    const auto n = static_cast<std::uint32_t>(entries.size());
    std::uint32_t at = 28 + 16 * n;
    put(0x950412de), put(0), put(n), put(28), put(28 + 8 * n), put(0), put(0);
    std::string strings;
    for (int pass = 0; pass < 2; ++pass)
        for (const auto& entry : entries) {
            const std::string& s = pass == 0 ? entry.first : entry.second;
            put(static_cast<std::uint32_t>(s.size())), put(at);
            strings += s + '\0';
            at += static_cast<std::uint32_t>(s.size()) + 1;
        }
    mo.insert(mo.end(), strings.begin(), strings.end());
    return mo;
}

TEST(MessageCatalog, RussianPluralFormsAndPlainMessages) {
    using namespace std::string_literals;
    const auto mo = MakeMo({{"", kRussianRule}, {"a\0b"s, "x1\0x2\0x5"s}, {"Hi", "Привет"}});
    for (const bool bigEndian : {false, true}) {
        const auto catalog = TMessageCatalog::Read(bigEndian ? MakeMo({{"", kRussianRule}, {"a\0b"s, "x1\0x2\0x5"s}}, true) : mo);
        ASSERT_TRUE(catalog) << bigEndian;
        for (const auto& [n, form] : std::vector<std::pair<unsigned long, std::string>>{
                 {1, "x1"}, {2, "x2"}, {4, "x2"}, {5, "x5"}, {11, "x5"}, {12, "x5"}, {21, "x1"}, {22, "x2"}, {111, "x5"}, {0, "x5"}})
            EXPECT_EQ(catalog->TranslatePlural("a", "b", n), form) << n;
    }
    const auto catalog = TMessageCatalog::Read(mo);
    EXPECT_STREQ(catalog->Translate("Hi"), "Привет");
    EXPECT_STREQ(catalog->Translate("Bye"), "Bye");
    EXPECT_STREQ(catalog->TranslatePlural("c", "d", 1), "c");
    EXPECT_STREQ(catalog->TranslatePlural("c", "d", 3), "d");
}

TEST(MessageCatalog, DamagedOrUnknownCatalogsAreRefused) {
    TBytes cut = MakeMo({{"", kRussianRule}, {"Hi", "Привет"}});
    cut.resize(cut.size() - 3);  // the last string runs past the end
    TBytes wild = MakeMo({{"Hi", "Привет"}});
    wild[32] = 0xFF;  // an offset far past the end
    for (const TBytes& bad : {TBytes{}, TBytes(20, 0), cut, wild,
                              MakeMo({{"", "Plural-Forms: nplurals=2; plural=(n%7==1);\n"}})})
        EXPECT_FALSE(TMessageCatalog::Read(bad)) << bad.size();
}

TEST(MessageCatalog, TheBuiltRussianCatalogReads) {
    std::ifstream file(ZELK_TEST_LOCALEDIR "/ru/LC_MESSAGES/zelk-upload.mo", std::ios::binary);
    const TBytes mo{std::istreambuf_iterator<char>(file), {}};
    const auto catalog = TMessageCatalog::Read(mo);
    ASSERT_TRUE(catalog);
    EXPECT_STREQ(catalog->Translate("Upload complete."), "Отправка Завершена.");
    EXPECT_TRUE(std::string(catalog->TranslatePlural("{1}/{2} byte {3}%  {4} KiB/s  {5} left  checksum errors: {6}",
                                                     "{1}/{2} bytes {3}%  {4} KiB/s  {5} left  checksum errors: {6}", 3))
                    .starts_with("{1}/{2} байта "));
}

}  // namespace
}  // namespace zelk::upload
