// The files the stand-in and its daemon write: a journal streamed, state,
// statistics and port files replaced whole. Each may be a regular file, a
// link to one (written through) or a new name; never a device, a FIFO or a
// folder, which a rename would destroy or a write would hang on.
#pragma once

#include <string>

namespace kovra_sim {

// Whether `path` may be written as one of those files, so that a run
// refuses it at its start rather than fails at its end.
bool check_output_path(std::string const& path, std::string& error);

// Opens `path` for a journal or a timeline: created if missing, emptied
// unless appended to, and locked so that two processes never interleave
// lines in one file. The descriptor, or -1 with the reason in `error`.
int open_exclusive(std::string const& path, std::string& error, bool append = false);

// Writes all of `size` bytes to `fd`; false with the reason in `error`.
bool write_all(int fd, char const* data, size_t size, std::string& error);
inline bool write_all(int fd, std::string const& text, std::string& error) {
    return write_all(fd, text.data(), text.size(), error);
}

// Locks the file `path` names, which need not exist, against every other
// process that would write it: the descriptor holding the lock, or -1.
int lock_output(std::string const& path, std::string& error);
void unlock_output(int fd);

// The whole file, or "" if it cannot be read.
std::string read_file(std::string const& path);

// `pattern` with "%p" as the process id `pid` and "%%" as "%".
std::string expand_name(std::string const& pattern, long pid);

// Replaces `path` (or the file its link names) by one holding `text`,
// written beside it and renamed over it, so a reader sees the old file or
// the new one, never a mix. On failure nothing is left behind.
bool replace_file(std::string const& path, std::string const& text, std::string& error);

}  // namespace kovra_sim
