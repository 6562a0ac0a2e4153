#include "tcp_transport.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <optional>

#include "exhaust.h"
#include "kovra_sim/control.h"

namespace kovra_sim {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

// How often a quiet connection sends a heartbeat: three times within the
// camera's idle timeout, and at least every 10 s to notice a camera gone.
std::chrono::milliseconds heartbeat_interval(uint32_t idle_ms) {
    constexpr std::chrono::milliseconds kLongest{10000};
    return idle_ms ? std::min(std::chrono::milliseconds(idle_ms / 3), kLongest) : kLongest;
}

std::string const& ping_frame() {
    static std::string const frame = [] {
        wire::FrameWriter w;
        wire::write_ping(w);
        return std::string(w.buffer().data(), w.buffer().size());
    }();
    return frame;
}

// "tcp://HOST[:PORT]" or "tcp://[V6]:PORT".
bool parse_url(std::string const& url, std::string& host, std::string& port) {
    std::string const scheme = "tcp://";
    uint16_t number = 0;
    if (url.compare(0, scheme.size(), scheme) != 0 ||
        !wire::split_address(url.substr(scheme.size()), host, number)) {
        return false;
    }
    port = std::to_string(number);
    return !host.empty() && host.find('/') == std::string::npos && number != 0;
}

// Request ids: the slot in the low half, the slot's generation above, never 0.
uint32_t id_of(uint32_t slot, uint16_t generation) { return uint32_t(generation) << 16 | slot; }

// The frames that open an initiator and register a handler on it, for a call
// and for the replay after a reconnect alike.
void write_open(wire::FrameWriter& w, uint32_t rid, uint32_t handle, int service, bool events) {
    wire::begin_call(w, rid, init_function(service), handle, 1);
    w.packer().pack(int32_t(events));
    w.end();
}

void write_register(wire::FrameWriter& w, uint32_t rid, uint32_t broker, bool context) {
    wire::begin_call(w, rid, fn_kovra_api_broker_new_target_register_event_handler, broker, 1);
    w.packer().pack(context);
    w.end();
}

// A camera built from the same protocol and function table as this library.
bool same_build(wire::Welcome const& welcome) {
    return welcome.version == wire::kVersion && welcome.fingerprint == table_fingerprint();
}

}  // namespace

TcpTransport::TcpTransport(std::string url, uint32_t ipc, uint32_t log, uint32_t timeout_ms,
                           uint32_t give_up_s)
    : url_(std::move(url)),
      ipc_(ipc),
      log_(log),
      timeout_(timeout_ms),
      give_up_(give_up_s),
      work_(asio::make_work_guard(io_)),
      socket_(io_),
      retry_(io_),
      heartbeat_(io_),
      ping_deadline_(io_),
      interval_(heartbeat_interval(0)),
      slots_(new Slot[kMaxInFlight]) {
    free_.reserve(kMaxInFlight);
    for (uint32_t i = kMaxInFlight; i-- > 0;) free_.push_back(i);
}

std::unique_ptr<Transport> TcpTransport::connect(char const* url, uint32_t ipc, uint32_t log,
                                                 uint32_t timeout_ms, uint32_t give_up_s,
                                                 int32_t& status) {
    std::string host, port;
    if (!parse_url(url, host, port)) {
        status = KOVRA_SIM_STATUS_BAD_ARGUMENT;
        return nullptr;
    }
    std::unique_ptr<TcpTransport> t(new TcpTransport(url, ipc, log, timeout_ms, give_up_s));
    boost::system::error_code ec;
    for (auto const& entry : tcp::resolver(t->io_).resolve(host, port, ec))
        t->endpoints_.push_back(entry.endpoint());
    if (ec || t->endpoints_.empty()) {
        status = KOVRA_SIM_STATUS_NOT_CONNECTED;
        return nullptr;
    }
    if (!t->handshake(status)) return nullptr;
    t->state_.store(up, std::memory_order_release);
    try {
        check_threads();
        t->thread_ = std::thread([p = t.get()] { p->io_.run(); });
    } catch (std::system_error const&) {
        status = KOVRA_SIM_STATUS_NO_RESOURCES;
        return nullptr;
    }
    asio::post(t->io_, [p = t.get()] {
        p->read();
        p->beat();
    });
    return t;
}

// Connects and exchanges hello and welcome on the calling thread, within
// the deadline. The handlers share their state by pointer, so that one left
// pending when the deadline passes touches nothing of this frame.
bool TcpTransport::handshake(int32_t& status) {
    struct Progress {
        bool connected = false;
        bool answered = false;
        bool failed = false;
        std::vector<char> header = std::vector<char>(wire::kPrefix);
        std::vector<char> body;
        wire::FrameWriter hello;
    };
    auto p = std::make_shared<Progress>();
    auto const deadline = std::chrono::steady_clock::now() + timeout_;
    auto finish = [&](int32_t result) {
        status = result;
        if (result != KOVRA_SIM_STATUS_OK) {
            boost::system::error_code ignored;
            socket_.close(ignored);
            io_.restart();
            io_.poll();
        }
        io_.restart();
        return result == KOVRA_SIM_STATUS_OK;
    };
    asio::async_connect(socket_, endpoints_,
                        [p](boost::system::error_code ec, tcp::endpoint const&) {
                            p->connected = !ec;
                            p->failed = bool(ec);
                        });
    while (!p->connected && !p->failed && io_.run_one_until(deadline)) {
    }
    if (!p->connected)
        return finish(p->failed ? KOVRA_SIM_STATUS_NOT_CONNECTED : KOVRA_SIM_STATUS_TIMEOUT);
    socket_.set_option(tcp::no_delay(true));
    wire::write_hello(p->hello, {wire::kVersion, table_fingerprint(), ipc_, log_});
    asio::async_write(socket_, asio::buffer(p->hello.buffer().data(), p->hello.buffer().size()),
                      [p](boost::system::error_code ec, size_t) { p->failed = p->failed || ec; });
    asio::async_read(socket_, asio::buffer(p->header),
                     [this, p](boost::system::error_code ec, size_t) {
                         uint32_t const length = ec ? 0 : wire::frame_length(p->header.data());
                         if (length == 0 || length > wire::kMaxFrame) {
                             p->failed = true;
                             return;
                         }
                         p->body.resize(length);
                         asio::async_read(socket_, asio::buffer(p->body),
                                          [p](boost::system::error_code ec2, size_t) {
                                              p->failed = p->failed || ec2;
                                              p->answered = !ec2;
                                          });
                     });
    while (!p->answered && !p->failed && io_.run_one_until(deadline)) {
    }
    wire::Welcome welcome;
    if (p->failed || !p->answered) {
        return finish(p->failed ? KOVRA_SIM_STATUS_NOT_CONNECTED : KOVRA_SIM_STATUS_TIMEOUT);
    }
    if (!decoded_.parse(p->body.data(), p->body.size()) || !decoded_.welcome(welcome)) {
        report("camera at " + url_ + " does not speak this protocol");
        return finish(KOVRA_SIM_STATUS_PROTOCOL);
    }
    if (!same_build(welcome)) {
        char what[160];
        std::snprintf(what, sizeof what, "protocol %u, function table %016llx; ours: %u, %016llx",
                      welcome.version, static_cast<unsigned long long>(welcome.fingerprint),
                      wire::kVersion, static_cast<unsigned long long>(table_fingerprint()));
        report("camera at " + url_ + " was built differently: " + what);
        return finish(KOVRA_SIM_STATUS_PROTOCOL);
    }
    welcomed_ = true;
    interval_ = heartbeat_interval(welcome.idle_ms);
    return finish(welcome.status);
}

TcpTransport::~TcpTransport() { close(); }

bool TcpTransport::await_camera(Clock::time_point deadline) {
    std::unique_lock lock(state_mutex_);
    for (;;) {
        int const state = state_.load(std::memory_order_acquire);
        if (state != connecting) return state == up;
        auto const limit = std::min(deadline, away_since_ + give_up_);
        if (Clock::now() >= limit) return false;
        state_cv_.wait_until(lock, limit);
    }
}

void TcpTransport::close() {
    int previous;
    {
        std::lock_guard lock(state_mutex_);
        previous = state_.exchange(closed);
    }
    state_cv_.notify_all();
    if (previous == closed) return;
    if (previous == up) {
        // Goodbye, if the socket takes it at once; the camera also sees the close.
        wire::FrameWriter bye;
        wire::begin_call(bye, wire::kNoWait, fn_kovra_core_ipc_deinit, ipc_, 0);
        bye.end();
        std::lock_guard lock(write_mutex_);
        ::send(socket_.native_handle(), bye.buffer().data(), bye.buffer().size(),
               MSG_DONTWAIT | MSG_NOSIGNAL);
    }
    asio::post(io_, [this] {
        boost::system::error_code ignored;
        retry_.cancel();
        heartbeat_.cancel();
        ping_deadline_.cancel();
        std::lock_guard lock(write_mutex_);
        socket_.shutdown(tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
        work_.reset();
    });
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
    fail_waiting(KOVRA_SIM_STATUS_NOT_CONNECTED);
}

template <class Write>
int32_t TcpTransport::round_trip(Call* call, Write&& write) {
    // Only a call that finds the camera away reads the clock: it waits for
    // the camera within the deadline of the whole call.
    std::optional<Clock::time_point> deadline;
    if (state_.load(std::memory_order_acquire) != up) {
        deadline = Clock::now() + timeout_;
        if (!await_camera(*deadline)) return KOVRA_SIM_STATUS_NOT_CONNECTED;
    }
    uint32_t index;
    {
        std::lock_guard lock(free_mutex_);
        if (free_.empty()) return KOVRA_SIM_STATUS_NO_RESOURCES;
        index = free_.back();
        free_.pop_back();
    }
    Slot& slot = slots_[index];
    uint32_t id;
    {
        std::lock_guard lock(slot.mutex);
        if (++slot.generation == 0) slot.generation = 1;
        slot.waiting = true;
        slot.done = false;
        slot.call = call;
        id = id_of(index, slot.generation);
    }
    thread_local wire::FrameWriter frame;
    frame.clear();
    write(frame, id);
    int32_t status;
    bool timed_out = false;
    {
        bool const sent = send(frame.buffer().data(), frame.buffer().size());
        std::unique_lock lock(slot.mutex);
        auto const done = [&] { return slot.done; };
        if (!sent && !slot.done) {
            status = KOVRA_SIM_STATUS_NOT_CONNECTED;
        } else if (!(deadline ? slot.done_cv.wait_until(lock, *deadline, done)
                              : slot.done_cv.wait_for(lock, timeout_, done))) {
            status = KOVRA_SIM_STATUS_TIMEOUT;
            timed_out = true;
        } else {
            status = slot.status;
        }
        slot.waiting = false;
        slot.call = nullptr;
    }
    {
        std::lock_guard lock(free_mutex_);
        free_.push_back(index);
    }
    // A camera that lets a request wait out its deadline is taken for gone
    // now, so that the calls after it wait for it to be back rather than
    // for replies; the I/O thread then drops the connection.
    if (timed_out && away()) {
        asio::post(io_, [this] {
            drop("no reply within " + std::to_string(timeout_.count()) + " ms", true);
        });
    }
    return status;
}

bool TcpTransport::send(char const* data, size_t size, bool replaying) {
    std::lock_guard lock(write_mutex_);
    if (state_.load(std::memory_order_acquire) != (replaying ? connecting : up)) return false;
    sent_frames_.fetch_add(1, std::memory_order_relaxed);
    if (pending_.empty() && !flushing_) {
        ssize_t n = ::send(socket_.native_handle(), data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n == ssize_t(size)) return true;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
        n = n < 0 ? 0 : n;
        data += n;
        size -= size_t(n);
    }
    pending_.append(data, size);
    if (!flushing_) {
        flushing_ = true;
        asio::post(io_, [this] { flush(); });
    }
    return true;
}

void TcpTransport::flush() {
    {
        std::lock_guard lock(write_mutex_);
        if (pending_.empty() || !socket_.is_open()) {
            flushing_ = false;
            pending_.clear();
            return;
        }
        writing_.swap(pending_);  // writing_ was empty
    }
    asio::async_write(socket_, asio::buffer(writing_),
                      [this](boost::system::error_code ec, size_t) {
                          writing_.clear();
                          if (ec) {
                              std::lock_guard lock(write_mutex_);
                              flushing_ = false;
                              pending_.clear();
                              return;  // the read side sees the connection go
                          }
                          flush();
                      });
}

int32_t TcpTransport::request(int function, uint32_t handle, char const* target, Call& call) {
    return round_trip(&call, [&](wire::FrameWriter& w, uint32_t rid) {
        wire::begin_call(w, rid, function, handle, call.sent(), target);
        call.pack(w.packer());
        w.end();
    });
}

int32_t TcpTransport::open_initiator(uint32_t handle, int service, bool events) {
    int32_t const status = round_trip(nullptr, [&](wire::FrameWriter& w, uint32_t rid) {
        write_open(w, rid, handle, service, events);
    });
    std::lock_guard lock(opened_mutex_);
    if (status == KOVRA_SIM_STATUS_OK) opened_.open(handle, service, events);
    return status;
}

int32_t TcpTransport::close_initiator(uint32_t handle, int service) {
    {
        std::lock_guard lock(opened_mutex_);
        opened_.close(handle, service);
    }
    return bare_call(deinit_function(service), handle);
}

int32_t TcpTransport::subscribe(uint32_t broker, bool context) {
    int32_t const status = round_trip(nullptr, [&](wire::FrameWriter& w, uint32_t rid) {
        write_register(w, rid, broker, context);
    });
    std::lock_guard lock(opened_mutex_);
    if (status == KOVRA_SIM_STATUS_OK) opened_.subscribe(broker, context);
    return status;
}

int32_t TcpTransport::unsubscribe(uint32_t broker) {
    {
        std::lock_guard lock(opened_mutex_);
        opened_.unsubscribe(broker);
    }
    return bare_call(fn_kovra_api_broker_new_target_unregister_event_handler, broker);
}

int32_t TcpTransport::bare_call(int function, uint32_t handle) {
    return round_trip(nullptr, [&](wire::FrameWriter& w, uint32_t rid) {
        wire::begin_call(w, rid, function, handle, 0);
        w.end();
    });
}

void TcpTransport::read() {
    socket_.async_read_some(asio::buffer(frames_.space(), frames_.room()),
                            [this](boost::system::error_code ec, size_t n) { on_read(ec, n); });
}

void TcpTransport::on_read(boost::system::error_code ec, size_t n) {
    if (ec) {
        if (ec != asio::error::operation_aborted) {
            lost(ec == asio::error::eof ? "the camera closed the connection" : ec.message());
        }
        return;
    }
    frames_.received(n);
    pinging_ = false;  // the camera is there
    char const* payload = nullptr;
    uint32_t length = 0;
    for (;;) {
        auto const next = frames_.next(payload, length);
        if (next == wire::FrameReader::Next::more) break;
        if (next == wire::FrameReader::Next::too_large) {
            lost("frame of " + std::to_string(length) + " bytes from the camera");
            return;
        }
        if (!dispatch(payload, length)) {
            lost("malformed frame from the camera");
            return;
        }
    }
    frames_.done();
    read();
}

bool TcpTransport::dispatch(char const* data, size_t size) {
    if (!decoded_.parse(data, size)) return false;
    switch (decoded_.type()) {
        case wire::FrameType::reply: {
            wire::Reply reply;
            if (!decoded_.reply(reply)) return false;
            answer(reply);
            return true;
        }
        case wire::FrameType::event: {
            wire::Event event;
            if (!decoded_.event(event)) return false;
            ServiceInfo const& s = service_info(event.service);
            subscriptions.deliver(s.word, s.target, event.flag, std::string(event.address).c_str());
            return true;
        }
        case wire::FrameType::hello: {
            wire::Welcome welcome;
            if (welcomed_ || !decoded_.welcome(welcome)) return false;
            if (!same_build(welcome)) {
                lost("the camera came back built differently");
                return true;
            }
            if (welcome.status != KOVRA_SIM_STATUS_OK) {
                lost("the camera refused us with status " + std::to_string(welcome.status));
                return true;
            }
            welcomed_ = true;
            interval_ = heartbeat_interval(welcome.idle_ms);
            // Reopen everything under the numbers the program holds, ahead
            // of any new call.
            wire::FrameWriter replay;
            {
                std::lock_guard lock(opened_mutex_);
                for (auto const& [handle, o] : opened_.all()) {
                    write_open(replay, wire::kNoWait, handle, o.service, o.events);
                    for (uint32_t h = 0; h < o.handlers; ++h)
                        write_register(replay, wire::kNoWait, handle, h < o.contexts);
                }
            }
            if (replay.buffer().size()) send(replay.buffer().data(), replay.buffer().size(), true);
            backoff_.reset();
            {
                std::lock_guard lock(state_mutex_);
                int expected = connecting;
                state_.compare_exchange_strong(expected, up);
            }
            state_cv_.notify_all();
            report("camera at " + url_ + " is back");
            return true;
        }
        case wire::FrameType::ping:
            return decoded_.ping();
        case wire::FrameType::call:
            return false;
    }
    return false;
}

void TcpTransport::answer(wire::Reply const& reply) {
    uint32_t const index = reply.id & 0xffff;
    if (index >= kMaxInFlight) return;  // no request of ours: ignored
    Slot& slot = slots_[index];
    std::unique_lock lock(slot.mutex);
    if (!slot.waiting || slot.done || slot.generation != reply.id >> 16) return;
    slot.status = reply.status;
    if (reply.status == KOVRA_SIM_STATUS_OK && slot.call) {
        try {
            if (!slot.call->unpack(reply.values)) slot.status = KOVRA_SIM_STATUS_PROTOCOL;
        } catch (std::bad_alloc const&) {
            slot.status = KOVRA_SIM_STATUS_NO_RESOURCES;
        }
    }
    slot.done = true;
    // Woken after the lock is let go, the caller does not wait for it again.
    lock.unlock();
    slot.done_cv.notify_one();
}

void TcpTransport::fail_waiting(int32_t status) {
    for (uint32_t i = 0; i < kMaxInFlight; ++i) {
        Slot& slot = slots_[i];
        std::unique_lock lock(slot.mutex);
        if (!slot.waiting || slot.done) continue;
        slot.status = status;
        slot.done = true;
        lock.unlock();
        slot.done_cv.notify_one();
    }
}

bool TcpTransport::away() {
    std::lock_guard lock(state_mutex_);
    int expected = up;
    if (!state_.compare_exchange_strong(expected, connecting)) return false;
    away_since_ = Clock::now();
    return true;
}

void TcpTransport::lost(std::string const& why) { drop(why, away()); }

void TcpTransport::drop(std::string const& why, bool was_up) {
    if (state_.load() == closed) return;
    if (was_up) report("lost the camera at " + url_ + ": " + why + "; reconnecting");
    pinging_ = false;
    ping_deadline_.cancel();
    {
        std::lock_guard lock(write_mutex_);
        boost::system::error_code ignored;
        socket_.close(ignored);
        pending_.clear();
    }
    fail_waiting(KOVRA_SIM_STATUS_NOT_CONNECTED);
    retry_.expires_after(backoff_.next());
    retry_.async_wait([this](boost::system::error_code ec) {
        if (!ec) reconnect();
    });
}

void TcpTransport::reconnect() {
    if (state_.load() == closed) return;
    frames_ = wire::FrameReader(wire::kMaxFrame);
    welcomed_ = false;
    {
        std::lock_guard lock(write_mutex_);
        socket_ = tcp::socket(io_);
    }
    asio::async_connect(
        socket_, endpoints_, [this](boost::system::error_code ec, tcp::endpoint const&) {
            if (state_.load() == closed) return;
            if (ec) {
                lost(ec.message());
                return;
            }
            socket_.set_option(tcp::no_delay(true));
            wire::FrameWriter hello;
            wire::write_hello(hello, {wire::kVersion, table_fingerprint(), ipc_, log_});
            {
                std::lock_guard lock(write_mutex_);
                pending_.assign(hello.buffer().data(), hello.buffer().size());
                if (!flushing_) {
                    flushing_ = true;
                    asio::post(io_, [this] { flush(); });
                }
            }
            // A camera that accepts but never greets is retried like one that refuses.
            retry_.expires_after(timeout_);
            retry_.async_wait([this](boost::system::error_code ec2) {
                if (!ec2 && !welcomed_)
                    lost("no welcome within " + std::to_string(timeout_.count()) + " ms");
            });
            read();
        });
}

// Every interval on the I/O thread: a connection that sent nothing since the
// last beat sends a ping, so that the camera does not take it for idle.
void TcpTransport::beat() {
    heartbeat_.expires_after(interval_);
    heartbeat_.async_wait([this](boost::system::error_code ec) {
        if (ec || state_.load() == closed) return;
        if (state_.load() == up && !pinging_ &&
            sent_frames_.load(std::memory_order_relaxed) == sent_at_beat_) {
            ping();
        }
        sent_at_beat_ = sent_frames_.load(std::memory_order_relaxed);
        beat();
    });
}

// A ping that nothing answers within the deadline means that the camera is
// gone even though the connection looks open.
void TcpTransport::ping() {
    std::string const& frame = ping_frame();
    if (!send(frame.data(), frame.size())) return;
    pinging_ = true;
    ping_deadline_.expires_after(timeout_);
    ping_deadline_.async_wait([this](boost::system::error_code ec) {
        if (!ec && pinging_)
            lost("no answer to a heartbeat within " + std::to_string(timeout_.count()) + " ms");
    });
}

}  // namespace kovra_sim
