#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>

#include "support/Daemon.h"
#include "wire/protocol.h"

// Frames on a raw loopback socket for tests that play a camera or its client
// (link kovra-sim-wire). Every read is bounded.

inline std::string bytes_of(kovra_sim::wire::FrameWriter& w) {
    return std::string(w.buffer().data(), w.buffer().size());
}

// `payload` after its length prefix.
inline std::string frame(std::string const& payload) {
    uint32_t const n = uint32_t(payload.size());
    return std::string{char(n >> 24), char(n >> 16), char(n >> 8), char(n)} + payload;
}

// A client's hello, by default one the daemon takes.
inline std::string hello(uint64_t fingerprint = kovra_sim::table_fingerprint(),
                         uint32_t version = kovra_sim::wire::kVersion) {
    kovra_sim::wire::FrameWriter w;
    kovra_sim::wire::write_hello(w, {version, fingerprint, 1, 1});
    return bytes_of(w);
}

inline void send_all(int fd, std::string const& bytes) {
    EXPECT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
}

// The next frame's payload, or "" if none comes whole within `limit`.
inline std::string read_frame(int fd, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    receive_within(fd, limit);
    char header[4];
    if (recv(fd, header, 4, MSG_WAITALL) != 4) return {};
    std::string body(kovra_sim::wire::frame_length(header), '\0');
    bool const whole = recv(fd, body.data(), body.size(), MSG_WAITALL) == ssize_t(body.size());
    return whole ? body : "";
}

// Whether the peer closed `fd` within `limit`, all it sent read; closes it.
inline bool closed_by_peer(int fd, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    auto const start = std::chrono::steady_clock::now();
    receive_within(fd, limit);
    char buf[4096];
    while (recv(fd, buf, sizeof buf, 0) > 0) continue;
    close(fd);
    return std::chrono::steady_clock::now() - start < limit;
}

// The welcome a frame's payload holds, if it holds one.
inline std::optional<kovra_sim::wire::Welcome> welcome_of(std::string const& payload) {
    kovra_sim::wire::Decoded d;
    kovra_sim::wire::Welcome welcome;
    if (d.parse(payload.data(), payload.size()) && d.welcome(welcome)) return welcome;
    return std::nullopt;
}

// A connection to the daemon on `port` that said hello and was admitted, or -1.
inline int greeted(int port) {
    int const fd = connect_loopback(port);
    send_all(fd, hello());
    auto const welcome = welcome_of(read_frame(fd));
    if (welcome && welcome->status == 0) return fd;
    close(fd);
    return -1;
}
