#include "daemon/connection.h"

#include <boost/random/uniform_int_distribution.hpp>
#include <random>

#include "daemon/log.h"
#include "daemon/server.h"

namespace kovra_sim {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

// A connection's generator: the same seed and connection number draw the
// same decisions on every machine.
boost::random::mt19937 seeded(uint32_t seed, uint64_t number) {
    std::seed_seq sequence{seed, uint32_t(number), uint32_t(number >> 32)};
    return boost::random::mt19937(sequence);
}

}  // namespace

Connection::Connection(Server& server, tcp::socket socket, uint64_t number, bool admitted)
    : server_(server),
      strand_(asio::make_strand(socket.get_executor())),
      socket_(std::move(socket)),
      number_(number),
      admitted_(admitted),
      session_(server.simulation(), uint32_t(server.limits().idle_timeout.count())),
      frames_(server.limits().max_frame),
      started_(Clock::now()),
      heard_(started_),
      wire_(server.simulation().wire),
      draws_(seeded(wire_.seed(), number)),
      wait_(strand_) {
    boost::system::error_code ec;
    peer_ = text_of(socket_.remote_endpoint(ec));
    // Each batch, or each piece of one, leaves as it is written.
    socket_.set_option(tcp::no_delay(true), ec);
}

bool Connection::limited() const { return in_flight() >= server_.limits().max_in_flight; }

void Connection::start() {
    asio::post(strand_, [self = shared_from_this()] { self->read(); });
}

void Connection::announce(int service) {
    // On this connection's own strand the announcement comes from one of its
    // own requests: it joins the batch ahead of that request's reply, and
    // the flush after the batch sends both. From another connection's
    // request it is flushed at once, or an idle client would wait for it.
    if (strand_.running_in_this_thread()) {
        push_event(service);
        return;
    }
    asio::post(strand_, [self = shared_from_this(), service] {
        self->push_event(service);
        self->flush();
    });
}

void Connection::close(std::string why) {
    asio::post(strand_,
               [self = shared_from_this(), why = std::move(why)] { self->shut(why.c_str()); });
}

void Connection::check(Clock::time_point now) {
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

void Connection::read() {
    if (closed_ || reading_ || closing_ || paused_) return;
    reading_ = true;
    socket_.async_read_some(asio::buffer(frames_.space(), frames_.room()),
                            asio::bind_executor(strand_, [self = shared_from_this()](
                                                             boost::system::error_code ec,
                                                             size_t n) { self->on_read(ec, n); }));
}

void Connection::on_read(boost::system::error_code ec, size_t n) {
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

void Connection::resume() {
    if (!paused_ || limited()) return;
    paused_ = false;
    serve_buffered();
}

void Connection::serve_buffered() {
    if (!process()) return;
    flush();
    read();
}

bool Connection::process() {
    if (wire_.version() != faults_version_) wire_.get(faults_, faults_version_);
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

bool Connection::malformed(char const* what) {
    shut(what);
    return false;
}

bool Connection::handle(char const* data, size_t size) {
    if (closing_) return true;  // refused or said goodbye: what follows is not served
    if (!decoded_.parse(data, size)) return malformed("malformed frame");
    if (!greeted_) {
        wire::Hello hello;
        if (!decoded_.hello(hello)) return malformed("no hello first");
        greeted_ = true;
        if (!session_.greet(hello, admitted_, out_)) {
            closing_ = true;
            if (admitted_) {  // one beyond the limit was said when it was accepted
                log_line(
                    "connection #%llu (%s): refused: client protocol %u, table %016llx; ours %u, "
                    "%016llx",
                    static_cast<unsigned long long>(number_), peer_.c_str(), hello.version,
                    static_cast<unsigned long long>(hello.fingerprint), wire::kVersion,
                    static_cast<unsigned long long>(table_fingerprint()));
            }
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
    Stats& stats = server_.simulation().stats;
    auto const start = stats.on() ? Clock::now() : Clock::time_point();
    // Served into scratch space: the reply joins the batch, or waits out
    // the camera's latency first.
    thread_local wire::FrameWriter reply;
    reply.clear();
    Session::Answer const answer = session_.serve(call, reply);
    if (answer.malformed) return malformed("malformed call arguments");
    calls_.fetch_add(1, std::memory_order_relaxed);
    subscribed_.store(session_.subscribed(), std::memory_order_relaxed);
    // Faults on the wire touch only a service's requests that want a reply:
    // initiators, handlers and the goodbye go through.
    auto delay = answer.delay;
    bool const kept = call.id == wire::kNoWait || !faults_.on_connections() ||
                      !is_request(call.function) || disturb(faults_, delay);
    if (stats.on()) stats.record(call.function, answer.status, Clock::now() - start + delay);
    if (!kept) return false;
    if (call.id == wire::kNoWait) return true;
    if (delay.count() == 0) {
        out_.buffer().write(reply.buffer().data(), reply.buffer().size());
        ++out_count_;
        return true;
    }
    ++delayed_;
    auto timer = std::make_shared<asio::steady_timer>(strand_, delay);
    timer->async_wait([self = shared_from_this(), timer,
                       due = std::string(reply.buffer().data(), reply.buffer().size())](
                          boost::system::error_code) {
        --self->delayed_;
        if (self->closed_) return;
        self->out_.buffer().write(due.data(), due.size());
        ++self->out_count_;
        self->flush();
        self->resume();
    });
    return true;
}

void Connection::push_event(int service) {
    if (closed_ || !greeted_) return;
    wire::write_event(out_, {service, 1, server_.address()});
}

void Connection::flush() {
    if (write_active_ || waiting_ || closed_) return;
    if (out_.buffer().size() == 0) {
        if (closing_ && delayed_ == 0) shut(nullptr);
        return;
    }
    if (held_until_ != Clock::time_point()) {
        if (Clock::now() < held_until_) return wait_until(held_until_);
        held_until_ = {};
    }
    std::swap(writing_, out_.buffer());
    writing_count_ = out_count_;
    out_count_ = 0;
    write_active_ = true;
    written_ = 0;
    if (faults_.slice_bytes && writing_.size() > *faults_.slice_bytes)
        wire_.count(WireFault::slice);
    write_piece();
}

void Connection::write_piece() {
    size_t piece = writing_.size() - written_;
    if (faults_.slice_bytes) piece = std::min<size_t>(piece, *faults_.slice_bytes);
    if (uint64_t const kbps = faults_.bandwidth_kbps.value_or(0)) {
        // At most 20 ms worth a piece, so that a slow link dribbles.
        piece = size_t(std::min<uint64_t>(piece, std::max<uint64_t>(1, kbps * 5 / 2)));
        auto const now = Clock::now();
        if (now < paced_until_) {
            wire_.count(WireFault::bandwidth);
            return wait_until(paced_until_);
        }
        paced_until_ = now + std::chrono::microseconds(piece * uint64_t(8000) / kbps);
    }
    write_started_ = Clock::now();
    asio::async_write(socket_, asio::buffer(writing_.data() + written_, piece),
                      asio::bind_executor(strand_, [self = shared_from_this()](
                                                       boost::system::error_code ec, size_t n) {
                          self->on_write(ec, n);
                      }));
}

void Connection::on_write(boost::system::error_code ec, size_t n) {
    written_ += n;
    if (!ec && written_ < writing_.size()) return write_piece();
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

void Connection::wait_until(Clock::time_point t) {
    waiting_ = true;
    wait_.expires_at(t);
    wait_.async_wait([self = shared_from_this()](boost::system::error_code) {
        self->waiting_ = false;
        if (self->closed_) return;
        if (self->write_active_) {
            self->write_piece();
        } else {
            self->flush();
        }
    });
}

bool Connection::disturb(WireFaults const& wire, std::chrono::microseconds& delay) {
    if (wire.jitter_ms) {
        wire_.count(WireFault::jitter);
        delay += std::chrono::microseconds(
            boost::random::uniform_int_distribution<uint32_t>(0, *wire.jitter_ms * 1000)(draws_));
    }
    if (wire.stall && draw(wire.stall->chance)) {
        wire_.count(WireFault::stall);
        held_until_ =
            std::max(held_until_, Clock::now() + std::chrono::milliseconds(wire.stall->ms));
    }
    if (!wire.drop) return true;
    if (wire.drop->every ? ++replies_ % wire.drop->every != 0 : !draw(wire.drop->chance))
        return true;
    wire_.count(WireFault::drop);
    shut(("dropped after call " + std::to_string(calls()) + " (drop=)").c_str());
    return false;
}

void Connection::shut(char const* why) {
    if (closed_) return;
    closed_ = true;
    wait_.cancel();
    if (why)
        log_line("connection #%llu (%s): closed: %s", static_cast<unsigned long long>(number_),
                 peer_.c_str(), why);
    boost::system::error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
    subscribed_.store(false, std::memory_order_relaxed);
    server_.forget(*this);
}

}  // namespace kovra_sim
