// The daemon's admin endpoint, for test rigs that watch and steer a camera
// while a soak runs: HTTP/1.1 (Boost.Beast) on the daemon's first
// io_context.
//   GET  /health      200 once listening, 503 while rebooted
//   GET  /metrics     the figures for Prometheus (see metrics.h)
//   GET  /state       the configuration as JSON, bounded (see
//                     SharedSimulation::state)
//   POST /directives  a body of KOVRA_SIM directives, applied at once; 400
//                     and nothing applied if one is wrong or it is empty
//   POST /reset       the camera, its counters and its directives as the
//                     daemon started; a reboot in progress ends
// It can reboot, stall and reconfigure the camera, so with a token every
// route but /health and /metrics asks for "Authorization: Bearer TOKEN"
// (401 and nothing done without it); the daemon refuses to serve it off
// loopback without one.
//
// The posted directives and resets run on a thread of their own, in the
// order they came: loading a profile= file takes seconds, and /health must
// answer meanwhile. At most kMaxSteering wait for it; more get 503.
//
// Limits, so that no client starves a supervisor polling /health: a
// request's header may take 8 KiB and its body 64 KiB (413 past either);
// its first byte must come within kIdleTime of the connection opening or
// the last answer (keep-alive), and the whole request within kRequestTime
// of its first byte; an answer must be taken within kRequestTime. At most
// kMaxConnections are open at once: one more closes the connection that
// has waited longest for its client (idle, or trickling a request or
// reading an answer), and is closed itself only when every other one
// waits for the camera's thread. A malformed request is answered 400 and
// its connection closed.
#pragma once

#include <boost/asio.hpp>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "daemon/server.h"

namespace kovra_sim {

class AdminSession;

class Admin {
public:
    static constexpr size_t kMaxHeader = 8 * 1024;
    static constexpr size_t kMaxBody = 64 * 1024;
    static constexpr size_t kMaxConnections = 16;
    static constexpr size_t kMaxSteering = 4;
    static constexpr std::chrono::seconds kIdleTime{5};
    static constexpr std::chrono::seconds kRequestTime{10};

    // Listens on `at` now, on the io_context the server's reboots run on;
    // throws boost::system::system_error if it cannot. A `token` not empty
    // guards every route but /health and /metrics.
    Admin(boost::asio::io_context& io, boost::asio::ip::tcp::endpoint const& at, Server& server,
          std::string token);
    ~Admin();

    // "http://ADDRESS:PORT"
    std::string const& address() const { return address_; }

    void start();
    // Stops accepting and closes the admin connections.
    void stop();

private:
    friend class AdminSession;
    void accept();
    // Makes room for one more connection; false if none can be made.
    bool make_room();

    boost::asio::io_context& io_;
    boost::asio::ip::tcp::acceptor acceptor_;
    Server& server_;
    std::string const token_;
    std::string address_;
    // The thread of the posted directives and resets.
    boost::asio::thread_pool steering_{1};
    // Touched only on io_'s thread, where every admin connection runs.
    bool stopped_ = false;
    size_t steering_queued_ = 0;
    std::vector<std::weak_ptr<AdminSession>> sessions_;
    AcceptPause pause_;
};

}  // namespace kovra_sim
