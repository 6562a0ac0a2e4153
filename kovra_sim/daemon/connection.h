// One client's connection: its socket's reads and writes, limits and
// deadlines, the requests left to its Session. Frames are read whole into a
// buffer grown only as far as a length prefix allows, served in order and
// answered in batches, all on the connection's own strand. Faults on the wire
// are drawn from a generator seeded from the seed and its number.
#pragma once

#include <atomic>
#include <boost/asio.hpp>
#include <boost/random/mersenne_twister.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "daemon/session.h"
#include "wire/frame_reader.h"

namespace kovra_sim {

class Server;

class Connection : public std::enable_shared_from_this<Connection> {
public:
    using Clock = std::chrono::steady_clock;

    // An admitted connection is served; one beyond the connection limit is
    // only told so in the welcome, then closed.
    Connection(Server& server, boost::asio::ip::tcp::socket socket, uint64_t number, bool admitted);

    void start();

    // A target restarted: tell this client, in order with its replies.
    void announce(int service);

    bool subscribed() const { return subscribed_.load(std::memory_order_relaxed); }
    uint64_t calls() const { return calls_.load(std::memory_order_relaxed); }
    uint64_t number() const { return number_; }
    bool admitted() const { return admitted_; }
    std::string const& peer() const { return peer_; }

    void close(std::string why);

    // Closes the connection if it has overstayed one of its deadlines.
    void check(Clock::time_point now);

private:
    size_t in_flight() const { return out_count_ + writing_count_ + delayed_; }
    bool limited() const;
    void read();
    void on_read(boost::system::error_code ec, size_t n);

    // Replies have gone out: serve what waited and read again.
    void resume();

    void serve_buffered();

    // Serves the whole frames in the buffer up to the in-flight limit, under
    // the faults on the wire in effect as it starts; false once closed.
    bool process();

    // Closes the connection for a reason the log says; false.
    bool malformed(char const* what);
    // One frame; false once the connection is closed.
    bool handle(char const* data, size_t size);
    void push_event(int service);
    void flush();
    // Writes the next piece of the batch, as slice= and bandwidth= allow.
    void write_piece();
    void on_write(boost::system::error_code ec, size_t n);
    // Flushes, or goes on writing, at `t`.
    void wait_until(Clock::time_point t);
    void shut(char const* why);

    bool draw(Chance chance) { return chance >= kCertain || draws_() < chance; }
    // A served request's jitter (added to `delay`), stall and drop; false
    // once the connection is closed.
    bool disturb(WireFaults const& wire, std::chrono::microseconds& delay);

    Server& server_;
    boost::asio::strand<boost::asio::any_io_executor> strand_;
    boost::asio::ip::tcp::socket socket_;
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
    size_t written_ = 0;  // of writing_, written in pieces
    bool write_active_ = false;
    Clock::time_point write_started_;

    WireState& wire_;
    WireFaults faults_;  // as of faults_version_, looked at as each read is served
    uint32_t faults_version_ = 0;
    boost::random::mt19937 draws_;
    uint64_t replies_ = 0;            // requests while drop=every:N is in effect
    Clock::time_point held_until_;    // a stall: replies go out from then on
    Clock::time_point paced_until_;   // bandwidth: the next piece goes out then
    boost::asio::steady_timer wait_;  // for either
    bool waiting_ = false;

    bool greeted_ = false;
    bool closing_ = false;  // close once everything is written
    bool closed_ = false;
    std::atomic<bool> subscribed_{false};
    std::atomic<uint64_t> calls_{0};
};

}  // namespace kovra_sim
