// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <array>

// The window's own texts, UTF-8, exactly as it shows them. "СОМ" in the port
// texts and hints is Cyrillic (U+0421 U+041E U+041C); the label "COM" is Latin.
namespace zelk::texts {

inline constexpr const char* kWindowCaption = "ЗЕЛК Вектор06Ц";
inline constexpr const char* kApplicationTitle = "ZELK";

// The transfer's texts.
inline constexpr const char* kSendCaption = "РС -> ЗЕЛК";  // "РС" in Cyrillic letters
inline constexpr const char* kStopCaption = "СТОП";
inline constexpr const char* kSending = "Отправка";
inline constexpr const char* kSendDone = "Отправка Завершена.";
inline constexpr const char* kSendStopped = "Отправка Остановлена!";
inline constexpr const char* kSendError = "Ошибка при отправке!";
inline constexpr const char* kPortWriteError = "Ошибка призаписи в порт!";

// Loading, the port and the address check.
inline constexpr const char* kFileRead = "Файл прочитан.";
inline constexpr const char* kFileNotRead = "Файл НЕ прочитан!";
inline constexpr const char* kBytesSuffix = " Байт.";
inline constexpr const char* kAddressError = "Ошибка Адреса!";
inline constexpr const char* kOpen = "Открыть";
inline constexpr const char* kClose = "Закрыть";
inline constexpr const char* kPortOpened = "СОМ-порт Открыт.";
inline constexpr const char* kPortClosed = "СОМ-порт Закрыт.";
inline constexpr const char* kSpeedNotInList = "Скорость не из списка!";

// The controls: captions and hints.
inline constexpr const char* kComLabel = "COM";
inline constexpr const char* kPortNumberHint = "Номер СОМ-порта";
inline constexpr const char* kPortStepHint = "Изменить номер СОМ-порта";
inline constexpr const char* kPortButtonHint = "Открыть/Закрыть СОМ-порт";
inline constexpr const char* kHelpCaption = "?";
inline constexpr const char* kLoaderTab = "Загрузчик";
inline constexpr const char* kZelkTab = "ЗЕЛК";
inline constexpr const char* kFileNameHint = "Имя файла";
inline constexpr const char* kOpenFileCaption = "Открыть файл";
inline constexpr const char* kOpenFileHint = "Выбрать файл для  выгрузки в ЗЕЛК";  // two spaces after "для"
inline constexpr const char* kSendHint = "Выгрузить файл в ЗЕЛК";
inline constexpr const char* kStartLabel = "Начальный Адрес в ОЗУ:";
inline constexpr const char* kBlocksLabel = "Количество Блоков:";
inline constexpr const char* kBlocksHint = "Количество выгружаемых Блоков";
inline constexpr const char* kErrorsGroup = "Ошибки передачи";
inline constexpr const char* kChecksumLabel = "КС :";
inline constexpr const char* kChecksumHint = "Кол-во несовпадений контр. суммы за сеанс";
inline constexpr const char* kReserved = "Зарезервировано :)";

// The speed list, item i for kBaudRates[i], and the start address list.
inline constexpr std::array<const char*, 10> kSpeedItems{"br1200",  "br2400",  "br4800",  "br9600",  "br14400",
                                                         "br19200", "br38400", "br56000", "br57600", "br115200"};
inline constexpr int kDefaultSpeedIndex = 9;
inline constexpr std::array<const char*, 2> kStartItems{"0000h", "0100h"};
inline constexpr int kDefaultStartIndex = 1;
inline constexpr int kStartMaxLength = 5;  // characters the start box takes

// The device label's hint.
inline constexpr const char* kDeviceAbsent = "Устройства нет (absent).";
inline constexpr const char* kNoSerialDevices = "Последовательных устройств нет.";
inline constexpr const char* kSerialDevices = "Последовательные устройства:";
// A port above the range the window reaches, before "zelk-upload -d \\.\COM23".
inline constexpr const char* kPortAboveRange =
    "вне 1–20: смените номер в Диспетчере устройств (Свойства → Параметры порта → Дополнительно… → "
    "COM Port Number) или:";
// FTDI's name for its timer, then the value and "мс".
inline constexpr const char* kLatencyTimer = "Latency Timer";
inline constexpr const char* kMilliseconds = "мс";
// Shown only after an upload's first replies came late: the delay, then what to do.
inline constexpr const char* kRepliesLate = "Ответы приходят с опозданием";
inline constexpr const char* kRepliesLateOf = "(медиана первых 100 пакетов).";
inline constexpr const char* kAdapterHolds = "Адаптер держит принятое до конца своего таймера:";
inline constexpr const char* kSetTimerTo1 = "Установите 1 мс:";
inline constexpr const char* kSetTimerIfAny = "Если у драйвера адаптера есть таймер задержки, установите его в 1 мс:";
inline constexpr const char* kDeviceManagerPorts = "Диспетчер устройств → Порты (COM и LPT) →";
inline constexpr const char* kPortAdvanced = "→ Свойства → Параметры порта → Дополнительно…";
inline constexpr const char* kLatencySetting = "→ Latency Timer (msec) → 1";
inline constexpr const char* kSetTimerLinux = "Установите таймер задержки адаптера в 1 мс (от root): echo 1 >";

// The about box.
inline constexpr const char* kAboutCaption = "О прграмме";
inline constexpr const char* kAboutProductName = "Product Name: ЗЕЛК Вектор06Ц.";
inline constexpr const char* kAboutVersion = "Version: Загрузчик.";
inline constexpr const char* kAboutComments = "Comments:";
inline constexpr const char* kAboutLine1 = "Передача файла через СОМ-порт";
inline constexpr const char* kAboutLine2 = "на Контроллер ЗЕЛК Вектора06Ц.";
inline constexpr const char* kAboutOk = "OK";
// Below the comments, where the panel has room: the licence.
inline constexpr const char* kAboutLicence = "Licence: GPL-3.0-or-later";

// The open-file dialog's filter list: "name|patterns" entries, patterns
// separated by ';', and the entry chosen at first.
inline constexpr const char* kFileFilter = "All (*.*)|*.*|rom, com|*.rom;*.com|r0m, bin|*.r0m;*.bin";
inline constexpr int kFileFilterIndex = 1;  // "rom, com"

}  // namespace zelk::texts
