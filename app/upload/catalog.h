// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

// A compiled GNU gettext catalog (a .mo file) read from memory: what
// zelk-upload.exe translates with, where Windows has no gettext. The build
// compiles po/<lang>.po and puts the bytes into the program.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zelk::upload {

class TMessageCatalog {
public:
    // The catalog in mo, or nothing when the bytes are no .mo file (either
    // byte order), an entry lies outside them, or the header's Plural-Forms
    // is a rule this reader does not know.
    static std::optional<TMessageCatalog> Read(std::span<const std::uint8_t> mo);

    // The translation of text, or text itself when the catalog has none.
    // Pointers stay valid as long as the catalog.
    const char* Translate(const char* text) const;
    // The form for n of the message whose English forms are one and many.
    const char* TranslatePlural(const char* one, const char* many, unsigned long n) const;

private:
    std::map<std::string, std::vector<std::string>, std::less<>> entries_;  // msgid -> its forms
    std::function<std::size_t(unsigned long)> plural_;
};

}  // namespace zelk::upload
