// The daemon's side of a connection without the socket: bytes arrive in
// pieces, are cut into frames, decoded, and served by a session of the
// camera, hello first. The first byte of the input sets the piece size.
#include <algorithm>
#include <cstring>

#include "daemon/session.h"
#include "wire/frame_reader.h"

using namespace kovra_sim;

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    static auto* const simulation = new SharedSimulation();  // one camera for every input
    if (size == 0) return 0;
    size_t const piece = 1 + data[0] % 64;
    ++data, --size;
    Session session(*simulation, 300000);
    wire::FrameReader frames(4096);
    wire::Decoded decoded;
    wire::FrameWriter out;
    bool greeted = false;
    while (size > 0) {
        size_t const n = std::min({piece, size, frames.room()});
        std::memcpy(frames.space(), data, n);
        frames.received(n);
        data += n, size -= n;
        char const* payload = nullptr;
        uint32_t length = 0;
        for (auto next = frames.next(payload, length); next != wire::FrameReader::Next::more;
             next = frames.next(payload, length)) {
            if (next == wire::FrameReader::Next::too_large || !decoded.parse(payload, length))
                return 0;
            wire::Hello hello;
            wire::Call call;
            if (!greeted) {
                if (!decoded.hello(hello) || !session.greet(hello, true, out)) return 0;
                greeted = true;
            } else if (decoded.ping()) {
                wire::write_ping(out);
            } else if (!decoded.call(call) || session.serve(call, out).malformed) {
                return 0;
            }
            out.clear();
        }
        frames.done();
    }
    return 0;
}
