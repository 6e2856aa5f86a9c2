// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "messages.h"

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#ifdef _WIN32
#include <windows.h>

#include <optional>

#include "catalog.h"

// po/ru.po as msgfmt compiles it, put into the program by the build.
extern const unsigned char kZelkRussianCatalog[];
extern const std::size_t kZelkRussianCatalogSize;
#endif

namespace zelk::upload {

#ifdef _WIN32
namespace {
std::optional<TMessageCatalog> gCatalog;  // set once, before anything is printed
}

const char* Translate(const char* text) { return gCatalog ? gCatalog->Translate(text) : text; }

const char* TranslatePlural(const char* one, const char* many, unsigned long n) {
    return gCatalog ? gCatalog->TranslatePlural(one, many, n) : n == 1 ? one : many;
}
#endif

void InitMessages() {
#ifdef _WIN32
    // The language of the user's Windows (the display language), as every
    // program of the system speaks it; regional formats do not count.
    if (PRIMARYLANGID(::GetUserDefaultUILanguage()) == LANG_RUSSIAN)
        gCatalog = TMessageCatalog::Read({kZelkRussianCatalog, kZelkRussianCatalogSize});
#endif
#ifdef ZELK_NLS
    std::setlocale(LC_ALL, "");
    // "0.3 s" and "10.9 KiB/s" read the same in every language, as the
    // numbers the options take do.
    std::setlocale(LC_NUMERIC, "C");
    std::string dir = ZELK_INSTALL_LOCALEDIR;
    if (const char* env = std::getenv("ZELK_LOCALEDIR"); env != nullptr && *env != '\0') {
        dir = env;
    } else {
        // build/<dir>/app/zelk-upload: the catalog is in build/<dir>/locale.
        std::error_code ec;
        const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
        if (!ec) {
            const auto tree = exe.parent_path().parent_path();
            if (std::filesystem::exists(tree / "CMakeCache.txt", ec) && std::filesystem::is_directory(tree / "locale", ec))
                dir = (tree / "locale").string();
        }
    }
    ::bindtextdomain("zelk-upload", dir.c_str());
    ::bind_textdomain_codeset("zelk-upload", "UTF-8");
    ::textdomain("zelk-upload");
#endif
}

std::string Fill(const std::string& text, std::initializer_list<std::string> args) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '{' && i + 2 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9' && text[i + 2] == '}') {
            const std::size_t n = static_cast<std::size_t>(text[i + 1] - '1');
            if (n < args.size()) {
                out += *(args.begin() + n);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::size_t TextWidth(const std::string& text) {
    std::size_t width = 0;
    for (const char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++width;
    return width;
}

}  // namespace zelk::upload
