#include "common/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/functions.h"

namespace kovra_sim {
namespace {

std::string folder_of(std::string const& path) {
    size_t const slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file that writing `path` must replace: the path itself, or the end of
// its chain of links, with its mode if it exists.
struct Target {
    std::string path;
    bool exists = false;
    mode_t mode = 0;
};
bool resolve(std::string const& path, Target& target, std::string& error) {
    struct stat st {};
    if (path.empty()) {
        error = "no file named";
        return false;
    }
    target.path = path;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (!::realpath(path.c_str(), resolved)) {
            error = "a symbolic link to nothing (" + std::string(std::strerror(errno)) + ")";
            return false;
        }
        target.path = resolved;
    }
    target.exists = ::stat(target.path.c_str(), &st) == 0;
    if (target.exists) {
        target.mode = st.st_mode;
        if (!S_ISREG(st.st_mode)) error = "not a regular file";
        return S_ISREG(st.st_mode);
    }
    if (errno != ENOENT) {
        error = std::strerror(errno);
        return false;
    }
    std::string const folder = folder_of(target.path);
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = "no folder " + folder;
        return false;
    }
    if (::access(folder.c_str(), W_OK) != 0) {
        error = "cannot write in " + folder + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

bool check_output_path(std::string const& path, std::string& error) {
    Target target;
    return resolve(path, target, error);
}

int open_exclusive(std::string const& path, std::string& error, bool append) {
    if (!check_output_path(path, error)) return -1;
    // Non-blocking, so that a FIFO put there since the check fails at once.
    int const fd = ::open(
        path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | (append ? O_APPEND : 0), 0644);
    if (fd < 0) {
        error = errno == ENXIO ? "not a regular file" : std::strerror(errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "not a regular file";
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? "in use by another process" : std::strerror(errno);
    } else if (!append && ::ftruncate(fd, 0) != 0) {
        error = std::strerror(errno);
    } else {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        return fd;
    }
    ::close(fd);
    return -1;
}

bool write_all(int fd, char const* data, size_t size, std::string& error) {
    size_t done = 0;
    while (done < size) {
        ssize_t const n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? std::strerror(errno) : "nothing written";
            return false;
        }
        done += size_t(n);
    }
    return true;
}

int lock_output(std::string const& path, std::string& error) {
    Target target;
    char folder[PATH_MAX];
    if (!resolve(path, target, error)) return -1;
    if (!::realpath(folder_of(target.path).c_str(), folder)) {
        error = std::strerror(errno);
        return -1;
    }
    // The lock is a name no other process can take while this one holds it,
    // and that goes with it, leaving no file: an abstract socket's, after
    // the file's whole path.
    std::string const whole =
        std::string(folder) + "/" + target.path.substr(target.path.rfind('/') + 1);
    sockaddr_un address{};  // sun_path starts with the NUL of an abstract name
    address.sun_family = AF_UNIX;
    int const length =
        1 + std::snprintf(address.sun_path + 1, sizeof address.sun_path - 1, "kovra-output-%016llx",
                          static_cast<unsigned long long>(fnv1a(whole)));
    int const fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address),
                          socklen_t(offsetof(sockaddr_un, sun_path) + size_t(length))) == 0) {
        return fd;
    }
    error = errno == EADDRINUSE ? "in use by another process" : std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return -1;
}

void unlock_output(int fd) {
    if (fd >= 0) ::close(fd);
}

std::string read_file(std::string const& path) {
    std::string text;
    int const fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(n));
    ::close(fd);
    return text;
}

std::string expand_name(std::string const& pattern, long pid) {
    std::string out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() &&
            (pattern[i + 1] == 'p' || pattern[i + 1] == '%')) {
            out += pattern[++i] == 'p' ? std::to_string(pid) : "%";
        } else {
            out += pattern[i];
        }
    }
    return out;
}

bool replace_file(std::string const& path, std::string const& text, std::string& error) {
    Target target;
    if (!resolve(path, target, error)) return false;
    std::string const temporary = target.path + ".tmp." + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    int const fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    auto failed = [&] {
        error = std::strerror(errno);
        return false;
    };
    // The replacement keeps the permissions of the file it replaces.
    bool ok = true;
    if (target.exists && ::fchmod(fd, target.mode & 07777) != 0) ok = failed();
    if (ok) ok = write_all(fd, text, error);
    if (ok && ::fsync(fd) != 0) ok = failed();
    if (::close(fd) != 0 && ok) ok = failed();
    if (ok && std::rename(temporary.c_str(), target.path.c_str()) != 0) ok = failed();
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}

}  // namespace kovra_sim
