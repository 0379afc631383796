// Starts several programs in turn, round after round, and times each from
// exec to the first output line that starts with a given prefix, and to its
// exit. Alternating the programs spreads a noisy machine's slow moments over
// all of them instead of one.
//
//   startup-race [--runs N] [--warmup N]
//       --cmd NAME PREFIX STDIN PROGRAM [ARGS...]   (STDIN: a file, or - for none)
//       --cmd ...
//
// Prints one "cmd" line per program and one "ratio" line for each program
// over each program before it: medians of the ratios within a round.
//
// When the line appears the program is stopped for a moment and its memory
// read from /proc/PID/smaps: what it wrote itself (private dirty pages) apart
// from the font files and fontconfig caches it maps, which are clean pages
// shared with every other program that shows text.
#include "stats.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
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
    std::vector<double> lineMs, exitMs, rssKib, privateKib, fontKib;
};

struct Sample
{
    bool ok = false;
    double lineMs = 0, exitMs = 0, rssKib = 0, privateKib = 0, fontKib = 0;
};

bool isFontFile(const std::string &path)
{
    for (const char *end : {".ttf", ".otf", ".ttc", ".pfb", ".cache-8", ".cache-9"})
        if (path.size() > std::strlen(end) &&
            path.compare(path.size() - std::strlen(end), std::string::npos, end) == 0)
            return true;
    return false;
}

// Private dirty KiB of the whole process, and resident KiB of its font mappings.
void readMemory(pid_t pid, Sample &s)
{
    std::ifstream smaps("/proc/" + std::to_string(pid) + "/smaps");
    std::string line;
    bool font = false;
    while (std::getline(smaps, line)) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos || line.find(' ') < colon) {
            // A mapping's header: address range, perms, offset, dev, inode, path.
            const size_t slash = line.find('/');
            font = slash != std::string::npos && isFontFile(line.substr(slash));
            continue;
        }
        const std::string key = line.substr(0, colon);
        const double kib = std::atof(line.c_str() + colon + 1);
        if (key == "Private_Dirty")
            s.privateKib += kib;
        else if (key == "Rss" && font)
            s.fontKib += kib;
    }
}

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
    // A file arrives through a pipe that stays open until the line has been
    // seen and a little longer, so that a program ending with its input
    // still gets to paint its first frame.
    int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    int feed = -1;
    if (cmd.stdinPath != "-") {
        std::ifstream file(cmd.stdinPath, std::ios::binary);
        const std::string content((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
        int p[2];
        if (pipe2(p, O_CLOEXEC) != 0)
            return s;
        close(in);
        in = p[0];
        feed = p[1];
        // Small enough for the pipe's buffer.
        if (write(feed, content.data(), content.size()) != ssize_t(content.size()))
            return s;
    }
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
        int left = 20000 - int(ms(Clock::now() - t0));
        if (feed >= 0 && seen) {
            const int untilClose = int(s.lineMs) + 300 - int(ms(Clock::now() - t0));
            if (untilClose <= 0) {
                close(feed);
                feed = -1;
            } else {
                left = std::min(left, untilClose);
            }
        }
        if (left <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        const int ready = poll(&p, 1, left);
        if (ready == 0 && feed >= 0 && seen)
            continue;
        if (ready <= 0) {
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
                kill(pid, SIGSTOP);
                readMemory(pid, s);
                kill(pid, SIGCONT);
                break;
            }
        }
        pending.erase(0, start);
    }
    close(out[0]);
    if (feed >= 0)
        close(feed);
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
                Command{argv[i + 1], argv[i + 2], argv[i + 3], {argv[i + 4]}, {}, {}, {}, {}, {}});
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

    // Per round, each program's time and peak memory over each earlier
    // program's in that round.
    const size_t n = cmds.size();
    std::vector<std::vector<double>> lineRatios(n * n), rssRatios(n * n);
    int failures = 0;
    for (int r = 0; r < runs; ++r) {
        std::vector<Sample> round(n);
        // Every other round in reverse order, so no program always goes first.
        for (size_t k = 0; k < n; ++k) {
            const size_t i = (r % 2 == 0) ? k : n - 1 - k;
            round[i] = runOnce(cmds[i]);
        }
        for (size_t i = 0; i < n; ++i) {
            if (!round[i].ok) {
                ++failures;
                continue;
            }
            Command &c = cmds[i];
            c.lineMs.push_back(round[i].lineMs);
            c.exitMs.push_back(round[i].exitMs);
            c.rssKib.push_back(round[i].rssKib);
            c.privateKib.push_back(round[i].privateKib);
            c.fontKib.push_back(round[i].fontKib);
            for (size_t j = 0; j < i; ++j) {
                if (!round[j].ok)
                    continue;
                lineRatios[i * n + j].push_back(round[i].lineMs / round[j].lineMs);
                rssRatios[i * n + j].push_back(round[i].rssKib / round[j].rssKib);
            }
        }
    }

    for (const Command &c : cmds) {
        std::printf("cmd %s runs=%zu line_median_ms=%.1f line_min_ms=%.1f line_max_ms=%.1f "
                    "exit_median_ms=%.1f rss_median_kib=%.0f private_dirty_median_kib=%.0f "
                    "font_files_median_kib=%.0f\n",
                    c.name.c_str(), c.lineMs.size(), quantile(c.lineMs, 0.5), quantile(c.lineMs, 0),
                    quantile(c.lineMs, 1), quantile(c.exitMs, 0.5), quantile(c.rssKib, 0.5),
                    quantile(c.privateKib, 0.5), quantile(c.fontKib, 0.5));
    }
    for (size_t i = 1; i < n; ++i) {
        for (size_t j = 0; j < i; ++j) {
            const std::vector<double> &line = lineRatios[i * n + j];
            std::printf("ratio %s over=%s line_median=%.2f line_min=%.2f line_max=%.2f "
                        "rss_median=%.2f\n",
                        cmds[i].name.c_str(), cmds[j].name.c_str(), quantile(line, 0.5),
                        quantile(line, 0), quantile(line, 1), quantile(rssRatios[i * n + j], 0.5));
        }
    }
    return failures == 0 ? 0 : 1;
}
