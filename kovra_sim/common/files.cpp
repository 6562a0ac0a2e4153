#include "files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kovra_sim {

int open_exclusive(std::string const& path, std::string& error) {
    // Non-blocking, so that a FIFO without a reader fails at once.
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
            error = std::strerror(errno);
            return false;
        }
        done += size_t(n);
    }
    return true;
}

bool replace_file(std::string const& path, std::string const& text, std::string& error) {
    std::string const temporary = path + ".tmp." + std::to_string(::getpid());
    int const fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    bool ok = write_all(fd, text, error);
    if (::close(fd) != 0 && ok) {
        error = std::strerror(errno);
        ok = false;
    }
    if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = std::strerror(errno);
        ok = false;
    }
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}

}  // namespace kovra_sim
