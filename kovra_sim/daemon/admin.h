// The daemon's admin endpoint, for test rigs that watch and steer a camera
// while a soak runs: HTTP/1.1 (Boost.Beast) on the daemon's first io_context.
//   GET  /health      200 once listening, 503 while rebooted
//   GET  /metrics     the figures for Prometheus (metrics.h)
//   GET  /state       the configuration as JSON (SharedSimulation::state)
//   POST /directives  KOVRA_SIM directives, applied at once; 400 and nothing
//                     applied if one is wrong or the body is empty
//   POST /reset       the camera, its counters and its directives as the
//                     daemon started; a reboot in progress ends
// The others can reboot, stall and reconfigure the camera, so with a token
// all but /health and /metrics ask for "Authorization: Bearer TOKEN" (401).
//
// Posts run in order on a thread of their own, so that /health answers while
// a profile= loads; past kMaxSteering waiting, 503. So that no client starves
// a supervisor: a header may take kMaxHeader, a body kMaxBody (413 past
// either); a request's first byte must come within kIdleTime, the rest within
// kRequestTime, and its answer be taken within kRequestTime. One connection
// past kMaxConnections closes the one waiting longest for its client, or
// itself if all wait for the steering thread. A malformed request gets 400
// and its connection closed.
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
