#include "daemon/daemon.h"

#include <boost/asio.hpp>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>
#include <vector>

#include "common/files.h"
#include "daemon/admin.h"
#include "daemon/log.h"
#include "daemon/server.h"

#ifdef KOVRA_CAMD_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace kovra_sim {
namespace {

namespace asio = boost::asio;
using WorkGuard = asio::executor_work_guard<asio::io_context::executor_type>;

// The threads of the io_contexts but the first, each kept running by a work
// guard; ended, by dropping the guards and joining, however run() returns.
struct Pool {
    std::vector<WorkGuard> keep;
    std::vector<std::thread> threads;

    void end() {
        keep.clear();
        for (auto& t : threads) t.join();
        threads.clear();
    }
    ~Pool() { end(); }
};

void say_all(std::vector<std::string> const& lines) {
    for (std::string const& line : lines) log_line("%s", line.c_str());
}

}  // namespace

int run_daemon(Options const& options, SharedSimulation& simulation) {
    // One io_context a thread: a connection's work stays on one thread, and
    // an idle thread sleeps in its own poll instead of taking work over.
    // All of them start before the daemon says it listens.
    std::vector<std::unique_ptr<asio::io_context>> contexts;
    std::vector<asio::io_context*> workers;
    for (unsigned i = 0; i < options.threads; ++i) {
        contexts.push_back(std::make_unique<asio::io_context>(1));
        workers.push_back(contexts.back().get());
        // A context makes its reactor (an epoll, an eventfd, a timerfd) with
        // its first socket or timer: made now, so that a daemon short of
        // descriptors later cannot fail to make it, which would end it.
        asio::steady_timer reactor_now(*contexts.back());
    }
    asio::io_context& io = *contexts.front();
    // Caught from here on: a signal that comes as soon as the daemon says it
    // is ready (the port file, systemd) waits for the handler below instead
    // of killing it.
    asio::signal_set signals(io);
    for (int s : {SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGUSR1}) signals.add(s);
    Pool pool;
    try {
        for (unsigned i = 1; i < options.threads; ++i) {
            pool.keep.push_back(asio::make_work_guard(*contexts[i]));
            pool.threads.emplace_back([&contexts, i] { contexts[i]->run(); });
        }
    } catch (std::system_error const& e) {
        log_line("cannot start thread %zu of %u: %s", pool.threads.size() + 1, options.threads,
                 e.what());
        return 1;
    }

    std::unique_ptr<Server> server;
    try {
        server = std::make_unique<Server>(io, workers, simulation, options.listen, options.limits);
    } catch (boost::system::system_error const& e) {
        log_line("cannot listen on %s: %s", options.listen_text.c_str(),
                 e.code().message().c_str());
        return 1;
    }
    std::unique_ptr<Admin> admin;
    if (options.admin) {
        try {
            admin = std::make_unique<Admin>(io, *options.admin, *server, options.admin_token);
        } catch (boost::system::system_error const& e) {
            log_line("cannot serve the admin endpoint on %s: %s", text_of(*options.admin).c_str(),
                     e.code().message().c_str());
            return 1;
        }
        // Metrics need figures: the admin endpoint turns them on.
        if (!simulation.stats.on()) simulation.stats.start();
        log_line(
            "admin endpoint on %s%s", admin->address().c_str(),
            options.admin_token.empty() ? "" : ", its token asked on all but /health and /metrics");
        admin->start();
    }
    std::string error;
    if (!options.port_file.empty() &&
        !replace_file(options.port_file, std::to_string(server->local_endpoint().port()) + "\n",
                      error)) {
        log_line("cannot write the port to %s: %s", options.port_file.c_str(), error.c_str());
        return 1;
    }
    simulation.started();
    log_line("listening on %s", server->address().c_str());
    server->start();
#ifdef KOVRA_CAMD_SYSTEMD
    // Under systemd (Type=notify) the unit is up only now; elsewhere a no-op.
    sd_notify(0, "READY=1");
#endif

    std::function<void()> await = [&] {
        signals.async_wait([&](boost::system::error_code ec, int signal) {
            if (ec) return;
            if (signal == SIGUSR1 && !simulation.stats.on()) {
                log_line("no statistics: start kovra-camd with --stats FILE");
            } else if (signal == SIGUSR1) {
                std::istringstream table(kovra_sim::table(simulation.stats.report()));
                for (std::string line; std::getline(table, line);) log_line("%s", line.c_str());
            } else if (signal == SIGHUP) {
                std::vector<std::string> say;
                bool const written = simulation.checkpoint(server->connections(), say);
                say_all(say);
                log_line("checkpoint on signal %d: %s", signal,
                         written ? "files written" : "a file could not be written");
            } else {
                log_line("stopping on signal %d", signal);
#ifdef KOVRA_CAMD_SYSTEMD
                sd_notify(0, "STOPPING=1");
#endif
                server->stop();
                if (admin) admin->stop();
                // The other threads end once their connections are closed.
                asio::post(io, [&] { pool.keep.clear(); });
                return;  // later signals wait, unhandled, until the files are written
            }
            await();
        });
    };
    await();
    io.run();
    pool.end();
    nlohmann::json const connections = server->connections();
    admin.reset();
    server.reset();

    std::vector<std::string> say;
    bool const written = simulation.finish(connections, say);
    say_all(say);
    return written ? 0 : 1;
}

}  // namespace kovra_sim
