// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

// zelk-upload's messages: English in the source, translated by GNU gettext
// (text domain "zelk-upload") when the locale asks for another language. On
// Windows, which has no libintl, the Russian catalog travels inside the
// program and is taken when the user's display language is Russian.

#include <initializer_list>
#include <string>

#ifdef ZELK_NLS
#include <libintl.h>
#define _(text) ::gettext(text)
#define P_(one, many, n) ::ngettext(one, many, static_cast<unsigned long>(n))
#elif defined(_WIN32)
#define _(text) ::zelk::upload::Translate(text)
#define P_(one, many, n) ::zelk::upload::TranslatePlural(one, many, static_cast<unsigned long>(n))
#else
#define _(text) (text)
#define P_(one, many, n) ((n) == 1 ? (one) : (many))
#endif

namespace zelk::upload {

#ifdef _WIN32
// The message in the language InitMessages chose.
const char* Translate(const char* text);
const char* TranslatePlural(const char* one, const char* many, unsigned long n);
#endif

// Sets the locale from the environment and binds the catalog: the directory
// in ZELK_LOCALEDIR, else the build tree's locale/ when the program runs from
// a build tree, else the installed one. Numbers keep the C locale's point.
// On Windows: the built-in Russian catalog when GetUserDefaultUILanguage()
// is Russian, else English.
void InitMessages();

// The text with "{1}", "{2}", ... replaced by the arguments, so that a
// translation may put them in another order.
std::string Fill(const std::string& text, std::initializer_list<std::string> args);

// The width of UTF-8 text in characters (for columns).
std::size_t TextWidth(const std::string& text);

}  // namespace zelk::upload
