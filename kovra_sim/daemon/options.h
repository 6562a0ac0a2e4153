// kovra-camd's command line: every option with its default, and every
// number with the range it must lie in, so that a mistyped value stops the
// daemon before it starts instead of wrapping around.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <optional>
#include <string>

#include "daemon/log.h"
#include "daemon/server.h"
#include "observe/observer.h"

namespace kovra_sim {

struct Options {
    boost::asio::ip::tcp::endpoint listen;
    std::string listen_text;
    std::optional<boost::asio::ip::tcp::endpoint> admin;  // the admin endpoint's, if asked for
    std::string admin_token;         // what the admin endpoint's clients must show; "" for none
    std::optional<std::string> sim;  // directives after KOVRA_SIM's
    Outputs outputs;                 // --stats, --timeline, --interval
    std::string port_file;           // "" for none
    LogTo log = LogTo::stderr_stream;
    unsigned threads = 2;
    Limits limits;
};

// Reads the command line into `out`: the exit status to end with at once (0
// after --help; 2 for a bad option, said on stderr), or none to run.
std::optional<int> parse_options(int argc, char** argv, Options& out);

}  // namespace kovra_sim
