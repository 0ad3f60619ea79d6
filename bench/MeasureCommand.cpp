// ceosalosj_measure: runs a command and prints its wall-clock time and peak
// resident memory, for bench/compare.sh.
//
//   ceosalosj_measure [--repeat=N] [--cpu] -- command [arguments...]
//
// prints one line "<seconds> <peak resident KiB>": with --repeat the best
// (smallest) time of N runs and the largest peak; with --cpu a third
// column, the processor time (user and system) of the best run.  The command's own output,
// stdout too, goes to stderr.  Exit status: the command's, or 127 when
// it cannot be started.
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Run {
    double seconds = 0.0;
    double cpuSeconds = 0.0;
    long peakKib = 0;
    int status = 127;
};

Run RunOnce(char** command) {
    Run run;
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("fork");
        return run;
    }
    if (child == 0) {
        ::dup2(STDERR_FILENO, STDOUT_FILENO);  // stdout carries only the measurement
        ::execvp(command[0], command);
        std::perror(command[0]);
        std::_Exit(127);
    }
    int status = 0;
    struct rusage usage;
    std::memset(&usage, 0, sizeof usage);
    while (::wait4(child, &status, 0, &usage) < 0) {
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakKib = usage.ru_maxrss;  // KiB on Linux
    run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    int repeat = 1;
    bool cpu = false;
    int first = 1;
    for (; first < argc; ++first) {
        if (std::strncmp(argv[first], "--repeat=", 9) == 0) {
            repeat = std::max(1, std::atoi(argv[first] + 9));
        } else if (std::strcmp(argv[first], "--cpu") == 0) {
            cpu = true;
        } else if (std::strcmp(argv[first], "--") == 0) {
            ++first;
            break;
        } else {
            break;
        }
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: ceosalosj_measure [--repeat=N] [--cpu] -- command [arguments...]\n");
        return 2;
    }
    Run best;
    best.seconds = -1.0;
    for (int i = 0; i < repeat; ++i) {
        const Run run = RunOnce(argv + first);
        if (run.status != 0) {
            std::fprintf(stderr, "ceosalosj_measure: %s exited with status %d\n", argv[first], run.status);
            return run.status;
        }
        if (best.seconds < 0 || run.seconds < best.seconds) {
            best.seconds = run.seconds;
            best.cpuSeconds = run.cpuSeconds;
        }
        best.peakKib = std::max(best.peakKib, run.peakKib);
        best.status = run.status;
    }
    if (cpu)
        std::printf("%.6f %ld %.6f\n", best.seconds, best.peakKib, best.cpuSeconds);
    else
        std::printf("%.6f %ld\n", best.seconds, best.peakKib);
    return 0;
}
