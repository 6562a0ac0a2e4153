#include "daemon/options.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <boost/program_options.hpp>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "common/files.h"
#include "common/value.h"

namespace kovra_sim {
namespace {

namespace po = boost::program_options;
using tcp = boost::asio::ip::tcp;

constexpr size_t kMaxTokenBytes = 4096;  // the longest token --admin-token-file may hold
constexpr unsigned kMaxThreads = 256;    // each is one io_context and its stack

// "ADDR", "ADDR:PORT" or "[V6ADDR]:PORT"; false if it is none of them.
bool parse_listen(std::string const& text, tcp::endpoint& out) {
    std::string host;
    uint16_t port = 0;
    boost::system::error_code ec;  // "" is no address either
    out.address(
        boost::asio::ip::make_address(wire::split_address(text, host, port) ? host : "", ec));
    out.port(port);
    return !ec;
}

// "PORT" (on loopback), "ADDR:PORT" or "[V6ADDR]:PORT"; false if it is none of them.
bool parse_admin(std::string const& text, tcp::endpoint& out) {
    if (int64_t port; parse_integer(text, 0, 65535, port)) {
        out = tcp::endpoint(boost::asio::ip::address_v4::loopback(), uint16_t(port));
        return true;
    }
    size_t const port_at = text.rfind(':');
    bool const has_port = port_at != std::string::npos && text.back() != ']';
    return has_port && parse_listen(text, out);
}

// The token of --admin-token-file: the file's text without the blanks
// around it, one word of printable ASCII (it travels in a header); false
// with the reason in `error`.
bool read_token(std::string const& path, std::string& token, std::string& error) {
    int const fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat status {};
    std::string text;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        error = "not a regular file";
    } else {
        char buffer[kMaxTokenBytes + 2];
        for (ssize_t n; text.size() < sizeof buffer &&
                        (n = ::read(fd, buffer, sizeof buffer - text.size())) > 0;)
            text.append(buffer, size_t(n));
    }
    ::close(fd);
    if (!error.empty()) return false;
    size_t const begin = text.find_first_not_of(" \t\r\n");
    size_t const end = text.find_last_not_of(" \t\r\n");
    token = begin == std::string::npos ? "" : text.substr(begin, end + 1 - begin);
    if (token.empty()) {
        error = "empty: it must hold the token";
    } else if (token.size() > kMaxTokenBytes) {
        error = "longer than " + std::to_string(kMaxTokenBytes) + " bytes";
    } else if (std::any_of(token.begin(), token.end(), [](char c) { return c < '!' || c > '~'; })) {
        error = "the token must be one word of printable ASCII";
    }
    return error.empty();
}

// A numeric option: read as text and checked here, since program_options
// would read "-1" into an unsigned as 4294967295.
struct Numeric {
    char const* name;
    char const* unit;
    int64_t low, high, value;
    char const* help;
};

enum { threads, max_connections, max_in_flight, max_frame, frame_timeout, idle_timeout, interval };

// Says what is wrong with the command line; the exit status for it.
int refuse(std::string const& what) {
    std::cerr << "kovra-camd: " << what << "\nTry 'kovra-camd --help'.\n";
    return 2;
}

}  // namespace

std::optional<int> parse_options(int argc, char** argv, Options& out) {
    Limits const limits;
    Numeric numerics[] = {
        {"threads", "N", 1, kMaxThreads, out.threads, "threads serving connections"},
        {"max-connections", "N", 1, 65536, int64_t(limits.max_connections),
         "clients at once; more are told no"},
        {"max-in-flight", "N", 1, 65536, int64_t(limits.max_in_flight),
         "replies unwritten before a connection is not read"},
        {"max-frame", "BYTES", 64, 64 << 20, limits.max_frame,
         "a larger frame closes its connection"},
        {"frame-timeout", "MS", 1, 3'600'000, limits.frame_timeout.count(),
         "time for a hello or the rest of a frame"},
        {"idle-timeout", "S", 0, 86'400,
         std::chrono::duration_cast<std::chrono::seconds>(limits.idle_timeout).count(),
         "close a client silent this long; 0: never"},
        {"interval", "S", 1, int64_t(directive_info(DirectiveId::interval).high / 1000000), 10,
         "seconds a line of the timeline covers"},
    };
    std::string listen, admin, token_file, sim, log, stats, timeline;
    std::string texts[std::size(numerics)];
    // One screen: one line an option, the description beside it.
    po::options_description options(
        "Usage: kovra-camd [OPTION]...\n"
        "Serves the stand-in's simulated camera to clients of -u tcp://HOST[:PORT], in the\n"
        "foreground. SIGHUP writes its files as they stand; SIGINT or SIGTERM write them and\n"
        "stop it. Options",
        120, 60);
    auto add = options.add_options();
    add("help,h", "show this help");
    add("version", "print the version and exit");
    add("listen",
        po::value(&listen)
            ->value_name("ADDR[:PORT]")
            ->default_value("127.0.0.1:" + std::to_string(wire::kDefaultPort)),
        "address; 0.0.0.0 or [::]: every interface; port 0: any");
    add("admin", po::value(&admin)->value_name("[ADDR:]PORT"),
        "serve the admin endpoint (HTTP: /health, /metrics, /state, /directives, /reset) on "
        "PORT of loopback, or of ADDR");
    add("admin-token-file", po::value(&token_file)->value_name("FILE"),
        "the admin endpoint asks for the token in FILE (Authorization: Bearer) on all but "
        "/health and /metrics; needed for an ADDR other than loopback");
    add("sim", po::value(&sim)->value_name("DIRECTIVES"),
        "directives as KOVRA_SIM takes them, after it");
    add("stats", po::value(&stats)->value_name("FILE"),
        "service times to FILE (JSON) at exit; a table on SIGUSR1");
    add("timeline", po::value(&timeline)->value_name("FILE"),
        "service times of each interval to FILE as they go (JSON lines)");
    for (size_t i = 0; i < std::size(numerics); ++i) {
        Numeric const& n = numerics[i];
        add(n.name,
            po::value(&texts[i])->value_name(n.unit)->default_value(std::to_string(n.value)),
            (std::string(n.help) + " (" + std::to_string(n.low) + " to " + std::to_string(n.high) +
             ")")
                .c_str());
    }
    add("port-file", po::value(&out.port_file)->value_name("FILE"),
        "write the port to FILE once listening");
    add("log", po::value(&log)->value_name("stderr|syslog")->default_value("stderr"),
        "where log lines go");
    po::variables_map vm;
    try {
        po::store(po::parse_command_line(argc, argv, options), vm);
        po::notify(vm);
    } catch (po::error const& e) {
        return refuse(e.what());
    }
    if (vm.count("help")) {
        std::cout << options << "\n";
        return 0;
    }
    if (vm.count("version")) {
        std::cout << "kovra-camd " IPC_SOAK_VERSION "\n";
        return 0;
    }
    for (size_t i = 0; i < std::size(numerics); ++i) {
        Numeric& n = numerics[i];
        if (!parse_integer(texts[i], n.low, n.high, n.value)) {
            return refuse("--" + std::string(n.name) + " " + texts[i] +
                          ": expected a whole number from " + std::to_string(n.low) + " to " +
                          std::to_string(n.high));
        }
    }
    out.threads = unsigned(numerics[threads].value);
    out.limits.max_connections = size_t(numerics[max_connections].value);
    out.limits.max_in_flight = size_t(numerics[max_in_flight].value);
    out.limits.max_frame = uint32_t(numerics[max_frame].value);
    out.limits.hello_timeout = out.limits.frame_timeout =
        std::chrono::milliseconds(numerics[frame_timeout].value);
    out.limits.idle_timeout = std::chrono::seconds(numerics[idle_timeout].value);
    if (!stats.empty()) out.outputs.stats = stats;
    if (!timeline.empty()) {
        out.outputs.timeline = timeline;
        out.outputs.interval = std::chrono::seconds(numerics[interval].value);
    } else if (!vm["interval"].defaulted()) {
        return refuse("--interval goes with --timeline");
    }

    out.listen_text = listen;
    if (!parse_listen(listen, out.listen)) {
        return refuse("--listen " + listen + ": expected ADDR[:PORT]");
    }
    if (vm.count("admin")) {
        if (!parse_admin(admin, out.admin.emplace()))
            return refuse("--admin " + admin + ": expected [ADDR:]PORT");
    }
    if (vm.count("admin-token-file")) {
        if (!out.admin) return refuse("--admin-token-file goes with --admin");
        std::string error;
        if (!read_token(token_file, out.admin_token, error))
            return refuse("--admin-token-file " + token_file + ": " + error);
    }
    // The endpoint reboots, stalls and reconfigures the camera: off
    // loopback, anyone who reaches the port could.
    if (out.admin && !out.admin->address().is_loopback() && out.admin_token.empty()) {
        return refuse("--admin " + admin +
                      ": an address other than loopback needs --admin-token-file, or anyone "
                      "who reaches it could reboot, stall or reconfigure the camera");
    }
    if (log != "stderr" && log != "syslog") {
        return refuse("--log " + log + ": expected stderr or syslog");
    }
    out.log = log == "syslog" ? LogTo::syslog : LogTo::stderr_stream;
    if (vm.count("sim")) out.sim = sim;
    // Files are refused now, not when the run ends and its figures would be lost.
    for (auto [option, path] : {std::pair{"--stats", &stats},
                                {"--timeline", &timeline},
                                {"--port-file", &out.port_file}}) {
        std::string error;
        if (!path->empty() && !check_output_path(*path, error)) {
            return refuse(std::string(option) + " " + *path + ": " + error);
        }
    }
    return std::nullopt;
}

}  // namespace kovra_sim
