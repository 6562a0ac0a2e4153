#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "support/TestFiles.h"

// A kovra-camd of one test, listening on a free loopback port. Destroying it
// stops it (SIGTERM, then SIGKILL if it lingers) and waits for it.
class Daemon {
public:
    // Starts it with `options` on `host` and `port` (0: any free one).
    explicit Daemon(std::vector<std::string> const& options = {}, int port = 0,
                    std::string const& host = "127.0.0.1");
    Daemon(Daemon const&) = delete;
    Daemon& operator=(Daemon const&) = delete;
    ~Daemon();

    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    std::string url() const { return "tcp://" + host_ + ":" + std::to_string(port_); }
    // What it wrote to stderr so far.
    std::string log() const;
    // Whether its log says `text` within `limit`.
    bool said(std::string const& text,
              std::chrono::milliseconds limit = std::chrono::seconds(30)) const;
    // The port of its admin endpoint (--admin 0), from its log; 0 if none.
    int admin_port() const;
    // The status of GET /health (0: none), and the samples of GET /metrics.
    int health() const;
    std::map<std::string, double> metrics() const;

    // Sends `signal` and waits at most `seconds`: its exit status, or -1 if it
    // did not exit normally in time.
    int stop(int signal, int seconds = 10);

private:
    pid_t pid_ = -1;
    int port_ = 0;
    mutable int admin_port_ = 0;  // once the log has said it
    std::string host_;
    std::string dir_;
};

// A raw TCP connection to 127.0.0.1:port; -1 if it cannot be made.
int connect_loopback(int port);
// Receives on `fd` time out after `limit` from now on.
void receive_within(int fd, std::chrono::milliseconds limit);
// Sends `request` (raw HTTP) to 127.0.0.1:port and returns all that comes
// back until the peer closes or is silent for 5 s; "" if it cannot connect.
std::string http_exchange(int port, std::string const& request);
// GET or POST `path` with `body`, closing after the answer.
std::string http_call(int port, std::string const& method, std::string const& path,
                      std::string const& body = "");
// The status code of an HTTP answer, or 0.
int http_status(std::string const& answer);
// The body of an HTTP answer.
std::string http_body(std::string const& answer);

// "NAME{LABELS}" -> value, for every sample of a Prometheus text.
std::map<std::string, double> prometheus_samples(std::string const& text);

// A listening socket on a free loopback port; fills `port`.
int listen_loopback(int& port);
