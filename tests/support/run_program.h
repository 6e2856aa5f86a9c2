// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace zelk::test {

// Starts program with args and this process's environment with env set over
// it; its stdin, stdout and stderr are the given descriptors, -1 for
// /dev/null. Nothing of this process runs in the child (posix_spawn), so it
// is safe beside other threads. Throws std::runtime_error when it cannot start.
int SpawnProgram(const std::string& program, const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env, int stdinFd, int stdoutFd, int stderrFd);

struct TRunResult {
    int ExitCode = -1;  // -1: did not exit in time (it was killed)
    std::string Stderr;
};

// Runs program with args and extra environment, stdout discarded and stderr
// captured. onStderr sees the text gathered so far after every read and may
// act on the child (its pid is given). Kills it after limit.
TRunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env,
                      std::chrono::milliseconds limit = std::chrono::seconds(60),
                      const std::function<void(int pid, const std::string& soFar)>& onStderr = {});

}  // namespace zelk::test
