// Loopback ping-pong of fixed-size frames over TCP: the most a
// request/response transport does on this machine with one request in
// flight per connection, a thread per connection on both sides.
//
//   pingpong serve PORT FRAME
//       echoes every frame on 127.0.0.1:PORT until killed (or for 30 min)
//   pingpong load PORT CONNECTIONS REQUESTS FRAME
//       prints "requests=R seconds=S rps=X p50_us=A p99_us=B"
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// Reads or writes all of `size` bytes; false at the end of the stream.
template <class Io, class Byte>
bool all(Io io, int fd, Byte* data, size_t size) {
    while (size > 0) {
        ssize_t const n = io(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n, size -= size_t(n);
    }
    return true;
}

int serve(int port, size_t frame) {
    alarm(1800);  // never outlives a benchmark that forgot it
    int const listener = socket(AF_INET, SOCK_STREAM, 0);
    int const one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in const a = loopback(port);
    if (bind(listener, reinterpret_cast<sockaddr const*>(&a), sizeof a) != 0 ||
        listen(listener, 128) != 0) {
        std::perror("pingpong: listen");
        return 1;
    }
    for (int fd; (fd = accept(listener, nullptr, nullptr)) >= 0 || errno == EINTR;) {
        if (fd < 0) continue;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::thread([fd, frame] {
            std::vector<char> b(frame);
            while (all(::read, fd, b.data(), frame) && all(::write, fd, b.data(), frame)) {
            }
            close(fd);
        }).detach();
    }
    std::perror("pingpong: accept");
    return 1;
}

int load(int port, unsigned connections, size_t requests, size_t frame) {
    std::vector<std::vector<double>> took(connections);  // microseconds
    std::vector<std::thread> threads;
    std::atomic<bool> failed{false};
    auto const start = Clock::now();
    for (unsigned i = 0; i < connections; ++i) {
        threads.emplace_back([&, i] {
            int const fd = socket(AF_INET, SOCK_STREAM, 0);
            int const one = 1;
            sockaddr_in const a = loopback(port);
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            std::vector<char> b(frame, 'p');
            bool ok = connect(fd, reinterpret_cast<sockaddr const*>(&a), sizeof a) == 0;
            for (size_t k = 0; ok && k < requests / connections; ++k) {
                auto const sent = Clock::now();
                ok = all(::write, fd, b.data(), frame) && all(::read, fd, b.data(), frame);
                took[i].push_back(
                    std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
            }
            if (!ok) failed = true;
            close(fd);
        });
    }
    for (auto& t : threads) t.join();
    double const seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (failed) {
        std::fprintf(stderr, "pingpong: a connection failed\n");
        return 1;
    }
    std::vector<double> every;
    for (auto const& t : took) every.insert(every.end(), t.begin(), t.end());
    std::sort(every.begin(), every.end());
    auto at = [&](double p) { return every[size_t(p * double(every.size() - 1))]; };
    std::printf("requests=%zu seconds=%.6f rps=%.1f p50_us=%.1f p99_us=%.1f\n", every.size(),
                seconds, double(every.size()) / seconds, at(0.5), at(0.99));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    auto number = [&](int i) { return i < argc ? std::atol(argv[i]) : 0; };
    if (argc == 4 && !std::strcmp(argv[1], "serve") && number(3) > 0)
        return serve(int(number(2)), size_t(number(3)));
    if (argc == 6 && !std::strcmp(argv[1], "load") && number(3) > 0 && number(4) >= number(3) &&
        number(5) > 0)
        return load(int(number(2)), unsigned(number(3)), size_t(number(4)), size_t(number(5)));
    std::fprintf(stderr,
                 "usage: pingpong serve PORT FRAME | load PORT CONNECTIONS REQUESTS FRAME\n");
    return 2;
}
