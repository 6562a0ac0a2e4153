// The exec family, as the trace layer stands in front of it: before a
// traced process becomes another program, the files are written and the
// new program is told to carry them on (see tracer.h). An exec that fails
// leaves the process tracing on.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdarg>
#include <vector>

#include "trace/tracer.h"

using namespace kovra_sim::trace;

extern char** environ;

namespace {

// An environment to pass on: `envp` with what the layer adds.
class Carried {
public:
    explicit Carried(char* const* envp) {
        for (char* const* e = envp; e && *e; ++e) texts_.emplace_back(*e);
        size_t const given = texts_.size();
        before_exec(texts_);
        if (texts_.size() == given) return;  // nothing to carry: the environment as it was
        for (auto& t : texts_) pointers_.push_back(t.data());
        pointers_.push_back(nullptr);
    }
    char* const* envp(char* const* given) const {
        return pointers_.empty() ? given : pointers_.data();
    }

private:
    std::vector<std::string> texts_;
    std::vector<char*> pointers_;
};

template <class F>
F next_of(char const* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

int failed(int status) {
    after_failed_exec();
    return status;
}

// The arguments of a variadic exec after `first`, up to the null; `envp`
// after it, for execle.
std::vector<char*> arguments(char const* first, va_list args, char* const** envp) {
    std::vector<char*> argv{const_cast<char*>(first)};
    while (char* a = va_arg(args, char*)) argv.push_back(a);
    argv.push_back(nullptr);
    if (envp) *envp = va_arg(args, char* const*);
    return argv;
}

}  // namespace

#define KOVRA_EXPORT extern "C" __attribute__((visibility("default")))

KOVRA_EXPORT int execve(char const* path, char* const argv[], char* const envp[]) {
    static auto const real = next_of<int (*)(char const*, char* const*, char* const*)>("execve");
    Carried const carried(envp);
    return failed(real(path, argv, carried.envp(envp)));
}

KOVRA_EXPORT int execvpe(char const* file, char* const argv[], char* const envp[]) {
    static auto const real = next_of<int (*)(char const*, char* const*, char* const*)>("execvpe");
    Carried const carried(envp);
    return failed(real(file, argv, carried.envp(envp)));
}

KOVRA_EXPORT int fexecve(int fd, char* const argv[], char* const envp[]) {
    static auto const real = next_of<int (*)(int, char* const*, char* const*)>("fexecve");
    Carried const carried(envp);
    return failed(real(fd, argv, carried.envp(envp)));
}

KOVRA_EXPORT int execv(char const* path, char* const argv[]) { return execve(path, argv, environ); }

KOVRA_EXPORT int execvp(char const* file, char* const argv[]) {
    return execvpe(file, argv, environ);
}

KOVRA_EXPORT int execl(char const* path, char const* arg, ...) {
    va_list args;
    va_start(args, arg);
    std::vector<char*> const argv = arguments(arg, args, nullptr);
    va_end(args);
    return execve(path, argv.data(), environ);
}

KOVRA_EXPORT int execlp(char const* file, char const* arg, ...) {
    va_list args;
    va_start(args, arg);
    std::vector<char*> const argv = arguments(arg, args, nullptr);
    va_end(args);
    return execvpe(file, argv.data(), environ);
}

KOVRA_EXPORT int execle(char const* path, char const* arg, ...) {
    va_list args;
    va_start(args, arg);
    char* const* envp = nullptr;
    std::vector<char*> const argv = arguments(arg, args, &envp);
    va_end(args);
    return execve(path, argv.data(), envp);
}
