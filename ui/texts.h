// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

// The window's own texts, UTF-8, exactly as it shows them.
namespace zelk::texts {

inline constexpr const char* kSendCaption = "РС -> ЗЕЛК";  // "РС" in Cyrillic letters
inline constexpr const char* kStopCaption = "СТОП";
inline constexpr const char* kSending = "Отправка";
inline constexpr const char* kSendDone = "Отправка Завершена.";
inline constexpr const char* kSendStopped = "Отправка Остановлена!";
inline constexpr const char* kSendError = "Ошибка при отправке!";
inline constexpr const char* kPortWriteError = "Ошибка призаписи в порт!";
inline constexpr const char* kFileRead = "Файл прочитан.";
inline constexpr const char* kFileNotRead = "Файл НЕ прочитан!";
inline constexpr const char* kBytesSuffix = " Байт.";
inline constexpr const char* kAddressError = "Ошибка Адреса!";

}  // namespace zelk::texts
