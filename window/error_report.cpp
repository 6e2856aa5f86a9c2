// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "window/error_report.h"

#include "serial/port_error.h"

namespace zelk {

std::string ErrorBoxText(std::string_view message) {
    std::string text(message);
    // Every byte of a multi-byte UTF-8 character is 0x80 or above, so the
    // last byte tells whether the last character's code is above '.'.
    if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.')) text += '.';
    return text;
}

TErrorReport ErrorReportFor(const std::exception& error) {
    TErrorReport report{ErrorBoxText(error.what()), {}};
    if (const auto* portError = dynamic_cast<const EComPortError*>(&error)) {
        report.Detail = portError->Detail;
        if (portError->Kind == TPortErrorKind::PermissionDenied && !PermissionHint().empty()) {
            if (!report.Detail.empty()) report.Detail += "\n\n";
            report.Detail += PermissionHint();
        }
    }
    return report;
}

std::string ErrorBoxLines(const TErrorReport& report) {
    return report.Detail.empty() ? report.Text : report.Text + '\n' + report.Detail;
}

}  // namespace zelk
