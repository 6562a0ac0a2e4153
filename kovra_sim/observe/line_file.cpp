#include "observe/line_file.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/files.h"

namespace kovra_sim {
namespace {

bool ends_with(std::string const& s, char const* tail) {
    size_t const n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

}  // namespace

LineFile::~LineFile() {
    std::string ignored;
    close(ignored);
}

bool LineFile::open(std::string const& path, std::string& error) {
    int const fd = open_exclusive(path, error, true);
    if (fd < 0) return false;
    struct stat st {};
    ::fstat(fd, &st);
    path_ = path;
    fd_ = fd;
    size_ = uint64_t(st.st_size);
    gzip_ = ends_with(path, ".gz");
    return begin_member(error);
}

bool LineFile::begin_member(std::string& error) {
    // 16 + window bits: a gzip member, not a zlib stream.
    if (!gzip_ || deflateInit2(&z_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8,
                               Z_DEFAULT_STRATEGY) == Z_OK) {
        return true;
    }
    abandon();
    error = "cannot deflate";
    return false;
}

bool LineFile::end_member(std::string& error) {
    if (!gzip_) return true;
    bool const ok = put("", 0, Z_FINISH, error);
    deflateEnd(&z_);
    return ok;
}

bool LineFile::put(char const* data, size_t size, int flush, std::string& error) {
    if (!gzip_) {
        if (!write_all(fd_, data, size, error)) return false;
        size_ += size;
        return true;
    }
    z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    z_.avail_in = uInt(size);
    int status;
    do {
        char out[16384];
        z_.next_out = reinterpret_cast<Bytef*>(out);
        z_.avail_out = sizeof out;
        status = deflate(&z_, flush);
        size_t const n = sizeof out - z_.avail_out;
        if (!write_all(fd_, out, n, error)) return false;
        size_ += n;
    } while (z_.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
    return true;
}

bool LineFile::write(std::string const& line, std::string& error) {
    std::string const text = line + '\n';
    return put(text.data(), text.size(), Z_SYNC_FLUSH, error);
}

bool LineFile::replace(std::function<bool(LineFile&, std::string&)> const& fill,
                       std::string& error) {
    std::string const fresh = path_ + ".new." + std::to_string(::getpid());
    ::unlink(fresh.c_str());
    LineFile into;
    bool ok = into.open(fresh, error) && fill(into, error);
    // Renamed over the old one while both are locked: no other process can
    // take the name in between.
    if (ok && std::rename(fresh.c_str(), path_.c_str()) != 0) {
        error = std::strerror(errno);
        ok = false;
    }
    if (!ok) {
        into.close(error);
        ::unlink(fresh.c_str());
        return false;
    }
    // This one takes the new file's descriptor, and its lock, over.
    std::string ignored;
    close(ignored);
    if (!into.end_member(error)) return false;
    std::swap(fd_, into.fd_);
    size_ = into.size_;
    return begin_member(error);
}

bool LineFile::close(std::string& error) {
    if (fd_ < 0) return true;
    bool ok = end_member(error);
    if (::close(fd_) != 0 && ok) {
        error = std::strerror(errno);
        ok = false;
    }
    fd_ = -1;
    return ok;
}

void LineFile::abandon() {
    if (fd_ < 0) return;
    if (gzip_) deflateEnd(&z_);
    ::close(fd_);
    fd_ = -1;
}

}  // namespace kovra_sim
