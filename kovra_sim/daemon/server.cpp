#include "server.h"

#include "frame_reader.h"
#include "log.h"

namespace kovra_sim {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

std::string text_of(tcp::endpoint const& e) {
    boost::system::error_code ec;
    std::string const address = e.address().to_string(ec);
    return (e.address().is_v6() ? "[" + address + "]" : address) + ":" + std::to_string(e.port());
}

}  // namespace

class Connection : public std::enable_shared_from_this<Connection> {
public:
    // An admitted connection is served; one beyond the connection limit is
    // only told so in the welcome, then closed.
    Connection(Server& server, tcp::socket socket, uint64_t number, bool admitted)
        : server_(server),
          strand_(asio::make_strand(socket.get_executor())),
          socket_(std::move(socket)),
          number_(number),
          admitted_(admitted),
          session_(server.station(), uint32_t(server.limits().idle_timeout.count())),
          frames_(server.limits().max_frame),
          started_(Clock::now()),
          heard_(started_) {
        boost::system::error_code ec;
        peer_ = text_of(socket_.remote_endpoint(ec));
    }

    void start() {
        asio::post(strand_, [self = shared_from_this()] { self->read(); });
    }

    // A target restarted: tell this client, in order with its replies.
    void announce(int service) {
        if (strand_.running_in_this_thread()) {
            push_event(service);
            return;
        }
        asio::post(strand_, [self = shared_from_this(), service] {
            self->push_event(service);
            self->flush();
        });
    }

    bool subscribed() const { return subscribed_.load(std::memory_order_relaxed); }
    uint64_t calls() const { return calls_.load(std::memory_order_relaxed); }
    uint64_t number() const { return number_; }
    bool admitted() const { return admitted_; }
    std::string const& peer() const { return peer_; }

    void close(std::string why) {
        asio::post(strand_,
                   [self = shared_from_this(), why = std::move(why)] { self->shut(why.c_str()); });
    }

    // Closes the connection if it has overstayed one of its deadlines.
    void check(Clock::time_point now) {
        asio::post(strand_, [self = shared_from_this(), now] {
            Limits const& l = self->server_.limits();
            if (self->closed_) return;
            auto overdue = [&](char const* what, std::chrono::milliseconds limit) {
                self->shut((what + std::to_string(limit.count()) + " ms").c_str());
            };
            if (!self->greeted_ && now - self->started_ > l.hello_timeout) {
                overdue("no hello within ", l.hello_timeout);
            } else if (self->partial_ && now - self->partial_since_ > l.frame_timeout) {
                overdue("a frame still unfinished after ", l.frame_timeout);
            } else if (self->write_active_ && now - self->write_started_ > l.write_timeout) {
                overdue("replies unread for ", l.write_timeout);
            } else if (l.idle_timeout.count() && self->greeted_ && self->in_flight() == 0 &&
                       now - self->heard_ > l.idle_timeout) {
                overdue("silent for ", l.idle_timeout);
            }
        });
    }

private:
    size_t in_flight() const { return out_count_ + writing_count_ + delayed_; }

    bool limited() const { return in_flight() >= server_.limits().max_in_flight; }

    void read() {
        if (closed_ || reading_ || closing_ || paused_) return;
        reading_ = true;
        socket_.async_read_some(
            asio::buffer(frames_.space(), frames_.room()),
            asio::bind_executor(
                strand_, [self = shared_from_this()](boost::system::error_code ec, size_t n) {
                    self->on_read(ec, n);
                }));
    }

    void on_read(boost::system::error_code ec, size_t n) {
        reading_ = false;
        if (ec) {
            // A client that hangs up, politely or not, is no news.
            bool const quiet = ec == asio::error::eof || ec == asio::error::operation_aborted ||
                               ec == asio::error::connection_reset;
            shut(quiet ? nullptr : ec.message().c_str());
            return;
        }
        frames_.received(n);
        heard_ = Clock::now();
        serve_buffered();
    }

    // Replies have gone out: serve what waited and read again.
    void resume() {
        if (!paused_ || limited()) return;
        paused_ = false;
        serve_buffered();
    }

    void serve_buffered() {
        if (!process()) return;
        flush();
        read();
    }

    // Serves the whole frames in the buffer, stopping at the in-flight limit
    // (the rest waits for replies to go out); false once the connection is closed.
    bool process() {
        char const* payload = nullptr;
        uint32_t length = 0;
        bool served = false;
        while (!(paused_ = limited())) {
            auto const next = frames_.next(payload, length);
            if (next == wire::FrameReader::Next::more) break;
            if (next == wire::FrameReader::Next::too_large) {
                shut(("frame of " + std::to_string(length) + " bytes, limit " +
                      std::to_string(server_.limits().max_frame))
                         .c_str());
                return false;
            }
            if (!handle(payload, length)) return false;
            served = true;
        }
        frames_.done();
        if (paused_ && !said_paused_) {
            said_paused_ = true;
            log_line(
                "connection #%llu (%s): %zu requests in flight, reading paused until replies are "
                "written",
                static_cast<unsigned long long>(number_), peer_.c_str(), in_flight());
        }
        // A paused connection's waiting frames are whole; only an unfinished one runs late.
        bool const partial = frames_.partial() && !paused_;
        if (partial && (served || !partial_)) partial_since_ = Clock::now();
        partial_ = partial;
        if (session_.done()) closing_ = true;
        return true;
    }

    bool malformed(char const* what) {
        shut(what);
        return false;
    }

    bool handle(char const* data, size_t size) {
        if (closing_) return true;  // refused or said goodbye: what follows is not served
        if (!decoded_.parse(data, size)) return malformed("malformed frame");
        if (!greeted_) {
            wire::Hello hello;
            if (!decoded_.hello(hello)) return malformed("no hello first");
            greeted_ = true;
            if (!session_.greet(hello, admitted_, out_)) {
                closing_ = true;
                if (!admitted_) return true;  // said when it was accepted
                log_line(
                    "connection #%llu (%s): refused: client protocol %u, table %016llx; ours %u, "
                    "%016llx",
                    static_cast<unsigned long long>(number_), peer_.c_str(), hello.version,
                    static_cast<unsigned long long>(hello.fingerprint), wire::kVersion,
                    static_cast<unsigned long long>(table_fingerprint()));
            }
            ++out_count_;
            return true;
        }
        if (decoded_.ping()) {
            wire::write_ping(out_);
            return true;
        }
        wire::Call call;
        if (!decoded_.call(call)) return malformed("malformed call");
        Kind const kind = function(call.function).kind;
        uint32_t const latency = server_.station().camera.latency_us();
        bool const delayed =
            latency && (kind == Kind::request || kind == Kind::action) && call.id != wire::kNoWait;
        Stats& stats = server_.station().stats;
        auto const start = stats.on() ? Clock::now() : Clock::time_point();
        int32_t status = 0;
        calls_.fetch_add(1, std::memory_order_relaxed);
        if (!delayed) {
            if (!session_.serve(call, out_, status)) return malformed("malformed call arguments");
            if (call.id != wire::kNoWait) ++out_count_;
            if (stats.on()) stats.record(call.function, status, Clock::now() - start);
        } else {
            // Served now into scratch space, sent when the latency has passed.
            thread_local wire::FrameWriter scratch;
            scratch.clear();
            if (!session_.serve(call, scratch, status))
                return malformed("malformed call arguments");
            std::string reply(scratch.buffer().data(), scratch.buffer().size());
            ++delayed_;
            auto timer =
                std::make_shared<asio::steady_timer>(strand_, std::chrono::microseconds(latency));
            timer->async_wait([self = shared_from_this(), timer, reply = std::move(reply), start,
                               status, function = call.function](boost::system::error_code) {
                --self->delayed_;
                Stats& stats = self->server_.station().stats;
                if (stats.on()) stats.record(function, status, Clock::now() - start);
                if (self->closed_) return;
                self->out_.buffer().write(reply.data(), reply.size());
                ++self->out_count_;
                self->flush();
                self->resume();
            });
        }
        subscribed_.store(session_.subscribed(), std::memory_order_relaxed);
        return true;
    }

    void push_event(int service) {
        if (closed_ || !greeted_) return;
        wire::write_event(out_, {service, 1, server_.address()});
    }

    void flush() {
        if (write_active_ || closed_) return;
        if (out_.buffer().size() == 0) {
            if (closing_ && delayed_ == 0) shut(nullptr);
            return;
        }
        std::swap(writing_, out_.buffer());
        writing_count_ = out_count_;
        out_count_ = 0;
        write_active_ = true;
        write_started_ = Clock::now();
        asio::async_write(socket_, asio::buffer(writing_.data(), writing_.size()),
                          asio::bind_executor(strand_, [self = shared_from_this()](
                                                           boost::system::error_code ec, size_t) {
                              self->on_write(ec);
                          }));
    }

    void on_write(boost::system::error_code ec) {
        write_active_ = false;
        writing_count_ = 0;
        writing_.clear();
        if (ec) {
            shut(ec == asio::error::operation_aborted ? nullptr : ec.message().c_str());
            return;
        }
        flush();
        resume();
    }

    void shut(char const* why) {
        if (closed_) return;
        closed_ = true;
        if (why)
            log_line("connection #%llu (%s): closed: %s", static_cast<unsigned long long>(number_),
                     peer_.c_str(), why);
        boost::system::error_code ignored;
        socket_.shutdown(tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
        subscribed_.store(false, std::memory_order_relaxed);
        server_.forget(*this);
    }

    Server& server_;
    asio::strand<asio::any_io_executor> strand_;
    tcp::socket socket_;
    uint64_t const number_;
    bool const admitted_;
    std::string peer_;
    Session session_;
    wire::Decoded decoded_;

    wire::FrameReader frames_;
    bool reading_ = false;
    bool paused_ = false;
    bool said_paused_ = false;
    bool partial_ = false;
    Clock::time_point partial_since_;
    Clock::time_point const started_;
    Clock::time_point heard_;  // when a read last brought bytes

    wire::FrameWriter out_;  // frames waiting for the socket
    msgpack::sbuffer writing_;
    size_t out_count_ = 0;
    size_t writing_count_ = 0;
    size_t delayed_ = 0;
    bool write_active_ = false;
    Clock::time_point write_started_;

    bool greeted_ = false;
    bool closing_ = false;  // close once everything is written
    bool closed_ = false;
    std::atomic<bool> subscribed_{false};
    std::atomic<uint64_t> calls_{0};
};

Server::Server(asio::io_context& io, std::vector<asio::io_context*> workers, Station& station,
               tcp::endpoint const& listen, Limits const& limits)
    : io_(io),
      workers_(std::move(workers)),
      station_(station),
      limits_(limits),
      acceptor_(io),
      sweeper_(io) {
    acceptor_.open(listen.protocol());
    acceptor_.set_option(tcp::acceptor::reuse_address(true));
    acceptor_.bind(listen);
    acceptor_.listen();
    address_ = "tcp://" + text_of(acceptor_.local_endpoint());
    station_.camera.listen(this);
}

Server::~Server() { station_.camera.unlisten(this); }

void Server::start() {
    accept();
    sweep();
}

void Server::accept() {
    asio::io_context& worker = *workers_[next_worker_++ % workers_.size()];
    acceptor_.async_accept(worker, [this](boost::system::error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted) return;
        if (!ec) {
            std::shared_ptr<Connection> made;
            {
                std::lock_guard lock(mutex_);
                if (stopped_) return;
                bool const admitted = admitted_ < limits_.max_connections;
                boost::system::error_code ignored;
                if (!admitted) {
                    log_line("connection limit %zu reached: refusing %s", limits_.max_connections,
                             text_of(socket.remote_endpoint(ignored)).c_str());
                }
                // Refusals are told in a welcome, a bounded number at a time.
                if (admitted || refusing_ < kRefusingAtOnce) {
                    ++(admitted ? admitted_ : refusing_);
                    made = std::make_shared<Connection>(*this, std::move(socket), ++accepted_,
                                                        admitted);
                    connections_.emplace(accepted_, made);
                } else {
                    socket.close(ignored);
                }
            }
            if (made) made->start();
        } else {
            // Out of descriptors, say: keep serving those already connected.
            log_line("accept: %s", ec.message().c_str());
        }
        std::lock_guard lock(mutex_);
        if (!stopped_) accept();
    });
}

void Server::sweep() {
    sweeper_.expires_after(std::chrono::milliseconds(250));
    sweeper_.async_wait([this](boost::system::error_code ec) {
        if (ec) return;
        auto const now = Clock::now();
        std::lock_guard lock(mutex_);
        for (auto& [number, weak] : connections_) {
            if (auto c = weak.lock()) c->check(now);
        }
        if (!stopped_) sweep();
    });
}

void Server::announce(int service) {
    if (station_.stats.on()) {
        ServiceInfo const& s = kovra_sim::service(service);
        station_.stats.announced(std::string(s.word) + ":" + s.target);
    }
    std::vector<std::shared_ptr<Connection>> listening;
    {
        std::lock_guard lock(mutex_);
        for (auto& [number, weak] : connections_) {
            auto c = weak.lock();
            if (c && c->subscribed()) listening.push_back(std::move(c));
        }
    }
    for (auto const& c : listening) c->announce(service);
}

namespace {

nlohmann::json connection_figures(uint64_t number, std::string const& peer, uint64_t calls) {
    return {{"connection", number}, {"peer", peer}, {"calls", calls}};
}

}  // namespace

void Server::forget(Connection const& closed) {
    std::lock_guard lock(mutex_);
    connections_.erase(closed.number());
    --(closed.admitted() ? admitted_ : refusing_);
    if (closed.calls() == 0) return;  // a peer that only knocked
    closed_.push_back(connection_figures(closed.number(), closed.peer(), closed.calls()));
    if (closed_.size() > kClosedKept) closed_.pop_front();
}

nlohmann::json Server::connections() {
    std::lock_guard lock(mutex_);
    nlohmann::json all = nlohmann::json::array();
    for (auto const& c : closed_) all.push_back(c);
    for (auto& [number, weak] : connections_) {
        if (auto c = weak.lock()) {
            all.push_back(connection_figures(number, c->peer(), c->calls()));
            all.back()["open"] = true;
        }
    }
    return all;
}

void Server::stop() {
    asio::post(io_, [this] {
        std::vector<std::shared_ptr<Connection>> open;
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
            boost::system::error_code ignored;
            acceptor_.close(ignored);
            sweeper_.cancel();
            for (auto& [number, weak] : connections_) {
                if (auto c = weak.lock()) open.push_back(std::move(c));
            }
        }
        for (auto const& c : open) c->close("the daemon is stopping");
    });
}

}  // namespace kovra_sim
