// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include <windows.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "common/wide_text.h"
#include "console.h"

namespace zelk::upload {

std::size_t WholeUtf8Prefix(std::string_view text) {
    // Look back over at most three continuation bytes for the last lead byte.
    std::size_t start = text.size();
    for (int back = 0; back < 4 && start > 0; ++back) {
        const auto c = static_cast<unsigned char>(text[start - 1]);
        if ((c & 0xC0) != 0x80) {
            const std::size_t need = c >= 0xF0 && c < 0xF8 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            // Complete, or a lead byte no sequence has: all of it goes.
            return text.size() - (start - 1) >= need || c >= 0xF8 ? text.size() : start - 1;
        }
        --start;
    }
    return text.size();  // only continuation bytes at the end: stray ones
}

namespace {

// One standard stream's buffer: collects what the stream writes and hands
// it on at each flush (std::cerr flushes after every output operation).
class TUtf8Out final : public std::streambuf {
public:
    TUtf8Out(DWORD which, std::FILE* file) : handle_(::GetStdHandle(which)), file_(file) {
        DWORD mode = 0;
        console_ = handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle_, &mode) != 0;
    }
    ~TUtf8Out() override { Flush(true); }
    TUtf8Out(const TUtf8Out&) = delete;
    TUtf8Out& operator=(const TUtf8Out&) = delete;

protected:
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) pending_ += traits_type::to_char_type(c);
        if (pending_.size() >= kChunk) Flush(false);
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        pending_.append(s, static_cast<std::size_t>(n));
        if (pending_.size() >= kChunk) Flush(false);
        return n;
    }
    int sync() override { return Flush(false) ? 0 : -1; }

private:
    static constexpr std::size_t kChunk = 4096;

    // Writes what is pending: to a console only whole characters, unless all.
    bool Flush(bool all) {
        if (pending_.empty()) return true;
        bool ok = true;
        if (console_) {
            const std::size_t whole = all ? pending_.size() : WholeUtf8Prefix(pending_);
            const std::wstring wide = Utf8ToWide(std::string_view(pending_).substr(0, whole));
            std::size_t done = 0;
            while (ok && done < wide.size()) {
                DWORD wrote = 0;
                ok = ::WriteConsoleW(handle_, wide.data() + done, static_cast<DWORD>(wide.size() - done), &wrote,
                                     nullptr) != FALSE && wrote > 0;
                done += wrote;
            }
            pending_.erase(0, whole);
        } else {
            ok = std::fwrite(pending_.data(), 1, pending_.size(), file_) == pending_.size();
            ok = std::fflush(file_) == 0 && ok;
            pending_.clear();
        }
        return ok;
    }

    HANDLE handle_;
    std::FILE* file_;
    bool console_ = false;
    std::string pending_;
};

}  // namespace

TConsoleText::TConsoleText()
    : out_(std::make_unique<TUtf8Out>(STD_OUTPUT_HANDLE, stdout)),
      err_(std::make_unique<TUtf8Out>(STD_ERROR_HANDLE, stderr)) {
    std::cout.flush();
    std::cerr.flush();
    oldOut_ = std::cout.rdbuf(out_.get());
    oldErr_ = std::cerr.rdbuf(err_.get());
}

TConsoleText::~TConsoleText() {
    std::cout.flush();
    std::cerr.flush();
    std::cout.rdbuf(oldOut_);
    std::cerr.rdbuf(oldErr_);
}

}  // namespace zelk::upload
