// Loopback ping-pong of fixed-size frames over TCP: the most a
// request/response transport can do on this machine, one outstanding request
// per connection, as the physical limit beside the camera daemon and redis.
//
//   pingpong serve --listen HOST:PORT [--frame BYTES] [--lifetime SECONDS]
//       Echoes every frame on every connection, one thread per connection,
//       until killed or for at most --lifetime seconds (default 900).
//   pingpong load --connect HOST:PORT [-c CONNECTIONS] [-n REQUESTS] [--frame BYTES]
//       CONNECTIONS threads, one connection each, share REQUESTS round trips
//       (REQUESTS / CONNECTIONS each) and print one line
//         requests=R seconds=S rps=X p50_us=A p99_us=B max_us=C
//
// Frames default to 64 bytes. TCP_NODELAY is set on both ends, so every
// frame is its own segment, as a request/response protocol sends it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

typedef std::chrono::steady_clock Clock;

struct Endpoint {
    sockaddr_in address{};
};

bool parseEndpoint(std::string const& text, Endpoint& endpoint) {
    auto colon = text.rfind(':');
    if (colon == std::string::npos) {
        return false;
    }
    endpoint.address.sin_family = AF_INET;
    endpoint.address.sin_port = htons(static_cast<uint16_t>(std::atoi(text.c_str() + colon + 1)));
    return inet_pton(AF_INET, text.substr(0, colon).c_str(), &endpoint.address.sin_addr) == 1;
}

void noDelay(int fd) {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// Reads or writes exactly `size` bytes; false on end of stream or an error.
template <class Byte, class Io>
bool transferAll(int fd, Byte* data, size_t size, Io io) {
    while (size > 0) {
        ssize_t n = io(fd, data, size);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool readAll(int fd, char* data, size_t size) { return transferAll(fd, data, size, ::read); }
bool writeAll(int fd, char const* data, size_t size) {
    return transferAll(fd, data, size, ::write);
}

int serve(Endpoint const& endpoint, size_t frame, unsigned lifetime) {
    alarm(lifetime);  // never outlive a benchmark that forgot to stop us
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(listener, reinterpret_cast<sockaddr const*>(&endpoint.address),
             sizeof endpoint.address) != 0 ||
        listen(listener, 128) != 0) {
        std::fprintf(stderr, "pingpong: cannot listen: %s\n", std::strerror(errno));
        return 1;
    }
    for (;;) {
        int fd = accept(listener, nullptr, nullptr);
        if (fd < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::fprintf(stderr, "pingpong: accept: %s\n", std::strerror(errno));
            return 1;
        }
        noDelay(fd);
        std::thread([fd, frame] {
            std::vector<char> buffer(frame);
            while (readAll(fd, buffer.data(), frame) && writeAll(fd, buffer.data(), frame)) {
            }
            close(fd);
        }).detach();
    }
}

int load(Endpoint const& endpoint, size_t frame, unsigned connections, uint64_t requests) {
    uint64_t perConnection = requests / connections;
    std::vector<int> sockets;
    for (unsigned i = 0; i < connections; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        if (connect(fd, reinterpret_cast<sockaddr const*>(&endpoint.address),
                    sizeof endpoint.address) != 0) {
            std::fprintf(stderr, "pingpong: cannot connect: %s\n", std::strerror(errno));
            return 1;
        }
        noDelay(fd);
        sockets.push_back(fd);
    }
    std::vector<std::vector<uint32_t>> latencies(connections);  // nanoseconds
    std::atomic<unsigned> ready{0};
    std::atomic<bool> failed{false};
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < connections; ++i) {
        threads.emplace_back([&, i] {
            std::vector<char> buffer(frame, 'p');
            std::vector<uint32_t>& mine = latencies[i];
            mine.reserve(perConnection);
            ready.fetch_add(1);
            while (ready.load() < connections) {
                std::this_thread::yield();
            }
            for (uint64_t k = 0; k < perConnection; ++k) {
                auto sent = Clock::now();
                if (!writeAll(sockets[i], buffer.data(), frame) ||
                    !readAll(sockets[i], buffer.data(), frame)) {
                    failed = true;
                    return;
                }
                auto took =
                    std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - sent);
                mine.push_back(static_cast<uint32_t>(std::min<int64_t>(took.count(), UINT32_MAX)));
            }
        });
    }
    while (ready.load() < connections) {
        std::this_thread::yield();
    }
    auto start = Clock::now();
    for (auto& thread : threads) {
        thread.join();
    }
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (int fd : sockets) {
        close(fd);
    }
    if (failed) {
        std::fprintf(stderr, "pingpong: a connection broke\n");
        return 1;
    }
    std::vector<uint32_t> all;
    for (auto const& one : latencies) {
        all.insert(all.end(), one.begin(), one.end());
    }
    std::sort(all.begin(), all.end());
    auto percentile = [&](double p) {
        return all.empty() ? 0.0 : all[static_cast<size_t>(p * (all.size() - 1))] / 1000.0;
    };
    std::printf("requests=%zu seconds=%.6f rps=%.1f p50_us=%.1f p99_us=%.1f max_us=%.1f\n",
                all.size(), seconds, all.size() / seconds, percentile(0.5), percentile(0.99),
                percentile(1.0));
    return 0;
}

int usage() {
    std::fprintf(stderr,
                 "usage: pingpong serve --listen HOST:PORT [--frame BYTES] [--lifetime SECONDS]\n"
                 "       pingpong load --connect HOST:PORT [-c CONNECTIONS] [-n REQUESTS] "
                 "[--frame BYTES]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return usage();
    }
    std::string mode = argv[1];
    Endpoint endpoint;
    bool haveEndpoint = false;
    size_t frame = 64;
    unsigned connections = 1;
    uint64_t requests = 100000;
    unsigned lifetime = 900;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (i + 1 >= argc) {
            return usage();
        }
        char const* value = argv[++i];
        if (arg == "--listen" || arg == "--connect") {
            haveEndpoint = parseEndpoint(value, endpoint);
        } else if (arg == "--frame") {
            frame = std::strtoul(value, nullptr, 10);
        } else if (arg == "-c") {
            connections = static_cast<unsigned>(std::strtoul(value, nullptr, 10));
        } else if (arg == "-n") {
            requests = std::strtoull(value, nullptr, 10);
        } else if (arg == "--lifetime") {
            lifetime = static_cast<unsigned>(std::strtoul(value, nullptr, 10));
        } else {
            return usage();
        }
    }
    if (!haveEndpoint || frame == 0 || connections == 0 || requests < connections) {
        return usage();
    }
    if (mode == "serve") {
        return serve(endpoint, frame, lifetime);
    }
    if (mode == "load") {
        return load(endpoint, frame, connections, requests);
    }
    return usage();
}
