// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace zelk::test {

// A fresh directory under the system's temp directory, removed with its files.
class TTempDir {
public:
    TTempDir() {
        std::string name = (std::filesystem::temp_directory_path() / "zelk-test-XXXXXX").string();
        if (::mkdtemp(name.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = name;
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    ~TTempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }

    const std::filesystem::path& Root() const { return path_; }
    std::string Path(const std::string& name) const { return (path_ / name).string(); }
    template <class TContent>
    std::string Write(const std::string& name, const TContent& content) const {
        const std::string path = Path(name);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
        if (!out) throw std::runtime_error("cannot write " + path);
        return path;
    }

private:
    std::filesystem::path path_;
};

}  // namespace zelk::test
