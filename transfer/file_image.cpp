// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "file_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#undef LoadImage  // user32's, which would rename the one defined here

#include "common/wide_text.h"
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "common/unique_fd.h"

namespace zelk {

namespace {

#ifdef _WIN32
// Binary mode, or the C runtime would turn CR LF into LF and stop at 0x1A.
constexpr int kOpenFlags = O_RDONLY | O_BINARY;
constexpr const char* kSeparators = "/\\";
#else
constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
constexpr const char* kSeparators = "/";
#endif

// path is UTF-8 everywhere; Windows opens it through its UTF-16 form, as
// the C runtime's narrow open would take it in the ANSI code page. -1 with
// errno set when it cannot be opened; on Windows why then holds the reason
// for anything but a missing file, in the system's words or as "in use by
// another program" (the C runtime would call that "Permission denied").
int OpenForReading(const std::string& path, [[maybe_unused]] std::string& why) {
#ifdef _WIN32
    // Others may go on reading and writing it, as with _wopen.
    const HANDLE h = ::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD err = ::GetLastError();
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) {
            errno = ENOENT;
        } else {
            errno = err == ERROR_ACCESS_DENIED ? EACCES : EIO;
            why = err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION ? "in use by another program"
                                                                                 : SystemMessage(err);
        }
        return -1;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), kOpenFlags);
    if (fd < 0) ::CloseHandle(h);
    return fd;
#else
    return ::open(path.c_str(), kOpenFlags);
#endif
}

[[noreturn]] void ThrowIo(const std::string& what, const std::string& path, int err) {
    throw EInOutError(what + " " + path + ": " + std::strerror(err));
}

// Length in bytes of the UTF-8 sequence that starts with lead byte c.
std::size_t SequenceLength(unsigned char c) {
    if (c < 0x80) return 1;
    if ((c & 0xE0) == 0xC0) return 2;
    if ((c & 0xF0) == 0xE0) return 3;
    if ((c & 0xF8) == 0xF0) return 4;
    return 1;  // a stray byte counts as one character of its own
}

// The first count characters of s.
std::string_view FirstChars(std::string_view s, std::size_t count) {
    std::size_t pos = 0;
    for (std::size_t chars = 0; chars < count && pos < s.size(); ++chars)
        pos = std::min(s.size(), pos + SequenceLength(static_cast<unsigned char>(s[pos])));
    return s.substr(0, pos);
}

std::size_t CharCount(std::string_view s) {
    std::size_t n = 0;
    for (std::size_t pos = 0; pos < s.size(); ++n)
        pos += SequenceLength(static_cast<unsigned char>(s[pos]));
    return n;
}

}  // namespace

std::int32_t RoundFileLen(std::int32_t n) {
    return n % kPageSize == 0 ? n : (n & ~(kPageSize - 1)) + kPageSize;
}

std::int32_t BlockCount(std::int32_t fileLen) { return fileLen / kPageSize; }

std::string ShortName(std::string_view path) {
    // The last separator counts only past the first character: "/name" stays whole.
    std::string_view name = path;
    const std::size_t slash = path.find_last_of(kSeparators);
    if (slash != std::string_view::npos && slash > 0) name = path.substr(slash + 1);

    std::string result(name);
    const std::size_t dot = name.find('.');
    if (dot != std::string_view::npos && CharCount(name.substr(0, dot)) > 8)
        result = std::string(FirstChars(name, 8)) + std::string(name.substr(dot));
    return std::string(FirstChars(result, 12));
}

TLoadResult LoadImage(const std::string& path, TImage& image) {
    TLoadResult result;
    std::string why;
    const int raw = OpenForReading(path, why);
    if (raw < 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR) return result;  // Missing
        if (!why.empty()) throw EInOutError("Cannot open file " + path + ": " + why);
        ThrowIo("Cannot open file", path, err);
    }
    const TUniqueFd fd(raw);

    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) ThrowIo("Cannot read file", path, errno);
    // Only a regular file has an end; a device or a pipe could block the
    // window for good or never stop giving bytes.
    if (!S_ISREG(st.st_mode)) ThrowIo("Cannot read file", path, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    if (st.st_size >= kImageSize) {
        result.Status = TLoadStatus::TooLarge;
        return result;
    }

    // Read into a buffer of its own, one byte more than the image holds, so a
    // file that grew since fstat is still caught and the image stays untouched.
    std::vector<std::uint8_t> data(kImageSize + 1);
    std::size_t got = 0;
    while (got < data.size()) {
        const ssize_t n = ::read(fd.Get(), data.data() + got, data.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowIo("Cannot read file", path, errno);
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (got >= static_cast<std::size_t>(kImageSize)) {
        result.Status = TLoadStatus::TooLarge;
        return result;
    }

    result.Status = TLoadStatus::Loaded;
    result.ByteCount = static_cast<std::int32_t>(got);
    result.FileLen = RoundFileLen(result.ByteCount);
    std::copy_n(data.begin(), got, image.begin());
    std::fill(image.begin() + result.ByteCount, image.begin() + result.FileLen, 0);
    result.ShortName = ShortName(path);
    return result;
}

}  // namespace zelk
