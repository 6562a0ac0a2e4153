// The lines of a file as they come, one at a time: plain text, or a gzip
// stream (of one member or several written one after another). What is cut
// short, a last line without its newline or a gzip stream a killed writer
// left unfinished, is read up to its last whole line. A file still being
// written can be read on: next() finds the lines added since it last
// returned false.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <stdexcept>
#include <string>

namespace kovra_sim {

// The longest line read unless told otherwise: a timeline's lines are a few
// KiB, and without a bound a file with no newline would be held whole.
constexpr size_t kMaxLineBytes = size_t(4) << 20;

// "4 MiB", or "1000 bytes": a bound as a message gives it.
std::string size_text(size_t bytes);

// What next() throws for a line past the most: "PATH: a line longer than 4 MiB".
struct LineTooLong : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class LineReader {
public:
    // Throws std::runtime_error ("PATH: why") for a file that cannot be read.
    explicit LineReader(std::string const& path, size_t max_line = kMaxLineBytes);
    ~LineReader();
    LineReader(LineReader const&) = delete;
    LineReader& operator=(LineReader const&) = delete;

    // The next whole line, without its newline; false when none is whole yet.
    // Throws LineTooLong once the line holds more than the most.
    bool next(std::string& line);
    void set_max_line(size_t bytes) { max_line_ = bytes; }
    // What follows the last whole line: a line without its newline.
    std::string const& rest() const { return text_; }
    // Bytes of the file read so far.
    size_t offset() const { return offset_; }

private:
    // Reads more of the file into `text_`; false if none came.
    bool fill();

    std::string path_;
    size_t max_line_;
    int fd_ = -1;
    bool gzip_ = false;
    bool decided_ = false;  // whether the file is gzip, once its first bytes came
    z_stream z_{};
    std::string raw_;   // read but not yet inflated
    std::string text_;  // text not yet returned
    size_t offset_ = 0;
};

}  // namespace kovra_sim
