#include "daemon/admin.h"

#include <algorithm>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <optional>

#include "daemon/log.h"
#include "daemon/metrics.h"
#include "daemon/server.h"

namespace kovra_sim {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

namespace {

Response reply(http::status status, std::string body, char const* type = "text/plain") {
    Response r(status, 11);
    r.set(http::field::server, "kovra-camd");
    r.set(http::field::content_type, type);
    r.body() = std::move(body);
    return r;
}

MetricFigures figures_of(Server& server) {
    SharedSimulation& simulation = server.simulation();
    Server::Tally const tally = server.tally();
    MetricFigures f;
    f.stats = simulation.stats.report();
    f.connections_open = tally.open;
    f.connections_total = tally.accepted;
    f.faults = simulation.wire.counts();
    f.faults["fail"] = simulation.ledger.faults_injected();
    f.announcements = tally.announced;
    f.settings_drifted = simulation.drifted();
    return f;
}

Response health(Server& server, Request const&) {
    return server.down() ? reply(http::status::service_unavailable, "rebooting\n")
                         : reply(http::status::ok, "ok\n");
}

Response metrics(Server& server, Request const&) {
    return reply(http::status::ok, metrics_text(figures_of(server)),
                 "text/plain; version=0.0.4; charset=utf-8");
}

Response state(Server& server, Request const&) {
    return reply(http::status::ok, server.simulation().state().dump(2) + "\n", "application/json");
}

Response directives(Server& server, Request const& request) {
    std::string error;
    if (!server.simulation().post(request.body(), error))
        return reply(http::status::bad_request, error + "\n");
    log_line("admin: applied %s", request.body().c_str());
    return reply(http::status::ok, "applied\n");
}

Response reset(Server& server, Request const&) {
    server.simulation().reset();
    server.forget_announced();
    log_line("admin: reset to the start");
    return reply(http::status::ok, "reset\n");
}

Response answer(Server& server, Request const& request) {
    struct Route {
        char const* path;
        http::verb verb;
        Response (*handle)(Server&, Request const&);
    };
    static constexpr Route routes[] = {{"/health", http::verb::get, health},
                                       {"/metrics", http::verb::get, metrics},
                                       {"/state", http::verb::get, state},
                                       {"/directives", http::verb::post, directives},
                                       {"/reset", http::verb::post, reset}};
    std::string_view const path(request.target().data(), request.target().size());
    auto const route = std::find_if(std::begin(routes), std::end(routes),
                                    [&](Route const& r) { return path == r.path; });
    if (route == std::end(routes)) return reply(http::status::not_found, "no such resource\n");
    if (request.method() != route->verb) {
        Response r = reply(http::status::method_not_allowed, "method not allowed\n");
        r.set(http::field::allow, http::to_string(route->verb));
        return r;
    }
    return route->handle(server, request);
}

}  // namespace

// One admin client: requests read and answered in turn, kept alive while
// the client asks.
class AdminSession : public std::enable_shared_from_this<AdminSession> {
public:
    AdminSession(tcp::socket socket, Server& server)
        : stream_(std::move(socket)), server_(server) {}

    void read() {
        parser_.emplace();
        parser_->header_limit(Admin::kMaxHeader);
        parser_->body_limit(Admin::kMaxBody);
        stream_.expires_after(std::chrono::seconds(10));
        http::async_read(
            stream_, buffer_, *parser_,
            [self = shared_from_this()](beast::error_code ec, size_t) { self->on_read(ec); });
    }

    void close() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.close();
    }

private:
    void on_read(beast::error_code ec) {
        if (!ec) {
            Request const request = parser_->release();
            return respond(answer(server_, request), request.keep_alive());
        }
        // A request that does not parse or breaks a limit is answered;
        // a hang-up, a timeout or a stop closes the connection.
        bool const refused = ec.category() == make_error_code(http::error::bad_target).category();
        if (!refused || ec == http::error::end_of_stream) return close();
        respond(reply(ec == http::error::body_limit ? http::status::payload_too_large
                                                    : http::status::bad_request,
                      ec.message() + "\n"),
                false);
    }

    void respond(Response response, bool keep_alive) {
        response_ = std::move(response);
        response_.keep_alive(keep_alive);
        response_.prepare_payload();
        stream_.expires_after(std::chrono::seconds(10));
        http::async_write(stream_, response_,
                          [self = shared_from_this()](beast::error_code ec, size_t) {
                              if (ec || !self->response_.keep_alive()) return self->close();
                              self->read();
                          });
    }

    beast::tcp_stream stream_;
    Server& server_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    Response response_;
};

Admin::Admin(asio::io_context& io, tcp::endpoint const& at, Server& server)
    : io_(io), acceptor_(io), server_(server) {
    acceptor_.open(at.protocol());
    acceptor_.set_option(tcp::acceptor::reuse_address(true));
    acceptor_.bind(at);
    acceptor_.listen();
    address_ = "http://" + text_of(acceptor_.local_endpoint());
}

Admin::~Admin() = default;

void Admin::start() { accept(); }

void Admin::accept() {
    acceptor_.async_accept(io_, [this](boost::system::error_code ec, tcp::socket socket) {
        if (stopped_ || ec == asio::error::operation_aborted) return;
        if (!ec) {
            sessions_.erase(std::remove_if(sessions_.begin(), sessions_.end(),
                                           [](auto const& s) { return s.expired(); }),
                            sessions_.end());
            if (sessions_.size() < kMaxConnections) {
                auto session = std::make_shared<AdminSession>(std::move(socket), server_);
                sessions_.push_back(session);
                session->read();
            }  // else the socket closes as it goes out of scope
        } else {
            log_line("admin accept: %s", ec.message().c_str());
        }
        accept();
    });
}

void Admin::stop() {
    asio::post(io_, [this] {
        stopped_ = true;
        boost::system::error_code ignored;
        acceptor_.close(ignored);
        for (auto const& weak : sessions_) {
            if (auto s = weak.lock()) s->close();
        }
    });
}

}  // namespace kovra_sim
