// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include "common/unique_fd.h"

namespace zelk {

// SIGINT (Ctrl-C), SIGTERM (kill) and SIGHUP (a closed terminal or session),
// blocked for the whole process and taken through the descriptor returned,
// readable while one waits, so that a program's loop can end cleanly and
// release the port. Call it before any thread starts: threads inherit the
// mask. Linux only. Throws std::system_error.
TUniqueFd BlockQuitSignals();

// Takes what the descriptor holds; true when a signal was there.
bool TakeQuitSignals(int fd);

}  // namespace zelk
