#pragma once

#include <stdlib.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// The whole file, or "" if it cannot be read.
inline std::string readFile(std::string const& path) {
    std::ostringstream content;
    content << std::ifstream(path).rdbuf();
    return content.str();
}

// How often `what` occurs in `text`.
inline size_t countOf(std::string const& text, std::string const& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The calls per function that a camera's state file counts.
inline std::map<std::string, uint64_t> stateCalls(std::string const& state) {
    std::map<std::string, uint64_t> calls;
    std::istringstream in(state);
    for (std::string line; std::getline(in, line);) {
        size_t const space = line.rfind(' ');
        if (line.rfind("calls ", 0) == 0)
            calls[line.substr(6, space - 6)] = std::stoull(line.substr(space + 1));
    }
    return calls;
}

inline std::vector<std::string> linesOf(std::string const& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A new empty folder in the temporary directory, its name starting `prefix`.
inline std::string makeTempDir(std::string const& prefix) {
    std::string path = std::filesystem::temp_directory_path() / (prefix + ".XXXXXX");
    return mkdtemp(path.data()) ? path : std::string();
}

// Polls `done` every 5 ms until it holds or `limit` passes; whether it held.
template <class Done>
bool eventually(Done&& done, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    for (auto const until = std::chrono::steady_clock::now() + limit;;
         std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
        if (done()) return true;
        if (std::chrono::steady_clock::now() > until) return false;
    }
}

// How a command run by the shell ended: its exit status (-1 if a signal
// ended it), standard output and standard error.
struct Outcome {
    int exit_code;
    std::string out, err;
};

// Runs `command` with /bin/sh, its output into files `tag` names in `dir`.
inline Outcome runShell(std::string const& command, std::string const& dir,
                        std::string const& tag = "") {
    std::string const out = dir + "/out" + tag, err = dir + "/err" + tag;
    int const status = std::system(("(" + command + ") >" + out + " 2>" + err).c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(out), readFile(err)};
}
