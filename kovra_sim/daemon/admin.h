// The daemon's admin endpoint, for test rigs that watch and steer a camera
// while a soak runs: HTTP/1.1 (Boost.Beast) on the daemon's first
// io_context.
//   GET  /health      200 once listening
//   GET  /metrics     the figures for Prometheus (see metrics.h)
//   GET  /state       the configuration as JSON
//   POST /directives  a body of KOVRA_SIM directives, applied at once; 400
//                     and nothing applied if one is wrong
//   POST /reset       the camera, its counters and its directives as the
//                     daemon started
// A request's header may take 8 KiB and its body 64 KiB, and it must
// arrive within 10 s; at most 16 admin connections are open at once (more
// are closed as they come). A malformed request is answered 400 and its
// connection closed.
#pragma once

#include <boost/asio.hpp>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace kovra_sim {

class Server;
class AdminSession;

class Admin {
public:
    static constexpr size_t kMaxHeader = 8 * 1024;
    static constexpr size_t kMaxBody = 64 * 1024;
    static constexpr size_t kMaxConnections = 16;

    // Listens on `at` now; throws boost::system::system_error if it cannot.
    Admin(boost::asio::io_context& io, boost::asio::ip::tcp::endpoint const& at, Server& server);
    ~Admin();

    // "http://ADDRESS:PORT"
    std::string const& address() const { return address_; }

    void start();
    // Stops accepting and closes the admin connections.
    void stop();

private:
    friend class AdminSession;
    void accept();

    boost::asio::io_context& io_;
    boost::asio::ip::tcp::acceptor acceptor_;
    Server& server_;
    std::string address_;
    // Touched only on io_'s thread, where every admin connection runs.
    bool stopped_ = false;
    std::vector<std::weak_ptr<AdminSession>> sessions_;
};

}  // namespace kovra_sim
