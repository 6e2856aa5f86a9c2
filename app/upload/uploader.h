// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <ostream>

#include "upload_options.h"

namespace zelk::upload {

enum TExitCode : int {
    kExitUploaded = 0,
    kExitTransferFailed = 1,
    kExitUsageOrFile = 2,
    kExitPortError = 3,
    kExitTimeout = 4,
};

// Loads the file, opens the port and runs one upload to its end. Messages and
// progress go to err; progress is redrawn in place when errIsTerminal.
int RunUpload(const TUploadOptions& options, std::ostream& err, bool errIsTerminal);

}  // namespace zelk::upload
