// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "catalog.h"

#include <algorithm>
#include <string_view>

namespace zelk::upload {

namespace {

constexpr std::uint32_t kMagic = 0x950412de;

// The plural rules of the languages a catalog may come in, as msgfmt
// writes them into the header (blanks aside): Russian's three forms, the
// two of English and most of Western Europe, and the one of Chinese and the like.
std::optional<std::function<std::size_t(unsigned long)>> PluralRule(std::string_view header) {
    const std::size_t at = header.find("Plural-Forms:");
    if (at == std::string_view::npos) return [](unsigned long n) -> std::size_t { return n == 1 ? 0 : 1; };
    std::string rule;
    for (std::size_t i = at + 13; i < header.size() && header[i] != '\n'; ++i)
        if (header[i] != ' ' && header[i] != '\t') rule += header[i];
    if (rule == "nplurals=3;plural=(n%10==1&&n%100!=11?0:n%10>=2&&n%10<=4&&(n%100<10||n%100>=20)?1:2);")
        return [](unsigned long n) -> std::size_t {
            return n % 10 == 1 && n % 100 != 11 ? 0 : n % 10 >= 2 && n % 10 <= 4 && (n % 100 < 10 || n % 100 >= 20) ? 1 : 2;
        };
    if (rule == "nplurals=2;plural=(n!=1);" || rule == "nplurals=2;plural=n!=1;")
        return [](unsigned long n) -> std::size_t { return n != 1 ? 1 : 0; };
    if (rule == "nplurals=1;plural=0;") return [](unsigned long) -> std::size_t { return 0; };
    return std::nullopt;
}

// The NUL-separated parts of text (a msgid with its plural, or the forms of a translation).
std::vector<std::string> Parts(std::string_view text) {
    std::vector<std::string> parts;
    for (;;) {
        const std::size_t nul = text.find('\0');
        parts.emplace_back(text.substr(0, nul));
        if (nul == std::string_view::npos) return parts;
        text.remove_prefix(nul + 1);
    }
}

}  // namespace

std::optional<TMessageCatalog> TMessageCatalog::Read(std::span<const std::uint8_t> mo) {
    if (mo.size() < 20) return std::nullopt;
    const auto word = [&](std::size_t at, bool swapped) -> std::optional<std::uint32_t> {
        if (at > mo.size() || mo.size() - at < 4) return std::nullopt;
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(mo[at + static_cast<std::size_t>(i)]) << (8 * i);
        if (swapped) v = (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
        return v;
    };
    const bool swapped = *word(0, false) != kMagic;
    if (*word(0, swapped) != kMagic || (*word(4, swapped) >> 16) != 0) return std::nullopt;
    const std::uint32_t count = *word(8, swapped);
    const std::uint32_t originals = *word(12, swapped);
    const std::uint32_t translations = *word(16, swapped);
    // The string at table entry i: its length, then its offset.
    const auto text = [&](std::uint32_t table, std::uint32_t i) -> std::optional<std::string_view> {
        const std::size_t at = std::size_t{table} + std::size_t{i} * 8;
        const auto length = word(at, swapped);
        const auto offset = word(at + 4, swapped);
        if (!length || !offset || *offset > mo.size() || mo.size() - *offset < std::size_t{*length}) return std::nullopt;
        return std::string_view(reinterpret_cast<const char*>(mo.data()) + *offset, *length);
    };
    TMessageCatalog catalog;
    std::string_view header;
    for (std::uint32_t i = 0; i < count; ++i) {
        const auto original = text(originals, i);
        const auto translation = text(translations, i);
        if (!original || !translation) return std::nullopt;
        if (original->empty()) {
            header = *translation;
            continue;
        }
        catalog.entries_.emplace(Parts(*original).front(), Parts(*translation));
    }
    auto plural = PluralRule(header);
    if (!plural) return std::nullopt;
    catalog.plural_ = std::move(*plural);
    return catalog;
}

const char* TMessageCatalog::Translate(const char* text) const {
    const auto found = entries_.find(std::string_view(text));
    if (found == entries_.end() || found->second.front().empty()) return text;
    return found->second.front().c_str();
}

const char* TMessageCatalog::TranslatePlural(const char* one, const char* many, unsigned long n) const {
    const auto found = entries_.find(std::string_view(one));
    const std::size_t form = plural_(n);
    if (found == entries_.end() || form >= found->second.size() || found->second[form].empty())
        return n == 1 ? one : many;
    return found->second[form].c_str();
}

}  // namespace zelk::upload
