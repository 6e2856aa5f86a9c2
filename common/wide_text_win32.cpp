// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include <windows.h>

#include "common/wide_text.h"

namespace zelk {

std::wstring Utf8ToWide(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), n);
    return wide;
}

std::string WideToUtf8(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), n, nullptr, nullptr);
    return utf8;
}

std::string SystemMessage(std::uint32_t code, std::uint16_t language) {
    const auto fetch = [code](LANGID id) {
        wchar_t* text = nullptr;
        const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                             FORMAT_MESSAGE_IGNORE_INSERTS,
                                         nullptr, code, id, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
        std::wstring message(text != nullptr ? text : L"", n);
        ::LocalFree(text);
        return message;
    };
    std::wstring message = language != 0 ? fetch(language) : std::wstring();
    // 0: the user's language, else the system's, else English (Windows' own order).
    if (message.empty()) message = fetch(0);
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' '))
        message.pop_back();
    if (message.empty()) return "error " + std::to_string(code);
    return WideToUtf8(message);
}

const std::error_category& Win32Category() {
    class TCategory final : public std::error_category {
    public:
        const char* name() const noexcept override { return "win32"; }
        std::string message(int code) const override { return SystemMessage(static_cast<std::uint32_t>(code)); }
    };
    static const TCategory category;
    return category;
}

}  // namespace zelk
