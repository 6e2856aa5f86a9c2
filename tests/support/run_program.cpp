// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

#include "support/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "common/unique_fd.h"

extern char** environ;  // NOLINT: POSIX names it so

namespace zelk::test {

namespace {

// This process's environment with env's entries set over it, as
// "NAME=value" strings.
std::vector<std::string> ChildEnvironment(const std::map<std::string, std::string>& env) {
    std::vector<std::string> entries;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view entry = *e;
        if (!env.contains(std::string(entry.substr(0, entry.find('='))))) entries.emplace_back(entry);
    }
    for (const auto& [name, value] : env) entries.push_back(name + '=' + value);
    return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

[[noreturn]] void Fail(const char* what, int err) {
    throw std::runtime_error(std::string(what) + ": " + std::strerror(err));
}

}  // namespace

// The child is started with posix_spawn, never with fork and code of ours
// in between: the tests run threads (the emulated controller, the port's
// reader), and a forked child of a process with threads may only make
// async-signal-safe calls. Under AddressSanitizer setenv() in such a child
// waited for ever on the allocator's lock whenever another thread held it at
// the fork, and the program never started. Everything the child needs is
// built here before it exists.
int SpawnProgram(const std::string& program, const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env, int stdinFd, int stdoutFd, int stderrFd) {
    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<std::string> envStrings = ChildEnvironment(env);
    const std::vector<char*> argv = Pointers(argStrings);
    const std::vector<char*> envp = Pointers(envStrings);

    posix_spawn_file_actions_t actions;
    if (const int err = ::posix_spawn_file_actions_init(&actions)) Fail("posix_spawn_file_actions_init", err);
    posix_spawnattr_t attr;
    if (const int err = ::posix_spawnattr_init(&attr)) {
        ::posix_spawn_file_actions_destroy(&actions);
        Fail("posix_spawnattr_init", err);
    }
    // A program starts with no signal blocked and the usual dispositions,
    // whatever this test thread has set.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    int err = 0;
    for (const auto& [from, to] : {std::pair{stdinFd, STDIN_FILENO}, {stdoutFd, STDOUT_FILENO}, {stderrFd, STDERR_FILENO}})
        if (err == 0)
            err = from < 0 ? ::posix_spawn_file_actions_addopen(&actions, to, "/dev/null", O_RDWR, 0)
                           : ::posix_spawn_file_actions_adddup2(&actions, from, to);
    if (err == 0) err = ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    if (err == 0) err = ::posix_spawnattr_setsigmask(&attr, &none);
    if (err == 0) err = ::posix_spawnattr_setsigdefault(&attr, &all);
    pid_t pid = -1;
    if (err == 0) err = ::posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), envp.data());
    ::posix_spawnattr_destroy(&attr);
    ::posix_spawn_file_actions_destroy(&actions);
    if (err != 0) Fail(("posix_spawn " + program).c_str(), err);
    return pid;
}

TRunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env, std::chrono::milliseconds limit,
                      const std::function<void(int, const std::string&)>& onStderr) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) Fail("pipe2", errno);
    const TUniqueFd readEnd(pipeFds[0]);
    TUniqueFd writeEnd(pipeFds[1]);
    const pid_t pid = SpawnProgram(program, args, env, -1, -1, writeEnd.Get());
    writeEnd.Reset();

    TRunResult result;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool killed = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd pfd{readEnd.Get(), POLLIN, 0};
        const int rc = ::poll(&pfd, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (rc == 0) {
            ::kill(pid, SIGKILL);
            killed = true;
            break;
        }
        if (rc < 0) {
            if (errno == EINTR) continue;
            break;
        }
        char buf[4096];
        const ssize_t n = ::read(readEnd.Get(), buf, sizeof buf);
        if (n <= 0) break;  // the child closed stderr: it is ending
        result.Stderr.append(buf, static_cast<std::size_t>(n));
        if (onStderr) onStderr(pid, result.Stderr);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!killed && WIFEXITED(status)) result.ExitCode = WEXITSTATUS(status);
    return result;
}

}  // namespace zelk::test
