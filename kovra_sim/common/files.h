// The files the stand-in and its daemon write: a journal streamed as calls
// happen, and state and statistics files replaced whole.
#pragma once

#include <string>

namespace kovra_sim {

// Opens `path` for a journal: created if missing, emptied, and locked
// against every other process, so two processes never interleave lines in
// one file. Only a regular file will do (a FIFO without a reader would hang
// its writer). Returns the descriptor, or -1 with the reason in `error`.
int open_exclusive(std::string const& path, std::string& error);

// Writes all of `size` bytes to `fd`; false with the reason in `error`.
bool write_all(int fd, char const* data, size_t size, std::string& error);
inline bool write_all(int fd, std::string const& text, std::string& error) {
    return write_all(fd, text.data(), text.size(), error);
}

// Replaces `path` by a file holding `text`: written beside it under a name
// of its own, then renamed over it, so a reader sees the old file or the new
// one and never a mix, even with several writers.
bool replace_file(std::string const& path, std::string const& text, std::string& error);

}  // namespace kovra_sim
