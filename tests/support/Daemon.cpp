#include "support/Daemon.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

extern char** environ;

Daemon::Daemon(std::vector<std::string> const& options, int port, std::string const& host)
    : host_(host.find(':') == std::string::npos ? host : "[" + host + "]") {
    dir_ = makeTempDir("kovra-camd-test");
    std::vector<std::string> argv{"/usr/bin/env", "-u", "KOVRA_SIM"};  // not the test's own
    std::istringstream emulator(KOVRA_SIM_EMULATOR);
    for (std::string word; emulator >> word;) argv.push_back(word);
    argv.insert(argv.end(), {KOVRA_CAMD, "--listen", host_ + ":" + std::to_string(port),
                             "--port-file", dir_ + "/port"});
    argv.insert(argv.end(), options.begin(), options.end());
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, (dir_ + "/log").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int const failed = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed) throw std::runtime_error(std::string("cannot start ") + KOVRA_CAMD);
    // Until it says where it listens, or 20 s (an emulated daemon starts slowly).
    eventually(
        [&] {
            port_ = std::atoi(readFile(dir_ + "/port").c_str());
            if (port_ == 0 && waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
            return port_ != 0 || pid_ < 0;
        },
        std::chrono::seconds(20));
    if (port_ == 0) {
        stop(SIGKILL, 5);
        throw std::runtime_error("kovra-camd did not start: " + log());
    }
}

Daemon::~Daemon() {
    if (pid_ > 0) stop(SIGTERM);
    std::filesystem::remove_all(dir_);
}

std::string Daemon::log() const { return readFile(dir_ + "/log"); }

bool Daemon::said(std::string const& text, std::chrono::milliseconds limit) const {
    return eventually([&] { return log().find(text) != std::string::npos; }, limit);
}

int Daemon::admin_port() const {
    std::string const said = "admin endpoint on http://127.0.0.1:";
    std::string const text = admin_port_ ? "" : log();
    size_t const at = text.find(said);
    if (at != std::string::npos) admin_port_ = std::atoi(text.c_str() + at + said.size());
    return admin_port_;
}

int Daemon::health() const { return http_status(http_call(admin_port(), "GET", "/health")); }

std::map<std::string, double> Daemon::metrics() const {
    return prometheus_samples(http_body(http_call(admin_port(), "GET", "/metrics")));
}

int Daemon::stop(int signal, int seconds) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, signal);
    int status = 0;
    auto const exited = [&] { return waitpid(pid_, &status, WNOHANG) == pid_; };
    bool gone = false;
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer's runtime now and then keeps a signal from the daemon,
    // which then never stops (seen once in 15 stops under load): it is sent
    // again each second until the daemon says it is stopping. Until it has
    // said so, it still catches the signal, so a second one cannot kill it.
    for (int i = 0; i < seconds && !gone; ++i) {
        if (i > 0 && log().find("stopping on signal") == std::string::npos) ::kill(pid_, signal);
        gone = eventually(exited, std::chrono::seconds(1));
    }
#else
    gone = eventually(exited, std::chrono::seconds(seconds));
#endif
    if (!gone) {
        ::kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    return gone && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

static sockaddr_in loopback(int port) {
    return {AF_INET, htons(uint16_t(port)), {htonl(INADDR_LOOPBACK)}, {}};
}

int connect_loopback(int port) {
    int const fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(port);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
    if (fd >= 0) close(fd);
    return -1;
}

int listen_loopback(int& port) {
    int const fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        close(fd);
        return -1;
    }
    port = ntohs(a.sin_port);
    return fd;
}

void receive_within(int fd, std::chrono::milliseconds limit) {
    timeval tv{long(limit.count() / 1000), long(limit.count() % 1000 * 1000)};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

std::string http_exchange(int port, std::string const& request) {
    int const fd = connect_loopback(port);
    if (fd < 0) return "";
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    receive_within(fd, std::chrono::seconds(5));  // each wait for more
    std::string answer;
    char buffer[65536];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, size_t(n));
    close(fd);
    return answer;
}

std::string http_call(int port, std::string const& method, std::string const& path,
                      std::string const& body) {
    return http_exchange(port, method + " " + path +
                                   " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                                   "Content-Length: " +
                                   std::to_string(body.size()) + "\r\n\r\n" + body);
}

std::map<std::string, double> prometheus_samples(std::string const& text) {
    std::map<std::string, double> out;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#') continue;
        size_t const space = line.rfind(' ');
        out[line.substr(0, space)] = std::stod(line.substr(space + 1));
    }
    return out;
}

int http_status(std::string const& answer) {
    return answer.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(answer.c_str() + 9) : 0;
}

std::string http_body(std::string const& answer) {
    size_t const end = answer.find("\r\n\r\n");
    return end == std::string::npos ? "" : answer.substr(end + 4);
}
