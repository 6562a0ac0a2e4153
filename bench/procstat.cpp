// Runs a command once and prints one line about the finished process:
//   wall_s=W user_s=U sys_s=S maxrss_kb=M vcsw=V ivcsw=I exit=E
// from the kernel's own accounting (wait4), the way /usr/bin/time -v does,
// so the benchmark needs no other tool. V and I count the context switches
// of all its threads: voluntary, a thread waiting, and involuntary, the
// scheduler taking its core away. exit is the exit status, or 128 plus
// the signal that ended it; a command still running after --timeout seconds
// is killed and reported as exit=timeout.
//
// Usage: procstat [--timeout SECONDS] [--stdout FILE] -- COMMAND [ARG ...]
// The command's standard output goes to FILE (default /dev/null), so that
// writing to a terminal is never part of what is measured.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

double seconds(timeval const& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

double now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

int usage() {
    std::fprintf(stderr,
                 "usage: procstat [--timeout SECONDS] [--stdout FILE] -- COMMAND [ARG ...]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    double timeout = 600;
    char const* outPath = "/dev/null";
    int i = 1;
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        } else if (arg == "--timeout" && i + 1 < argc) {
            timeout = std::atof(argv[++i]);
        } else if (arg == "--stdout" && i + 1 < argc) {
            outPath = argv[++i];
        } else {
            return usage();
        }
    }
    if (i >= argc || timeout <= 0) {
        return usage();
    }

    // SIGCHLD stays blocked so that it can be waited for with a bound.
    sigset_t childSignal;
    sigemptyset(&childSignal);
    sigaddset(&childSignal, SIGCHLD);
    sigprocmask(SIG_BLOCK, &childSignal, nullptr);

    int out = open(outPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) {
        std::fprintf(stderr, "procstat: %s: %s\n", outPath, std::strerror(errno));
        return 2;
    }
    double start = now();
    pid_t child = fork();
    if (child < 0) {
        std::perror("procstat: fork");
        return 2;
    }
    if (child == 0) {
        sigprocmask(SIG_UNBLOCK, &childSignal, nullptr);
        dup2(out, STDOUT_FILENO);
        close(out);
        execvp(argv[i], argv + i);
        std::fprintf(stderr, "procstat: %s: %s\n", argv[i], std::strerror(errno));
        _exit(127);
    }
    close(out);

    bool timedOut = false;
    int status = 0;
    rusage usage{};
    for (;;) {
        pid_t done = wait4(child, &status, WNOHANG, &usage);
        if (done == child) {
            break;
        }
        double left = start + timeout - now();
        if (left <= 0) {
            timedOut = true;
            kill(child, SIGKILL);
            wait4(child, &status, 0, &usage);
            break;
        }
        timespec wait{static_cast<time_t>(left),
                      static_cast<long>((left - static_cast<time_t>(left)) * 1e9)};
        sigtimedwait(&childSignal, nullptr, &wait);
    }
    double wall = now() - start;

    std::string exitText;
    if (timedOut) {
        exitText = "timeout";
    } else if (WIFEXITED(status)) {
        exitText = std::to_string(WEXITSTATUS(status));
    } else {
        exitText = std::to_string(128 + WTERMSIG(status));
    }
    std::printf("wall_s=%.6f user_s=%.6f sys_s=%.6f maxrss_kb=%ld vcsw=%ld ivcsw=%ld exit=%s\n",
                wall, seconds(usage.ru_utime), seconds(usage.ru_stime), usage.ru_maxrss,
                usage.ru_nvcsw, usage.ru_nivcsw, exitText.c_str());
    return timedOut ? 3 : 0;
}
