// kovra-camd: the simulated camera as a network daemon. It serves the same
// camera as the stand-in's in-process one to every client that connects
// with a tcp:// URL, runs in the foreground and stops cleanly on SIGINT or
// SIGTERM, writing its journal and state files.
#include <boost/asio.hpp>
#include <boost/program_options.hpp>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <thread>
#include <vector>

#include "log.h"
#include "server.h"

using namespace kovra_sim;
namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

// "ADDR", "ADDR:PORT" or "[V6ADDR]:PORT"; false if it is none of them.
bool parse_listen(std::string const& text, tcp::endpoint& out) {
    std::string host;
    uint16_t port = 0;
    boost::system::error_code ec;
    if (!wire::split_address(text, host, port)) return false;
    auto const address = asio::ip::make_address(host, ec);
    if (ec) return false;
    out = tcp::endpoint(address, port);
    return true;
}

bool configure(Station& station, char const* what, std::string const& directives) {
    Config config;
    std::string error;
    if (!parse_config(directives, station.camera.settings, config, error) ||
        !station.apply(config, error)) {
        std::cerr << "kovra-camd: " << what << ": " << error << "\n";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    namespace po = boost::program_options;
    std::string listen, sim, port_file, log, stats;
    Limits limits;
    unsigned threads = 2;
    unsigned frame_timeout_ms = 10000;
    // One screen: one line an option, the description beside it.
    po::options_description options(
        "Usage: kovra-camd [OPTION]...\n"
        "Serves the stand-in's simulated camera to clients of -u tcp://HOST[:PORT], in the\n"
        "foreground; SIGINT or SIGTERM stop it after writing its files. Options",
        120, 60);
    options.add_options()("help,h", "show this help")(
        "listen",
        po::value(&listen)
            ->value_name("ADDR[:PORT]")
            ->default_value("127.0.0.1:" + std::to_string(wire::kDefaultPort)),
        "address; 0.0.0.0 or [::]: every interface; port 0: any")(
        "sim", po::value(&sim)->value_name("DIRECTIVES"),
        "directives as KOVRA_SIM takes them, after it")(
        "stats", po::value(&stats)->value_name("FILE"),
        "service times to FILE (JSON) at exit; a table on SIGUSR1")(
        "threads", po::value(&threads)->value_name("N")->default_value(threads),
        "threads serving connections")(
        "max-connections",
        po::value(&limits.max_connections)->value_name("N")->default_value(limits.max_connections),
        "clients at once; more are refused")(
        "max-in-flight",
        po::value(&limits.max_in_flight)->value_name("N")->default_value(limits.max_in_flight),
        "unwritten replies per connection before it is not read")(
        "max-frame",
        po::value(&limits.max_frame)->value_name("BYTES")->default_value(limits.max_frame),
        "a larger frame closes its connection")(
        "frame-timeout",
        po::value(&frame_timeout_ms)->value_name("MS")->default_value(frame_timeout_ms),
        "time for a hello or the rest of a frame")("port-file",
                                                   po::value(&port_file)->value_name("PATH"),
                                                   "write the port to PATH once listening")(
        "log", po::value(&log)->value_name("stderr|syslog")->default_value("stderr"),
        "where log lines go");
    po::variables_map vm;
    try {
        po::store(po::parse_command_line(argc, argv, options), vm);
        po::notify(vm);
    } catch (po::error const& e) {
        std::cerr << "kovra-camd: " << e.what() << "\nTry 'kovra-camd --help'.\n";
        return 2;
    }
    if (vm.count("help")) {
        std::cout << options << "\n";
        return 0;
    }
    tcp::endpoint endpoint;
    if (!parse_listen(listen, endpoint)) {
        std::cerr << "kovra-camd: --listen " << listen << ": expected ADDR[:PORT]\n";
        return 2;
    }
    if (log != "stderr" && log != "syslog") {
        std::cerr << "kovra-camd: --log " << log << ": expected stderr or syslog\n";
        return 2;
    }
    if (threads == 0 || limits.max_connections == 0 || limits.max_in_flight == 0 ||
        limits.max_frame < 64) {
        std::cerr
            << "kovra-camd: --threads, --max-connections and --max-in-flight must be at least 1, "
               "--max-frame at least 64\n";
        return 2;
    }
    limits.hello_timeout = limits.frame_timeout = std::chrono::milliseconds(frame_timeout_ms);
    log_to(log == "syslog" ? LogTo::syslog : LogTo::stderr_stream);

    Station station;
    if (char const* env = std::getenv("KOVRA_SIM"); env && !configure(station, "KOVRA_SIM", env))
        return 2;
    if (vm.count("sim") && !configure(station, "--sim", sim)) return 2;
    if (!stats.empty()) station.write_stats_to(stats);

    // One io_context a thread: a connection's work stays on one thread, and
    // an idle thread sleeps in its own poll instead of taking work over.
    std::vector<std::unique_ptr<asio::io_context>> contexts;
    std::vector<asio::io_context*> workers;
    for (unsigned i = 0; i < threads; ++i) {
        contexts.push_back(std::make_unique<asio::io_context>(1));
        workers.push_back(contexts.back().get());
    }
    asio::io_context& io = *contexts.front();
    std::vector<asio::executor_work_guard<asio::io_context::executor_type>> keep;
    for (unsigned i = 1; i < threads; ++i) keep.push_back(asio::make_work_guard(*contexts[i]));
    std::unique_ptr<Server> server;
    try {
        server = std::make_unique<Server>(io, workers, station, endpoint, limits);
    } catch (boost::system::system_error const& e) {
        std::cerr << "kovra-camd: cannot listen on " << listen << ": " << e.code().message()
                  << "\n";
        return 1;
    }
    server->start();
    log_line("listening on %s", server->address().c_str());
    if (!port_file.empty()) {
        std::ofstream(port_file) << server->local_endpoint().port() << "\n";
    }

    // SIGUSR1 prints the statistics so far, as a table.
    asio::signal_set usr1(io, SIGUSR1);
    std::function<void()> await_usr1 = [&] {
        usr1.async_wait([&](boost::system::error_code ec, int) {
            if (ec) return;
            if (!station.stats.on()) {
                log_line("no statistics: start kovra-camd with --stats FILE");
            } else {
                std::string const table = stats_table(station.stats.report());
                for (size_t at = 0, end; (end = table.find('\n', at)) != std::string::npos;
                     at = end + 1) {
                    log_line("%s", table.substr(at, end - at).c_str());
                }
            }
            await_usr1();
        });
    };
    await_usr1();
    asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](boost::system::error_code ec, int signal) {
        if (ec) return;
        log_line("stopping on signal %d", signal);
        usr1.cancel();
        server->stop();
        // The other threads end once their connections are closed.
        asio::post(io, [&] { keep.clear(); });
    });
    std::vector<std::thread> pool;
    for (unsigned i = 1; i < threads; ++i)
        pool.emplace_back([&contexts, i] { contexts[i]->run(); });
    io.run();
    for (auto& t : pool) t.join();
    nlohmann::json const connections = server->connections();
    server.reset();

    std::vector<std::string> say;
    bool const written = station.finish(connections, say);
    for (std::string const& line : say) log_line("%s", line.c_str());
    return written ? 0 : 1;
}
