#include "daemon/admin.h"

#include <algorithm>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <optional>

#include "daemon/log.h"
#include "daemon/metrics.h"

namespace kovra_sim {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
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
    MetricFigures f{simulation.stats.report(), tally.open,      tally.accepted,
                    simulation.wire.counts(),  tally.announced, simulation.drifted()};
    f.faults["fail"] = simulation.ledger.faults_injected();
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
    if (request.body().empty()) {
        return reply(http::status::bad_request,
                     "an empty body: nothing to apply (post directives, such as latency=200)\n");
    }
    std::string error;
    if (!server.simulation().post(request.body(), error))
        return reply(http::status::bad_request, error + "\n");
    log_line("admin: applied %s", request.body().c_str());
    return reply(http::status::ok, "applied\n");
}

Response reset(Server& server, Request const&) {
    server.simulation().reset();
    return reply(http::status::ok, "reset\n");
}

// The end of a reset, on the server's io_context: clients are let in again
// at once, not when the reboot's time is up.
Response after_reset(Server& server, Response done) {
    bool const ended = server.after_reset();
    log_line("admin: reset to the start%s", ended ? "; a reboot in progress ended" : "");
    if (ended) done.body() = "reset; a reboot in progress ended\n";
    return done;
}

struct Route {
    char const* path;
    http::verb verb;
    bool guarded;  // asks for the token, if there is one
    bool steered;  // runs on the steering thread
    Response (*handle)(Server&, Request const&);
    Response (*then)(Server&, Response);  // after a steered one, back on the io_context
};

constexpr Route kRoutes[] = {
    {"/health", http::verb::get, false, false, health, nullptr},
    {"/metrics", http::verb::get, false, false, metrics, nullptr},
    {"/state", http::verb::get, true, false, state, nullptr},
    {"/directives", http::verb::post, true, true, directives, nullptr},
    {"/reset", http::verb::post, true, true, reset, after_reset},
};

// A route's answer; what it throws is a 500, not the daemon's end.
Response answer(Route const& route, Server& server, Request const& request) {
    try {
        return route.handle(server, request);
    } catch (std::exception const& e) {
        log_line("admin: %s %s: %s", route.path, http::to_string(route.verb).data(), e.what());
        return reply(http::status::internal_server_error, "internal error\n");
    }
}

// Whether `request` shows `token` as "Bearer TOKEN". The comparison takes a
// time that depends on the length shown alone, so that timing tells no
// prefix of the token.
bool shows(Request const& request, std::string const& token) {
    auto const field = request.find(http::field::authorization);
    if (field == request.end()) return false;
    beast::string_view const value = field->value();
    beast::string_view const scheme = "Bearer ";
    if (value.size() < scheme.size() || !beast::iequals(value.substr(0, scheme.size()), scheme))
        return false;
    beast::string_view const shown = value.substr(scheme.size());
    unsigned differ = shown.size() != token.size();
    for (size_t i = 0; i < shown.size(); ++i)
        differ |= static_cast<unsigned char>(shown[i] ^ token[i % token.size()]);
    return differ == 0;
}

}  // namespace

// One admin client: requests read and answered in turn, kept alive while
// the client asks and keeps to the time limits.
class AdminSession : public std::enable_shared_from_this<AdminSession> {
public:
    AdminSession(tcp::socket socket, Admin& admin) : stream_(std::move(socket)), admin_(admin) {}

    // Waits for the next request's first byte.
    void read() {
        waiting_since_ = Clock::now();
        if (buffer_.size() > 0) return read_request();  // pipelined
        stream_.expires_after(Admin::kIdleTime);
        stream_.async_read_some(buffer_.prepare(Admin::kMaxHeader),
                                [self = shared_from_this()](beast::error_code ec, size_t n) {
                                    if (ec) return self->close();
                                    self->buffer_.commit(n);
                                    self->read_request();
                                });
    }

    void close() {
        if (!open_) return;
        open_ = false;
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.close();
    }

    bool open() const { return open_; }
    // Whether it waits for its client, not for the steering thread.
    bool waiting() const { return open_ && !steered_; }
    Clock::time_point waiting_since() const { return waiting_since_; }

private:
    // The header first, whole within the buffer's kMaxHeader, then the
    // request parsed with its body, all within kRequestTime.
    void read_request() {
        stream_.expires_after(Admin::kRequestTime);
        asio::async_read_until(
            stream_, buffer_, "\r\n\r\n",
            [self = shared_from_this()](beast::error_code ec, size_t) {
                if (ec == asio::error::not_found) {
                    return self->respond(
                        reply(http::status::payload_too_large, "a header larger than 8 KiB\n"),
                        false);
                }
                if (ec) return self->close();
                self->parser_.emplace();
                self->parser_->header_limit(Admin::kMaxHeader);
                self->parser_->body_limit(Admin::kMaxBody);
                http::async_read(self->stream_, self->buffer_, *self->parser_,
                                 [self](beast::error_code e, size_t) { self->on_read(e); });
            });
    }

    void on_read(beast::error_code ec) {
        if (!ec) return serve(parser_->release());
        // A request that does not parse or breaks a limit is answered;
        // a hang-up, a timeout or a stop closes the connection.
        bool const refused = ec.category() == make_error_code(http::error::bad_target).category();
        if (!refused || ec == http::error::end_of_stream) return close();
        respond(reply(ec == http::error::body_limit ? http::status::payload_too_large
                                                    : http::status::bad_request,
                      ec.message() + "\n"),
                false);
    }

    void serve(Request request) {
        keep_alive_ = request.keep_alive();
        std::string_view const path(request.target().data(), request.target().size());
        Route const* const route = std::find_if(std::begin(kRoutes), std::end(kRoutes),
                                                [&](Route const& r) { return path == r.path; });
        bool const found = route != std::end(kRoutes);
        if (!admin_.token_.empty() && (!found || route->guarded) &&
            !shows(request, admin_.token_)) {
            Response r = reply(http::status::unauthorized, "a bearer token is needed\n");
            r.set(http::field::www_authenticate, "Bearer realm=\"kovra-camd\"");
            return respond(std::move(r), keep_alive_);
        }
        if (!found)
            return respond(reply(http::status::not_found, "no such resource\n"), keep_alive_);
        if (request.method() != route->verb) {
            Response r = reply(http::status::method_not_allowed, "method not allowed\n");
            r.set(http::field::allow, http::to_string(route->verb));
            return respond(std::move(r), keep_alive_);
        }
        if (!route->steered) return respond(answer(*route, admin_.server_, request), keep_alive_);
        if (admin_.steering_queued_ >= Admin::kMaxSteering) {
            Response r = reply(http::status::service_unavailable,
                               "busy with earlier directives: try again\n");
            r.set(http::field::retry_after, "1");
            return respond(std::move(r), keep_alive_);
        }
        ++admin_.steering_queued_;
        steered_ = true;
        asio::post(admin_.steering_, [self = shared_from_this(), route,
                                      request = std::move(request),
                                      executor = stream_.get_executor(),
                                      busy = asio::make_work_guard(admin_.io_)]() mutable {
            Response done = answer(*route, self->admin_.server_, request);
            // The session goes back whole: it ends on its own thread.
            asio::post(executor, [self = std::move(self), route, done = std::move(done)]() mutable {
                --self->admin_.steering_queued_;
                self->steered_ = false;
                if (route->then) done = route->then(self->admin_.server_, std::move(done));
                self->respond(std::move(done), self->keep_alive_);
            });
        });
    }

    void respond(Response response, bool keep_alive) {
        response_ = std::move(response);
        response_.keep_alive(keep_alive);
        response_.prepare_payload();
        waiting_since_ = Clock::now();
        stream_.expires_after(Admin::kRequestTime);
        http::async_write(stream_, response_,
                          [self = shared_from_this()](beast::error_code ec, size_t) {
                              if (ec || !self->response_.keep_alive()) return self->close();
                              self->read();
                          });
    }

    beast::tcp_stream stream_;
    Admin& admin_;
    // As large as a header may be: the parser's own limit leaves out the
    // lines it has taken, as they happen to come; a full buffer is exact.
    beast::flat_buffer buffer_{Admin::kMaxHeader};
    std::optional<http::request_parser<http::string_body>> parser_;
    Response response_;
    bool keep_alive_ = false;
    bool open_ = true;
    bool steered_ = false;  // its request is with the steering thread
    Clock::time_point waiting_since_;
};

Admin::Admin(asio::io_context& io, tcp::endpoint const& at, Server& server, std::string token)
    : io_(io),
      acceptor_(io, at),
      server_(server),
      token_(std::move(token)),
      address_("http://" + text_of(acceptor_.local_endpoint())),
      pause_(io, "admin accept") {}

// Waits for the steering thread: what it runs uses the server.
Admin::~Admin() { steering_.join(); }

void Admin::start() { accept(); }

void Admin::accept() {
    acceptor_.async_accept(io_, [this](boost::system::error_code ec, tcp::socket socket) {
        if (stopped_ || ec == asio::error::operation_aborted) return;
        if (AcceptPause::shortage(ec))
            return pause_.failed(ec, [this] {
                if (!stopped_) accept();
            });
        if (!ec) {
            pause_.worked();
            if (make_room()) {
                auto session = std::make_shared<AdminSession>(std::move(socket), *this);
                sessions_.push_back(session);
                session->read();
            }  // else the socket closes as it goes out of scope
        } else {
            log_line("admin accept: %s", ec.message().c_str());
        }
        accept();
    });
}

bool Admin::make_room() {
    sessions_.erase(std::remove_if(sessions_.begin(), sessions_.end(),
                                   [](auto const& weak) {
                                       auto const s = weak.lock();
                                       return !s || !s->open();
                                   }),
                    sessions_.end());
    if (sessions_.size() < kMaxConnections) return true;
    std::shared_ptr<AdminSession> longest;
    for (auto const& weak : sessions_) {
        auto s = weak.lock();
        if (s && s->waiting() && (!longest || s->waiting_since() < longest->waiting_since()))
            longest = std::move(s);
    }
    if (!longest) return false;
    longest->close();
    return true;
}

void Admin::stop() {
    asio::post(io_, [this] {
        stopped_ = true;
        boost::system::error_code ignored;
        acceptor_.close(ignored);
        pause_.cancel();
        for (auto const& weak : sessions_) {
            if (auto s = weak.lock()) s->close();
        }
    });
}

}  // namespace kovra_sim
