// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The ZELK developers

/* zelk-tty-probe: a small static helper for the real-driver checks in the
 * QEMU guest (scripts/test-drivers.sh). It looks at a tty the way the checks
 * need and runs programs as another user; it never changes what it reads.
 *
 *   line DEV                  one line: rate, termios flags, low-latency and
 *                             exclusive-mode flags
 *   setline DEV               puts DEV in a known cooked state (9600 baud,
 *                             7E2, echo, canonical, CR/NL mapping, XON)
 *   rawline DEV               puts DEV back to raw 115200 8N1
 *   excl DEV                  forks a holder that opens DEV and sets TIOCEXCL,
 *                             prints its pid once the flag is set; it holds
 *                             the device until killed
 *   waitdev DEV MS            waits up to MS ms for DEV to appear (inotify)
 *   waitgone DEV MS           waits up to MS ms for DEV to go
 *   drain DEV MS              opens DEV raw and reads away what comes for MS ms
 *   as UID GID CMD...         runs CMD with that uid, gid and group list
 *   run [--during DEV[,FILE]] [--limit S] -- CMD...
 *                             runs CMD with its stderr through a pipe (so not
 *                             a terminal) copied to stdout; at its first
 *                             progress line prints "during: " and DEV's line
 *                             (and FILE's content); at its end prints
 *                             "exit=N elapsed=S.SSS at=T" (T: CLOCK_MONOTONIC
 *                             seconds, as dmesg stamps its lines) or
 *                             "exit=signal N ..."; kills it after S seconds
 */
#define _GNU_SOURCE
#include <asm/termbits.h>
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static int die(const char* what, const char* arg) {
    fprintf(stderr, "zelk-tty-probe: %s %s: %s\n", what, arg ? arg : "", strerror(errno));
    exit(2);
}

static int open_tty(const char* dev) {
    int fd = open(dev, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) die("open", dev);
    return fd;
}

static double now_seconds(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + ts.tv_nsec / 1e9;
}

/* "speed=115200/115200 iflag=0 oflag=0 cflag=... lflag=0 vmin=1 vtime=0 lowlat=1 excl=0" */
static void format_line(const char* dev, char* out, size_t size) {
    int fd = open_tty(dev);
    struct termios2 t;
    if (ioctl(fd, TCGETS2, &t) != 0) die("TCGETS2", dev);
    struct serial_struct ss;
    const char* lowlat = "?";
    if (ioctl(fd, TIOCGSERIAL, &ss) == 0) lowlat = (ss.flags & ASYNC_LOW_LATENCY) ? "1" : "0";
    int excl = -1;
    ioctl(fd, TIOCGEXCL, &excl);
    snprintf(out, size, "speed=%u/%u iflag=%o oflag=%o cflag=%o lflag=%o vmin=%u vtime=%u lowlat=%s excl=%d",
             t.c_ospeed, t.c_ispeed, t.c_iflag, t.c_oflag, t.c_cflag, t.c_lflag, t.c_cc[VMIN], t.c_cc[VTIME], lowlat,
             excl);
    close(fd);
}

static void set_line(const char* dev, int cooked) {
    int fd = open_tty(dev);
    struct termios2 t;
    if (ioctl(fd, TCGETS2, &t) != 0) die("TCGETS2", dev);
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT) | CSIZE | PARENB | CSTOPB | CRTSCTS);
    if (cooked) {
        t.c_iflag = ICRNL | IXON;
        t.c_oflag = OPOST | ONLCR;
        t.c_lflag = ECHO | ICANON | ISIG | IEXTEN;
        t.c_cflag |= B9600 | CS7 | PARENB | CSTOPB | CREAD | CLOCAL;
        t.c_cc[VMIN] = 4;
        t.c_cc[VTIME] = 7;
    } else {
        t.c_iflag = 0;
        t.c_oflag = 0;
        t.c_lflag = 0;
        t.c_cflag |= B115200 | CS8 | CREAD | CLOCAL;
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
    }
    if (ioctl(fd, TCSETS2, &t) != 0) die("TCSETS2", dev);
    close(fd);
}

static int cmd_excl(const char* dev) {
    int ready[2];
    if (pipe(ready) != 0) die("pipe", NULL);
    pid_t pid = fork();
    if (pid < 0) die("fork", NULL);
    if (pid == 0) {
        close(ready[0]);
        setsid();
        int fd = open(dev, O_RDWR | O_NOCTTY | O_NONBLOCK);
        char ok = fd >= 0 && ioctl(fd, TIOCEXCL) == 0 ? 'y' : 'n';
        if (write(ready[1], &ok, 1) != 1) _exit(1);
        close(ready[1]);
        if (ok != 'y') _exit(1);
        for (;;) pause();
    }
    close(ready[1]);
    char ok = 'n';
    if (read(ready[0], &ok, 1) != 1 || ok != 'y') {
        fprintf(stderr, "zelk-tty-probe: could not set exclusive mode on %s\n", dev);
        return 1;
    }
    printf("%d\n", (int)pid);
    return 0;
}

static int cmd_waitdev(const char* dev, int ms, int gone) {
    int in = inotify_init1(IN_CLOEXEC);
    if (in < 0) die("inotify_init1", NULL);
    char dir[256];
    snprintf(dir, sizeof dir, "%s", dev);
    char* slash = strrchr(dir, '/');
    if (slash == NULL) return 2;
    *slash = '\0';
    if (inotify_add_watch(in, dir, IN_CREATE | IN_ATTRIB | IN_DELETE) < 0) die("inotify_add_watch", dir);
    const double deadline = now_seconds() + ms / 1000.0;
    for (;;) {
        if ((access(dev, F_OK) == 0) != gone) return 0;
        const double left = deadline - now_seconds();
        if (left <= 0) break;
        struct pollfd p = {in, POLLIN, 0};
        if (poll(&p, 1, (int)(left * 1000) + 1) > 0) {
            char buf[4096];
            if (read(in, buf, sizeof buf) < 0 && errno != EINTR) die("read inotify", NULL);
        }
    }
    fprintf(stderr, "zelk-tty-probe: %s did not %s within %d ms\n", dev, gone ? "go" : "appear", ms);
    return 1;
}

static int cmd_drain(const char* dev, int ms) {
    set_line(dev, 0);
    int fd = open_tty(dev);
    int total = 0;
    const double deadline = now_seconds() + ms / 1000.0;
    for (;;) {
        const double left = deadline - now_seconds();
        if (left <= 0) break;
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, (int)(left * 1000) + 1) <= 0) continue;
        char buf[256];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) total += (int)n;
        else if (n == 0 || (errno != EAGAIN && errno != EINTR)) break;
    }
    close(fd);
    printf("drained %d bytes\n", total);
    return 0;
}

static int cmd_as(char** argv) {
    uid_t uid = (uid_t)atoi(argv[0]);
    gid_t gid = (gid_t)atoi(argv[1]);
    if (setgroups(1, &gid) != 0) die("setgroups", NULL);
    if (setgid(gid) != 0) die("setgid", NULL);
    if (setuid(uid) != 0) die("setuid", NULL);
    execvp(argv[2], argv + 2);
    die("exec", argv[2]);
    return 2;
}

static int cmd_run(int argc, char** argv) {
    const char* during = NULL;
    double limit = 120;
    int i = 0;
    for (; i < argc && strcmp(argv[i], "--") != 0; ++i) {
        if (strcmp(argv[i], "--during") == 0 && i + 1 < argc) during = argv[++i];
        else if (strcmp(argv[i], "--limit") == 0 && i + 1 < argc) limit = atof(argv[++i]);
        else return 2;
    }
    if (i + 1 >= argc) return 2;
    char** cmd = argv + i + 1;
    char dev[256] = "", file[256] = "";
    if (during) {
        snprintf(dev, sizeof dev, "%s", during);
        char* comma = strchr(dev, ',');
        if (comma) {
            *comma = '\0';
            snprintf(file, sizeof file, "%s", comma + 1);
        }
    }
    int err[2];
    if (pipe2(err, O_CLOEXEC) != 0) die("pipe", NULL);
    const double started = now_seconds();
    pid_t pid = fork();
    if (pid < 0) die("fork", NULL);
    if (pid == 0) {
        dup2(err[1], 2);
        execvp(cmd[0], cmd);
        _exit(127);
    }
    close(err[1]);
    char text[8192];
    size_t have = 0;
    int seen = 0, killed = 0;
    for (;;) {
        double left = started + limit - now_seconds();
        if (left <= 0 && !killed) {
            kill(pid, SIGKILL);
            killed = 1;
            printf("killed after %.0f s\n", limit);
        }
        struct pollfd p = {err[0], POLLIN, 0};
        if (poll(&p, 1, killed ? 1000 : (int)(left * 1000) + 1) <= 0) continue;
        char buf[1024];
        ssize_t n = read(err[0], buf, sizeof buf);
        if (n <= 0) break;
        fwrite(buf, 1, (size_t)n, stdout);
        fflush(stdout);
        if (!seen && during) {
            if (have + (size_t)n >= sizeof text) have = 0;
            memcpy(text + have, buf, (size_t)n);
            have += (size_t)n;
            text[have] = '\0';
            const char* progress = strstr(text, " bytes ");
            if (progress != NULL && strchr(progress, '\n') != NULL) {  /* a whole progress line */
                seen = 1;
                char line[512];
                format_line(dev, line, sizeof line);
                printf("during: %s", line);
                if (file[0]) {
                    FILE* f = fopen(file, "r");
                    char value[64] = "?";
                    if (f) {
                        if (!fgets(value, sizeof value, f)) strcpy(value, "?");
                        fclose(f);
                    }
                    value[strcspn(value, "\n")] = '\0';
                    printf(" latency_timer=%s", value);
                }
                printf("\n");
                fflush(stdout);
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const double ended = now_seconds();
    if (WIFEXITED(status))
        printf("exit=%d elapsed=%.3f at=%.6f\n", WEXITSTATUS(status), ended - started, ended);
    else
        printf("exit=signal%d elapsed=%.3f at=%.6f\n", WTERMSIG(status), ended - started, ended);
    return 0;
}

int main(int argc, char** argv) {
    setvbuf(stdout, NULL, _IOLBF, 0);
    if (argc >= 3 && strcmp(argv[1], "line") == 0) {
        char line[512];
        format_line(argv[2], line, sizeof line);
        printf("%s\n", line);
        return 0;
    }
    if (argc >= 3 && strcmp(argv[1], "setline") == 0) return set_line(argv[2], 1), 0;
    if (argc >= 3 && strcmp(argv[1], "rawline") == 0) return set_line(argv[2], 0), 0;
    if (argc >= 3 && strcmp(argv[1], "excl") == 0) return cmd_excl(argv[2]);
    if (argc >= 4 && strcmp(argv[1], "waitdev") == 0) return cmd_waitdev(argv[2], atoi(argv[3]), 0);
    if (argc >= 4 && strcmp(argv[1], "waitgone") == 0) return cmd_waitdev(argv[2], atoi(argv[3]), 1);
    if (argc >= 4 && strcmp(argv[1], "drain") == 0) return cmd_drain(argv[2], atoi(argv[3]));
    if (argc >= 5 && strcmp(argv[1], "as") == 0) return cmd_as(argv + 2);
    if (argc >= 4 && strcmp(argv[1], "run") == 0) return cmd_run(argc - 2, argv + 2);
    fprintf(stderr, "usage: zelk-tty-probe line|setline|rawline|excl DEV | waitdev|waitgone|drain DEV MS | as UID GID CMD... | "
                    "run [--during DEV[,FILE]] [--limit S] -- CMD...\n");
    return 2;
}
