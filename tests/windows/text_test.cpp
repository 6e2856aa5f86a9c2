// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

// Text between the system and the programs: UTF-16 and UTF-8 both ways, the
// system's messages fetched as UTF-16 (not in the ANSI code page, which is
// Windows-1251 on a Russian system), UTF-8 cut at a buffer's end, and a file
// another program holds. scripts/test-windows.sh runs these also with Wine
// in the ru_RU locale.
#include <windows.h>
#undef LoadImage  // user32's, not the program file's

#include <gtest/gtest.h>

#include <string>

#include "common/unique_handle.h"
#include "common/wide_text.h"
#include "console.h"
#include "transfer/file_image.h"

namespace zelk::test {
namespace {

// "Отказано в доступе" as UTF-8, as UTF-16 and as Windows-1251 bytes.
const std::string kUtf8 =
    "\xD0\x9E\xD1\x82\xD0\xBA\xD0\xB0\xD0\xB7\xD0\xB0\xD0\xBD\xD0\xBE\x20\xD0\xB2\x20\xD0\xB4\xD0\xBE\xD1\x81\xD1\x82"
    "\xD1\x83\xD0\xBF\xD0\xB5";
const std::wstring kUtf16{0x041E, 0x0442, 0x043A, 0x0430, 0x0437, 0x0430, 0x043D, 0x043E, 0x0020,
                          0x0432, 0x0020, 0x0434, 0x043E, 0x0441, 0x0442, 0x0443, 0x043F, 0x0435};
const std::string kCp1251 = "\xCE\xF2\xEA\xE0\xE7\xE0\xED\xEE\x20\xE2\x20\xE4\xEE\xF1\xF2\xF3\xEF\xE5";
const std::string kReplacement = "\xEF\xBF\xBD";  // U+FFFD

TEST(Text, Utf16AndUtf8BothWays) {
    EXPECT_EQ(WideToUtf8(kUtf16), kUtf8);
    EXPECT_EQ(Utf8ToWide(kUtf8), kUtf16);
    // Beyond the first plane (a surrogate pair), and a lone surrogate.
    EXPECT_EQ(WideToUtf8(std::wstring{0xD83D, 0xDE00}), "\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), (std::wstring{0xD83D, 0xDE00}));
    EXPECT_EQ(WideToUtf8(std::wstring{L'a', 0xD800, L'b'}), "a" + kReplacement + "b");
}

// What the window showed before: Windows-1251 bytes taken for UTF-8 are no
// letters at all.
TEST(Text, Windows1251BytesAreNoUtf8) {
    const std::wstring garbled = Utf8ToWide(kCp1251);
    EXPECT_EQ(garbled.find_first_not_of(L"\xFFFD "), std::wstring::npos);
    std::wstring wide(kCp1251.size(), L'\0');
    ASSERT_EQ(::MultiByteToWideChar(1251, 0, kCp1251.data(), static_cast<int>(kCp1251.size()), wide.data(),
                                    static_cast<int>(wide.size())),
              static_cast<int>(kUtf16.size()));
    EXPECT_EQ(wide, kUtf16);
}

// The system's messages, by language (Wine has them all) and in the user's.
TEST(Text, SystemMessagesComeAsUtf8) {
    constexpr std::uint16_t kRussian = MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT);
    constexpr std::uint16_t kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    const std::string russian = SystemMessage(ERROR_FILE_NOT_FOUND, kRussian);
    if (::GetUserDefaultUILanguage() == kRussian) {
        EXPECT_EQ(SystemMessage(ERROR_FILE_NOT_FOUND), russian);
    }
    EXPECT_EQ(Win32Category().message(ERROR_FILE_NOT_FOUND), SystemMessage(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(SystemMessage(0x20001234), "error 536875572");
    if (::GetModuleHandleW(L"ntdll.dll") == nullptr ||
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr)
        GTEST_SKIP() << "the exact wording below is Wine's";
    EXPECT_EQ(russian, "Файл не найден.");
    EXPECT_EQ(SystemMessage(ERROR_ACCESS_DENIED, kRussian), "Доступ запрещён.");
    EXPECT_EQ(SystemMessage(ERROR_FILE_NOT_FOUND, kEnglish), "File not found.");
    // The ANSI form of the same message, where the ANSI code page is Russian's.
    if (::GetACP() == 1251) {
        std::string ansi(256, '\0');
        ansi.resize(::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                     ERROR_FILE_NOT_FOUND, kRussian, ansi.data(), 256, nullptr));
        EXPECT_EQ(ansi, "\xD4\xE0\xE9\xEB \xED\xE5 \xED\xE0\xE9\xE4\xE5\xED.\r\n");
    }
}

TEST(Text, Utf8IsCutOnlyBetweenCharacters) {
    using zelk::upload::WholeUtf8Prefix;
    EXPECT_EQ(WholeUtf8Prefix(""), 0u);
    EXPECT_EQ(WholeUtf8Prefix("ab\n"), 3u);
    EXPECT_EQ(WholeUtf8Prefix(kUtf8), kUtf8.size());
    EXPECT_EQ(WholeUtf8Prefix(kUtf8.substr(0, 3)), 2u);              // "О" and the lead byte of "т"
    EXPECT_EQ(WholeUtf8Prefix("a\xF0\x9F\x98"), 1u);                 // three bytes of four
    EXPECT_EQ(WholeUtf8Prefix("a\xF0\x9F\x98\x80"), 5u);
    EXPECT_EQ(WholeUtf8Prefix("a\x80\x80\x80\x80"), 5u);             // stray continuation bytes
    EXPECT_EQ(WholeUtf8Prefix("a\xFF"), 2u);                         // no lead byte at all
}

// A file that another program holds open without sharing it.
TEST(Text, FileHeldByAnotherProgramIsInUse) {
    std::wstring folder(MAX_PATH + 1, L'\0');
    folder.resize(::GetTempPathW(static_cast<DWORD>(folder.size()), folder.data()));
    const std::wstring path = folder + L"Занят.rom";
    TUniqueHandle holder(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    ASSERT_TRUE(holder) << ::GetLastError();
    TImage image{};
    try {
        LoadImage(WideToUtf8(path), image);
        ADD_FAILURE() << "loaded";
    } catch (const EInOutError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file " + WideToUtf8(path) + ": in use by another program");
    }
}

}  // namespace
}  // namespace zelk::test
