// Starts several programs in turn, round after round, and times each from
// exec to the first output line that starts with a given prefix, and to its
// exit. Alternating the programs spreads a noisy machine's slow moments over
// all of them instead of one.
//
//   startup-race [--runs N] [--warmup N]
//       --cmd NAME PREFIX STDIN PROGRAM [ARGS...]   (STDIN: a file, or - for none)
//       --cmd ...
//
// Prints one "cmd" line per program and one "ratio" line per program after
// the first, which is the yardstick.
#include "stats.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Command
{
    std::string name;
    std::string prefix;
    std::string stdinPath;
    std::vector<std::string> argv;
    std::vector<double> lineMs, exitMs, rssKib;
};

struct Sample
{
    bool ok = false;
    double lineMs = 0, exitMs = 0, rssKib = 0;
};

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

Sample runOnce(const Command &cmd)
{
    Sample s;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return s;
    const int in =
        open(cmd.stdinPath == "-" ? "/dev/null" : cmd.stdinPath.c_str(), O_RDONLY | O_CLOEXEC);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, null, 2);
    std::vector<char *> argv;
    for (const std::string &a : cmd.argv)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    const Clock::time_point t0 = Clock::now();
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(in);
    close(null);
    if (rc != 0) {
        std::fprintf(stderr, "startup-race: cannot start %s: %s\n", argv[0], std::strerror(rc));
        close(out[0]);
        return s;
    }

    // Read everything the program writes; note when the wanted line is complete.
    std::string pending;
    bool seen = false;
    char buf[4096];
    for (;;) {
        pollfd p{out[0], POLLIN, 0};
        const int left = 20000 - int(ms(Clock::now() - t0));
        if (left <= 0 || poll(&p, 1, left) <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        const ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0)
            break;
        if (seen)
            continue;
        pending.append(buf, size_t(n));
        size_t start = 0;
        for (size_t nl; (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1) {
            if (pending.compare(start, cmd.prefix.size(), cmd.prefix) == 0) {
                s.lineMs = ms(Clock::now() - t0);
                seen = true;
                break;
            }
        }
        pending.erase(0, start);
    }
    close(out[0]);
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    s.exitMs = ms(Clock::now() - t0);
    s.rssKib = double(usage.ru_maxrss);
    s.ok = seen && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!s.ok)
        std::fprintf(stderr, "startup-race: %s failed (line %s, status %d)\n", cmd.name.c_str(),
                     seen ? "seen" : "not seen", status);
    return s;
}

[[noreturn]] void usage()
{
    std::fputs("usage: startup-race [--runs N] [--warmup N] --cmd NAME PREFIX STDIN PROGRAM "
               "[ARGS...] [--cmd ...]\n",
               stderr);
    std::exit(2);
}

} // namespace

int main(int argc, char *argv[])
{
    int runs = 20;
    int warmup = 3;
    std::vector<Command> cmds;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (!cmds.empty() && a != "--cmd") {
            cmds.back().argv.push_back(a);
        } else if (a == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--warmup" && i + 1 < argc) {
            warmup = std::max(0, std::atoi(argv[++i]));
        } else if (a == "--cmd" && i + 4 < argc) {
            cmds.push_back(
                Command{argv[i + 1], argv[i + 2], argv[i + 3], {argv[i + 4]}, {}, {}, {}});
            i += 4;
        } else {
            usage();
        }
    }
    if (cmds.empty())
        usage();

    for (int w = 0; w < warmup; ++w)
        for (const Command &c : cmds)
            runOnce(c);

    // Per round, each program's time over the yardstick's time in that round.
    std::vector<std::vector<double>> roundRatios(cmds.size());
    int failures = 0;
    for (int r = 0; r < runs; ++r) {
        std::vector<Sample> round(cmds.size());
        // Every other round in reverse order, so neither program always goes first.
        for (size_t k = 0; k < cmds.size(); ++k) {
            const size_t i = (r % 2 == 0) ? k : cmds.size() - 1 - k;
            round[i] = runOnce(cmds[i]);
        }
        for (size_t i = 0; i < cmds.size(); ++i) {
            if (!round[i].ok) {
                ++failures;
                continue;
            }
            cmds[i].lineMs.push_back(round[i].lineMs);
            cmds[i].exitMs.push_back(round[i].exitMs);
            cmds[i].rssKib.push_back(round[i].rssKib);
            if (i > 0 && round[0].ok)
                roundRatios[i].push_back(round[i].lineMs / round[0].lineMs);
        }
    }

    for (const Command &c : cmds) {
        std::printf("cmd %s runs=%zu line_median_ms=%.1f line_min_ms=%.1f line_max_ms=%.1f "
                    "exit_median_ms=%.1f rss_median_kib=%.0f\n",
                    c.name.c_str(), c.lineMs.size(), quantile(c.lineMs, 0.5), quantile(c.lineMs, 0),
                    quantile(c.lineMs, 1), quantile(c.exitMs, 0.5), quantile(c.rssKib, 0.5));
    }
    const Command &base = cmds.front();
    for (size_t i = 1; i < cmds.size(); ++i) {
        const Command &c = cmds[i];
        std::printf("ratio %s line_median=%.2f line_min=%.2f line_max=%.2f rss_median=%.2f\n",
                    c.name.c_str(), quantile(c.lineMs, 0.5) / quantile(base.lineMs, 0.5),
                    quantile(roundRatios[i], 0), quantile(roundRatios[i], 1),
                    quantile(c.rssKib, 0.5) / quantile(base.rssKib, 0.5));
    }
    return failures == 0 ? 0 : 1;
}
