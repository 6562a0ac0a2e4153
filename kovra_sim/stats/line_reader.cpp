#include "stats/line_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace kovra_sim {

std::string size_text(size_t bytes) {
    return bytes % (size_t(1) << 20) == 0 ? std::to_string(bytes >> 20) + " MiB"
                                          : std::to_string(bytes) + " bytes";
}

LineReader::LineReader(std::string const& path, size_t max_line)
    : path_(path), max_line_(max_line) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error(path + ": cannot read it (" + std::strerror(errno) + ")");
    // 16 + window bits: a gzip header, not zlib's.
    if (inflateInit2(&z_, 16 + MAX_WBITS) != Z_OK) {
        ::close(fd_);
        throw std::runtime_error(path + ": cannot inflate it");
    }
}

LineReader::~LineReader() {
    inflateEnd(&z_);
    ::close(fd_);
}

bool LineReader::fill() {
    char buffer[65536];
    ssize_t n;
    do {
        n = ::read(fd_, buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR);
    if (n < 0) throw std::runtime_error(path_ + ": " + std::strerror(errno));
    offset_ += size_t(n);
    raw_.append(buffer, size_t(n));
    if (!decided_ && raw_.size() >= 2) {
        gzip_ = raw_[0] == '\x1f' && raw_[1] == '\x8b';
        decided_ = true;
    }
    if (!decided_) return n > 0;
    if (!gzip_) {
        text_ += raw_;
        raw_.clear();
        return n > 0;
    }
    size_t const before = text_.size();
    while (!raw_.empty()) {
        char out[65536];
        z_.next_in = reinterpret_cast<Bytef*>(raw_.data());
        z_.avail_in = uInt(raw_.size());
        z_.next_out = reinterpret_cast<Bytef*>(out);
        z_.avail_out = sizeof out;
        int const status = inflate(&z_, Z_NO_FLUSH);
        text_.append(out, sizeof out - z_.avail_out);
        raw_.erase(0, raw_.size() - z_.avail_in);
        if (status == Z_STREAM_END) {
            inflateReset(&z_);  // another member may follow
        } else if (status == Z_BUF_ERROR || (status == Z_OK && z_.avail_out != 0)) {
            break;  // the rest is yet to come, or never will: what is whole counts
        } else if (status != Z_OK) {
            throw std::runtime_error(path_ + ": not a gzip stream that can be read");
        }
    }
    return n > 0 || text_.size() > before;
}

bool LineReader::next(std::string& line) {
    auto const too_long = [&] {
        return LineTooLong(path_ + ": a line longer than " + size_text(max_line_));
    };
    // What was searched is not searched again: a long line is read in many fills.
    size_t searched = 0, newline;
    while ((newline = text_.find('\n', searched)) == std::string::npos) {
        if (text_.size() > max_line_) throw too_long();
        searched = text_.size();
        if (!fill()) return false;
    }
    if (newline > max_line_) throw too_long();
    line.assign(text_, 0, newline);
    text_.erase(0, newline + 1);
    return true;
}

}  // namespace kovra_sim
