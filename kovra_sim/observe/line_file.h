// A file of lines that a run appends to as it goes, locked against every
// other process: plain, or a gzip stream when its name ends in ".gz" (a new
// member for each run, so runs append to a file as to a plain one). Each
// line is flushed whole as it is written, so a reader, or the file a killed
// writer left, has every line written so far.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <functional>
#include <string>

namespace kovra_sim {

class LineFile {
public:
    LineFile() = default;
    LineFile(LineFile const&) = delete;
    LineFile& operator=(LineFile const&) = delete;
    ~LineFile();

    // Opens `path` to append to, creating it; false with the reason in
    // `error` (another process holding it among them).
    bool open(std::string const& path, std::string& error);
    bool is_open() const { return fd_ >= 0; }
    std::string const& path() const { return path_; }
    // Bytes the file holds.
    uint64_t size() const { return size_; }

    // Writes `line` and its newline out at once; false with the reason.
    bool write(std::string const& line, std::string& error);
    // Replaces the file by what `fill` writes into a new one (from the old,
    // say, which is still there to read), then goes on appending to it.
    bool replace(std::function<bool(LineFile& into, std::string& error)> const& fill,
                 std::string& error);
    // Ends a gzip stream's member and closes the file; false with the
    // first failure since it was opened.
    bool close(std::string& error);
    // Lets go of the file without writing: in a forked child, whose parent
    // still writes it.
    void abandon();

private:
    bool put(char const* data, size_t size, int flush, std::string& error);
    // A gzip file's member: begun when the file opens, ended when it closes.
    bool begin_member(std::string& error);
    bool end_member(std::string& error);

    std::string path_;
    int fd_ = -1;
    bool gzip_ = false;
    z_stream z_{};
    uint64_t size_ = 0;
};

}  // namespace kovra_sim
