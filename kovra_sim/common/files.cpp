#include "common/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kovra_sim {
namespace {

std::string folder_of(std::string const& path) {
    size_t const slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file that writing `path` must replace: the path itself, or the end of
// its chain of links. Fills `exists` and, for a file that exists, `mode`.
bool resolve(std::string const& path, std::string& target, bool& exists, mode_t& mode,
             std::string& error) {
    struct stat st {};
    if (path.empty()) {
        error = "no file named";
        return false;
    }
    target = path;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (!::realpath(path.c_str(), resolved)) {
            error = "a symbolic link to nothing (" + std::string(std::strerror(errno)) + ")";
            return false;
        }
        target = resolved;
    }
    exists = ::stat(target.c_str(), &st) == 0;
    if (exists) {
        mode = st.st_mode;
        if (!S_ISREG(st.st_mode)) {
            error = "not a regular file";
            return false;
        }
        return true;
    }
    if (errno != ENOENT) {
        error = std::strerror(errno);
        return false;
    }
    std::string const folder = folder_of(target);
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
    std::string target;
    bool exists = false;
    mode_t mode = 0;
    return resolve(path, target, exists, mode, error);
}

int open_exclusive(std::string const& path, std::string& error) {
    if (!check_output_path(path, error)) return -1;
    // Non-blocking, so that a FIFO put there since the check fails at once.
    int const fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = errno == ENXIO ? "not a regular file" : std::strerror(errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "not a regular file";
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? "in use by another process" : std::strerror(errno);
    } else if (::ftruncate(fd, 0) != 0) {
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

bool replace_file(std::string const& path, std::string const& text, std::string& error) {
    std::string target;
    bool exists = false;
    mode_t mode = 0;
    if (!resolve(path, target, exists, mode, error)) return false;
    std::string const temporary = target + ".tmp." + std::to_string(::getpid());
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
    if (exists && ::fchmod(fd, mode & 07777) != 0) ok = failed();
    if (ok) ok = write_all(fd, text, error);
    if (ok && ::fsync(fd) != 0) ok = failed();
    if (::close(fd) != 0 && ok) ok = failed();
    if (ok && std::rename(temporary.c_str(), target.c_str()) != 0) ok = failed();
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}

}  // namespace kovra_sim
