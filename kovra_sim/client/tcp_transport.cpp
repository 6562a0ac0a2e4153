#include "client/tcp_transport.h"

#include <kovra_sim/control.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "client/exhaust.h"

namespace kovra_sim {
namespace {

using Clock = std::chrono::steady_clock;

// How long the connection must be free of waiting calls before the keeper
// reads it, so that back-to-back calls never have to ask it to stop.
constexpr auto kQuiet = std::chrono::milliseconds(5);

// How a quiet connection shows it is alive: three heartbeats within the
// camera's idle timeout, and one at least every 10 s to notice a camera gone.
std::chrono::milliseconds heartbeat_interval(uint32_t idle_ms) {
    constexpr std::chrono::milliseconds kLongest{10000};
    return idle_ms ? std::min(std::chrono::milliseconds(idle_ms / 3), kLongest) : kLongest;
}

int milliseconds_until(Clock::time_point t) {
    auto const left = std::chrono::ceil<std::chrono::milliseconds>(t - Clock::now()).count();
    return left < 0 ? 0 : int(std::min<long long>(left, 1 << 30));
}

// Waits until `fd` is ready for `events` or `deadline` passes; false then.
bool ready(int fd, short events, Clock::time_point deadline) {
    pollfd p{fd, events, 0};
    int n;
    while ((n = ::poll(&p, 1, milliseconds_until(deadline))) < 0 && errno == EINTR) {
    }
    return n > 0;
}

// Writes all of `size` bytes within the deadline; false if it cannot.
bool write_all(int fd, char const* data, size_t size, Clock::time_point deadline) {
    while (size > 0) {
        ssize_t const n = ::send(fd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            data += n, size -= size_t(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else if (n < 0 && errno == EAGAIN && !ready(fd, POLLOUT, deadline)) {
            return false;
        }
    }
    return true;
}

// A socket connected to `address` within the deadline, or -1 with the
// reason in `error` (ETIMEDOUT when the deadline passed).
int connect_to(std::string const& address, Clock::time_point deadline, int& error) {
    auto const* a = reinterpret_cast<sockaddr const*>(address.data());
    int const fd = ::socket(a->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    error = 0;
    socklen_t size = sizeof error;
    if (::connect(fd, a, socklen_t(address.size())) == 0) {
    } else if (errno != EINPROGRESS) {
        error = errno;
    } else if (!ready(fd, POLLOUT, deadline)) {
        error = ETIMEDOUT;
    } else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
        error = errno;
    }
    if (error == 0) {
        int const on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        return fd;
    }
    ::close(fd);
    return -1;
}

// "127.0.0.1:7570" or "[::1]:7570", as a person reading the log types it.
std::string numeric_address(std::string const& address) {
    auto const* a = reinterpret_cast<sockaddr const*>(address.data());
    char host[NI_MAXHOST], port[NI_MAXSERV];
    if (::getnameinfo(a, socklen_t(address.size()), host, sizeof host, port, sizeof port,
                      NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return "an address of family " + std::to_string(a->sa_family);
    }
    return (a->sa_family == AF_INET6 ? "[" + std::string(host) + "]" : std::string(host)) + ":" +
           port;
}

// Why a connect failed, in the words of the rest of the log.
std::string connect_error(int error, std::string const& within) {
    if (error == ETIMEDOUT) return "no answer" + within;
    return error == ECONNREFUSED   ? "connection refused (nothing listens there)"
           : error == ENETUNREACH  ? "network unreachable"
           : error == EHOSTUNREACH ? "host unreachable"
                                   : std::strerror(error);
}

// A call frame with `args` as its arguments, for a call and for the replay
// after a reconnect alike.
template <class... Args>
void write_call(wire::FrameWriter& w, uint32_t id, int function, uint32_t handle, Args... args) {
    wire::begin_call(w, id, function, handle, sizeof...(Args));
    (w.packer().pack(args), ...);
    w.end();
}

}  // namespace

TcpTransport::TcpTransport(std::string url, uint32_t ipc, uint32_t log, uint32_t timeout_ms,
                           uint32_t give_up_s)
    : url_(std::move(url)),
      ipc_(ipc),
      log_(log),
      timeout_(timeout_ms),
      give_up_(give_up_s),
      slots_(new Waiter[kMaxInFlight]),
      interval_(heartbeat_interval(0)) {
    free_.reserve(kMaxInFlight);
    busy_.reserve(kMaxInFlight);
    answered_.reserve(kMaxInFlight);
    for (uint32_t i = kMaxInFlight; i-- > 0;) free_.push_back(i);
}

// The keeper makes the first connection as it makes a reconnect: this
// starts the keeper and waits for how that ends.
std::unique_ptr<Transport> TcpTransport::connect(char const* url, uint32_t ipc, uint32_t log,
                                                 uint32_t timeout_ms, uint32_t give_up_s,
                                                 int32_t& status) {
    // "tcp://HOST[:PORT]" or "tcp://[V6]:PORT".
    bool const tcp = std::strncmp(url, "tcp://", 6) == 0;
    std::string host;
    uint16_t port = 0;
    if (!tcp || !wire::split_address(url + 6, host, port) || host.empty() ||
        host.find('/') != std::string::npos || port == 0) {
        report("cannot connect: \"" + std::string(url) +
               (tcp ? "\" is not tcp://HOST[:PORT] with a port from 1 to 65535"
                    : "\" is not a tcp:// URL (the stand-in speaks tcp://HOST[:PORT] only)"));
        status = KOVRA_SIM_STATUS_BAD_ARGUMENT;
        return nullptr;
    }
    std::unique_ptr<TcpTransport> t(new TcpTransport(url, ipc, log, timeout_ms, give_up_s));
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int const resolved = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (resolved != 0) {
        report("cannot connect to " + std::string(url) + ": host \"" + host +
               "\" does not resolve (" +
               (resolved == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(resolved)) + ")");
    } else {
        for (addrinfo* a = found; a; a = a->ai_next)
            t->endpoints_.emplace_back(reinterpret_cast<char const*>(a->ai_addr), a->ai_addrlen);
        ::freeaddrinfo(found);
    }
    status = KOVRA_SIM_STATUS_NOT_CONNECTED;
    if (t->endpoints_.empty()) return nullptr;
    status = KOVRA_SIM_STATUS_NO_RESOURCES;
    if ((t->kick_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) < 0) return nullptr;
    if (!start_thread(t->keeper_, &TcpTransport::keep, t.get())) return nullptr;
    std::unique_lock lock(t->mutex_);
    t->changed_.wait(lock, [&] { return t->first_.has_value(); });
    status = *t->first_;
    lock.unlock();
    if (status == KOVRA_SIM_STATUS_OK) return t;
    // Said once, when the program is told: the attempts before it were the
    // waiting a camera that reboots is given.
    if (!t->failure_.empty()) {
        bool const waited = give_up_s > 0 && (status == KOVRA_SIM_STATUS_NOT_CONNECTED ||
                                              status == KOVRA_SIM_STATUS_TIMEOUT);
        report("cannot connect to " + t->url_ + ": " + t->failure_ +
               (waited ? "; gave up after give_up=" + std::to_string(give_up_s) + " s" : ""));
    }
    t->close();
    return nullptr;
}

TcpTransport::~TcpTransport() { close(); }

void TcpTransport::close() {
    bool was_up;
    {
        std::lock_guard lock(mutex_);
        if (state_ == closed) return;
        was_up = state_ == up;
        state_ = closed;
        fail_waiting(KOVRA_SIM_STATUS_NOT_CONNECTED);
        changed_.notify_all();
    }
    if (was_up) {
        // Goodbye, if the socket takes it at once; the camera also sees the close.
        wire::FrameWriter bye;
        write_call(bye, wire::kNoWait, fn_kovra_core_ipc_deinit, ipc_);
        ::send(fd_, bye.buffer().data(), bye.buffer().size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    }
    ::shutdown(fd_, SHUT_RDWR);  // wakes a reader
    if (kick_ >= 0) kick();
    if (keeper_.joinable() && keeper_.get_id() != std::this_thread::get_id()) keeper_.join();
    std::lock_guard lock(mutex_);
    if (fd_ >= 0) ::close(fd_.exchange(-1));
}

bool TcpTransport::await_camera(std::unique_lock<std::mutex>& lock, Clock::time_point deadline) {
    for (;;) {
        if (state_ != connecting) return state_ == up;
        auto const limit = std::min(deadline, away_since_ + give_up_);
        if (Clock::now() >= limit) return false;
        changed_.wait_until(lock, limit);
    }
}

void TcpTransport::fail_waiting(int32_t status) {
    for (uint32_t index : busy_) {
        Waiter& w = slots_[index];
        if (w.answered) continue;
        w.answered = true;
        w.status = status;
        w.wake.notify_one();
    }
}

template <class Write>
int32_t TcpTransport::round_trip(Call* call, Write&& write) {
    auto const deadline = Clock::now() + timeout_;
    std::unique_lock lock(mutex_);
    if (state_ != up && !await_camera(lock, deadline)) return KOVRA_SIM_STATUS_NOT_CONNECTED;
    if (free_.empty()) return KOVRA_SIM_STATUS_NO_RESOURCES;
    uint32_t const index = free_.back();
    free_.pop_back();
    busy_.push_back(index);
    Waiter& w = slots_[index];
    if (++w.generation == 0) w.generation = 1;
    w.waiting = true;
    w.answered = w.lead = false;
    w.call = call;
    bool const keeper_reads = keeper_reads_;
    lock.unlock();
    if (keeper_reads) kick();  // it yields the reading to a waiting call
    thread_local wire::FrameWriter frame;
    frame.clear();
    write(frame, uint32_t(w.generation) << 16 | index);
    bool const sent = send(frame.buffer().data(), frame.buffer().size());
    lock.lock();
    // A socket that takes no more is a camera gone: the calls after this one
    // wait for it to be back, instead of each failing at once until a reader
    // sees the connection closed.
    if (!sent) lost("the connection takes no more calls");
    bool timed_out = false;
    while (!w.answered && sent) {
        if (!reading_ || w.lead) {  // free, or handed over
            reading_ = true;
            w.lead = false;
            lock.unlock();
            read(&w, deadline);
            lock.lock();
            yield_reading(&w);
        } else {
            w.wake.wait_until(lock, deadline);
        }
        if (!w.answered && !w.lead && Clock::now() >= deadline) {
            timed_out = true;
            break;
        }
    }
    int32_t const status = w.answered  ? w.status
                           : timed_out ? KOVRA_SIM_STATUS_TIMEOUT
                                       : KOVRA_SIM_STATUS_NOT_CONNECTED;
    w.waiting = false;
    w.call = nullptr;
    busy_.erase(std::find(busy_.begin(), busy_.end(), index));
    free_.push_back(index);
    if (busy_.empty()) idle_since_ = Clock::now();
    // A camera that lets a request wait out its deadline is taken for gone,
    // so that the calls after it wait for it to be back rather than for
    // replies.
    if (timed_out) lost("no reply" + within());
    if (w.lead) yield_reading(&w);  // handed the reading just as it gave up
    return status;
}

bool TcpTransport::send(char const* data, size_t size) {
    std::unique_lock lock(write_mutex_);
    if (state_ != up) return false;
    sent_.fetch_add(1, std::memory_order_relaxed);
    if (sending_) {
        outbox_.append(data, size);
        return true;
    }
    sending_ = true;
    thread_local std::string batch;
    bool ok = true;
    for (bool first = true; ok && (first || !outbox_.empty()); first = false) {
        if (!first) batch.swap(outbox_);
        lock.unlock();
        auto const deadline = Clock::now() + timeout_;
        ok = first ? write_all(fd_, data, size, deadline)
                   : write_all(fd_, batch.data(), batch.size(), deadline);
        batch.clear();
        lock.lock();
    }
    outbox_.clear();
    sending_ = false;
    return ok;  // a connection gone is for the reader, or the keeper, to find
}

int32_t TcpTransport::request(int function, uint32_t handle, char const* target, Call& call) {
    return round_trip(&call, [&](wire::FrameWriter& w, uint32_t id) {
        wire::begin_call(w, id, function, handle, call.sent(), target);
        call.pack(w.packer());
        w.end();
    });
}

int32_t TcpTransport::open_initiator(uint32_t handle, int service, bool events) {
    int32_t const status = bare_call(init_function(service), handle, int32_t(events));
    std::lock_guard lock(mutex_);
    if (status == KOVRA_SIM_STATUS_OK) opened_.open(handle, service, events);
    return status;
}

int32_t TcpTransport::close_initiator(uint32_t handle, int service) {
    {
        std::lock_guard lock(mutex_);
        opened_.close(handle, service);
    }
    return bare_call(deinit_function(service), handle);
}

int32_t TcpTransport::subscribe(uint32_t broker, bool context) {
    int32_t const status =
        bare_call(fn_kovra_api_broker_new_target_register_event_handler, broker, context);
    std::lock_guard lock(mutex_);
    if (status == KOVRA_SIM_STATUS_OK) opened_.subscribe(broker, context);
    return status;
}

int32_t TcpTransport::unsubscribe(uint32_t broker) {
    {
        std::lock_guard lock(mutex_);
        opened_.unsubscribe(broker);
    }
    return bare_call(fn_kovra_api_broker_new_target_unregister_event_handler, broker);
}

template <class... Args>
int32_t TcpTransport::bare_call(int function, uint32_t handle, Args... args) {
    return round_trip(nullptr, [&](wire::FrameWriter& w, uint32_t id) {
        write_call(w, id, function, handle, args...);
    });
}

void TcpTransport::kick() {
    uint64_t const one = 1;
    [[maybe_unused]] ssize_t const written = ::write(kick_, &one, sizeof one);
}

// The reader role passes straight to a waiting call, so that no other
// thread takes it in between.
void TcpTransport::yield_reading(Waiter const* self) {
    for (uint32_t index : busy_) {
        Waiter& w = slots_[index];
        if (&w != self && w.waiting && !w.answered && !w.lead) {
            w.lead = true;
            w.wake.notify_one();
            return;
        }
    }
    reading_ = false;
    // The keeper takes the reading over by itself once the connection has
    // been quiet for kQuiet; waking it after every reply would cost each
    // round trip a context switch. Only a reconnect waits for the reader.
    if (state_ != up) changed_.notify_all();
}

void TcpTransport::read(Waiter* mine, Clock::time_point until) {
    bool answered_ping = false;
    while (drain()) {
        // A caller's own slot is checked without the lock, which the
        // callers share: every look at it would be a chance to contend.
        if (state_ != up || (mine && mine->answered)) return;
        if (!mine) {
            // The keeper read until the heartbeat's answer was due; now it
            // schedules the next one from the one answered.
            if (answered_ping) return;
            std::lock_guard lock(mutex_);
            if (!busy_.empty()) return;
        }
        pollfd p[2] = {{fd_, POLLIN, 0}, {kick_, POLLIN, 0}};
        int const n = ::poll(p, mine ? 1 : 2, milliseconds_until(until));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // the time is up
        if (p[1].revents) {
            uint64_t kicks;
            [[maybe_unused]] ssize_t const got = ::read(kick_, &kicks, sizeof kicks);
            return;
        }
        ssize_t const got = ::recv(fd_, frames_.space(), frames_.room(), MSG_DONTWAIT);
        if (got > 0) {
            frames_.received(size_t(got));
            answered_ping = pinged_.exchange(false);  // the camera is there
        } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
            std::string const why =
                got == 0 ? "the camera closed the connection" : std::strerror(errno);
            std::lock_guard lock(mutex_);
            lost(why);
            return;
        }
    }
}

// The whole frames read are served under one hold of the lock, and the
// callers answered woken after it, so that none blocks on it at once.
bool TcpTransport::drain() {
    char const* payload = nullptr;
    uint32_t length = 0;
    auto next = frames_.next(payload, length);
    bool ok = true;
    if (next != wire::FrameReader::Next::more) {
        std::unique_lock lock(mutex_);
        for (; next != wire::FrameReader::Next::more; next = frames_.next(payload, length)) {
            if (next == wire::FrameReader::Next::too_large || !dispatch(payload, length, lock)) {
                ok = false;
                lost(next == wire::FrameReader::Next::too_large
                         ? "frame of " + std::to_string(length) + " bytes from the camera"
                         : "malformed frame from the camera");
                break;
            }
        }
        lock.unlock();
        wake_answered();
    }
    if (ok) frames_.done();
    return ok;
}

void TcpTransport::wake_answered() {
    for (Waiter* w : answered_) w->wake.notify_one();
    answered_.clear();
}

bool TcpTransport::dispatch(char const* data, size_t size, std::unique_lock<std::mutex>& lock) {
    if (!decoded_.parse(data, size)) return false;
    if (decoded_.ping()) return true;
    wire::Reply reply;
    if (decoded_.reply(reply)) {
        answer(reply);
        return true;
    }
    wire::Event event;
    if (!decoded_.event(event)) return false;
    // Announcements reach the handlers on the keeper, in order: one a
    // caller read is delivered before the replies after it are handed over.
    wake_answered();
    events_.push_back({event.service, event.flag, std::string(event.address)});
    uint64_t const mine = ++queued_;
    if (keeper_reads_) {
        deliver_events(lock);
    } else {
        changed_.notify_all();
        changed_.wait(lock, [&] { return delivered_ >= mine || state_ == closed; });
    }
    return true;
}

void TcpTransport::answer(wire::Reply const& reply) {
    uint32_t const index = reply.id & 0xffff;
    if (index >= kMaxInFlight) return;  // no request of ours: ignored
    Waiter& w = slots_[index];
    if (!w.waiting || w.answered || w.generation != reply.id >> 16) return;
    w.status = reply.status;
    if (reply.status == KOVRA_SIM_STATUS_OK && w.call) {
        try {
            if (!w.call->unpack(reply.values)) w.status = KOVRA_SIM_STATUS_PROTOCOL;
        } catch (std::bad_alloc const&) {
            w.status = KOVRA_SIM_STATUS_NO_RESOURCES;
        }
    }
    w.answered = true;
    // Its slot stays until the caller has woken and given it back, so
    // `wake` lives until it is notified.
    answered_.push_back(&w);
}

void TcpTransport::lost(std::string const& why) {
    if (state_ != up) return;
    state_ = connecting;
    away_since_ = Clock::now();
    report("lost the camera at " + url_ + ": " + why + "; reconnecting");
    ::shutdown(fd_, SHUT_RDWR);  // wakes a reader, stops a sender
    fail_waiting(KOVRA_SIM_STATUS_NOT_CONNECTED);
    changed_.notify_all();
}

void TcpTransport::deliver_events(std::unique_lock<std::mutex>& lock) {
    while (!events_.empty()) {
        Announcement const a = std::move(events_.front());
        events_.pop_front();
        lock.unlock();
        subscriptions.deliver(a.service, a.flag, a.address.c_str());
        lock.lock();
        ++delivered_;
        changed_.notify_all();
    }
}

// A camera rebooting refuses connections, resets them or closes them at
// once, and one still starting may not greet in time: a program started
// meanwhile waits for it as a reconnect would, up to the give-up time. A
// camera that answers with another protocol or a refusal is not waited for.
int32_t TcpTransport::first_connection() {
    auto const give_up_at = Clock::now() + give_up_;
    for (;;) {
        int32_t const status = reconnect();
        if (status != KOVRA_SIM_STATUS_NOT_CONNECTED && status != KOVRA_SIM_STATUS_TIMEOUT)
            return status;
        std::unique_lock lock(mutex_);
        auto const left = give_up_at - Clock::now();
        if (left <= Clock::duration::zero()) return status;
        // The last attempt comes when the give-up time is up, not a pause later.
        auto const pause = std::min<Clock::duration>(backoff_.next(), left);
        if (changed_.wait_for(lock, pause, [&] { return state_ == closed; })) return status;
    }
}

void TcpTransport::keep() {
    int32_t const first = first_connection();
    std::unique_lock lock(mutex_);
    backoff_.reset();
    first_ = first;
    changed_.notify_all();
    if (first != KOVRA_SIM_STATUS_OK) return;
    while (state_ != closed) {
        if (state_ == connecting) {
            // After a pause, and once the reader has seen the connection go.
            changed_.wait_for(lock, backoff_.next(), [&] { return state_ == closed; });
            changed_.wait(lock, [&] { return !reading_ || state_ == closed; });
            if (state_ == closed) break;
            lock.unlock();
            int32_t const status = reconnect();
            lock.lock();
            if (status == KOVRA_SIM_STATUS_OK) {
                backoff_.reset();
                report("camera at " + url_ + " is back");
            }
            continue;
        }
        deliver_events(lock);
        beat(lock);
        auto const now = Clock::now();
        if (state_ == up && !reading_ && busy_.empty() && now - idle_since_ >= kQuiet) {
            reading_ = keeper_reads_ = true;
            lock.unlock();
            read(nullptr, pinged_ ? ping_sent_ + timeout_ : beat_at_ + interval_);
            lock.lock();
            keeper_reads_ = false;
            yield_reading(nullptr);
        } else {
            // While calls come and go it looks again every kQuiet.
            auto const quiet = (busy_.empty() && !reading_ ? idle_since_ : now) + kQuiet;
            changed_.wait_until(
                lock, std::min(quiet, pinged_ ? ping_sent_ + timeout_ : beat_at_ + interval_));
        }
    }
}

// While the connection is up: a ping when it sent nothing since the last
// beat, and the camera taken for gone when nothing at all answers one.
void TcpTransport::beat(std::unique_lock<std::mutex>& lock) {
    if (state_ != up) return;
    auto const now = Clock::now();
    if (pinged_) {
        if (now - ping_sent_ >= timeout_) lost("no answer to a heartbeat" + within());
        return;
    }
    if (now - beat_at_ < interval_) return;
    beat_at_ = now;
    uint64_t const sent = sent_.load(std::memory_order_relaxed);
    if (sent == sent_at_beat_) {
        // Out before it is sent: the answer may be read before send returns.
        pinged_ = true;
        ping_sent_ = now;
        lock.unlock();
        static std::string const ping = [] {
            wire::FrameWriter w;
            wire::write_ping(w);
            return std::string(w.buffer().data(), w.buffer().size());
        }();
        bool const pinging = send(ping.data(), ping.size());
        lock.lock();
        if (!pinging) pinged_ = false;
    }
    sent_at_beat_ = sent_.load(std::memory_order_relaxed);
}

int32_t TcpTransport::reconnect() {
    auto const deadline = Clock::now() + timeout_;
    int fd = -1;
    std::string where;
    failure_.clear();
    for (std::string const& address : endpoints_) {
        int error = 0;
        where = numeric_address(address);
        if ((fd = connect_to(address, deadline, error)) >= 0) break;
        failure_ += (failure_.empty() ? "" : "; ") + where + ": " + connect_error(error, within());
    }
    if (fd < 0) return KOVRA_SIM_STATUS_NOT_CONNECTED;
    failure_.clear();
    wire::FrameWriter out;
    wire::write_hello(out, {wire::kVersion, table_fingerprint(), ipc_, log_});
    // The welcome is read into the reader's buffer: nobody reads meanwhile.
    frames_ = wire::FrameReader(wire::kMaxFrame);
    char const* payload = nullptr;
    uint32_t length = 0;
    auto next = wire::FrameReader::Next::more;
    bool const said = write_all(fd, out.buffer().data(), out.buffer().size(), deadline);
    while (said && (next = frames_.next(payload, length)) == wire::FrameReader::Next::more &&
           ready(fd, POLLIN, deadline)) {
        ssize_t const got = ::recv(fd, frames_.space(), frames_.room(), MSG_DONTWAIT);
        if (got <= 0 && !(got < 0 && errno == EAGAIN)) break;
        frames_.received(size_t(std::max<ssize_t>(got, 0)));
        frames_.done();
    }
    int32_t status = KOVRA_SIM_STATUS_OK;
    wire::Welcome welcome;
    if (next == wire::FrameReader::Next::more) {
        status = said && Clock::now() >= deadline ? KOVRA_SIM_STATUS_TIMEOUT
                                                  : KOVRA_SIM_STATUS_NOT_CONNECTED;
        failure_ = where + ": connected, but " +
                   (status == KOVRA_SIM_STATUS_TIMEOUT ? "no greeting" + within()
                                                       : "the connection closed before a greeting");
    } else if (next != wire::FrameReader::Next::frame || !decoded_.parse(payload, length) ||
               !decoded_.welcome(welcome)) {
        report("camera at " + url_ + " does not speak this protocol");
        status = KOVRA_SIM_STATUS_PROTOCOL;
    } else if (welcome.version != wire::kVersion || welcome.fingerprint != table_fingerprint()) {
        char what[160];
        std::snprintf(what, sizeof what, "protocol %u, function table %016llx; ours: %u, %016llx",
                      welcome.version, static_cast<unsigned long long>(welcome.fingerprint),
                      wire::kVersion, static_cast<unsigned long long>(table_fingerprint()));
        report("camera at " + url_ + " was built differently: " + what);
        status = KOVRA_SIM_STATUS_PROTOCOL;
    } else if ((status = welcome.status) != KOVRA_SIM_STATUS_OK) {
        failure_ =
            where + ": the camera turned the client away with status " + std::to_string(status);
    }
    std::lock_guard lock(mutex_);
    if (status == KOVRA_SIM_STATUS_OK && state_ != closed) {
        // Everything the program holds open again, under the same numbers,
        // ahead of any new call.
        out.clear();
        for (auto const& [handle, o] : opened_.all()) {
            write_call(out, wire::kNoWait, init_function(o.service), handle, int32_t(o.events));
            for (uint32_t h = 0; h < o.handlers; ++h) {
                write_call(out, wire::kNoWait,
                           fn_kovra_api_broker_new_target_register_event_handler, handle,
                           h < o.contexts);
            }
        }
        if (write_all(fd, out.buffer().data(), out.buffer().size(), deadline)) {
            frames_.done();
            if (fd_ >= 0) ::close(fd_);
            fd_ = fd;
            interval_ = heartbeat_interval(welcome.idle_ms);
            pinged_ = false;
            idle_since_ = beat_at_ = Clock::now();
            state_ = up;
            changed_.notify_all();
            return KOVRA_SIM_STATUS_OK;
        }
        status = KOVRA_SIM_STATUS_NOT_CONNECTED;
    }
    ::close(fd);
    return status;
}

}  // namespace kovra_sim
