// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace zelk::test {

// A folder of its own for the files a test loads, removed afterwards.
class TFiles {
public:
    TFiles() {
        static std::atomic<int> serial{0};
        root_ = std::filesystem::temp_directory_path() /
                ("zelk-window-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                 std::to_string(serial++) + "-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        std::filesystem::create_directories(root_);
    }
    ~TFiles() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    TFiles(const TFiles&) = delete;
    TFiles& operator=(const TFiles&) = delete;

    // A file of size bytes (i * 7 + 3 for byte i); returns its path in UTF-8.
    std::string Make(const std::string& name, int size) const {
        const std::filesystem::path path = root_ / std::filesystem::u8path(name);
        std::ofstream out(path, std::ios::binary);
        for (int i = 0; i < size; ++i) out.put(static_cast<char>(i * 7 + 3));
        return Utf8(path);
    }
    std::string Folder() const { return Utf8(root_); }

private:
    static std::string Utf8(const std::filesystem::path& p) {
        const std::u8string s = p.u8string();
        return std::string(s.begin(), s.end());
    }
    std::filesystem::path root_;
};

}  // namespace zelk::test
