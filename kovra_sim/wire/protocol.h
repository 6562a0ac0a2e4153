// The stand-in's wire protocol between the client library and the camera
// daemon (docs/protocol.md): length-prefixed frames, each one msgpack array.
// Encoding appends whole frames to a buffer; decoding checks every field's
// type and range and turns anything else into a failure, never a throw.
#pragma once

#include <cstdint>
#include <msgpack.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "common/value.h"

namespace kovra_sim::wire {

constexpr uint32_t kVersion = 3;
constexpr uint16_t kDefaultPort = 7570;
// The largest frame either side accepts unless told otherwise.
constexpr uint32_t kMaxFrame = 1u << 20;
// Request id 0 asks for no reply to be waited for (the client replays its
// initiators with it after reconnecting).
constexpr uint32_t kNoWait = 0;

enum class FrameType : uint8_t { hello = 0, call = 1, reply = 2, event = 3, ping = 4 };

// Splits "HOST", "HOST:PORT" or "[V6ADDRESS]:PORT" (kDefaultPort unless
// given); false for another form or a port beyond 65535.
bool split_address(std::string_view text, std::string& host, uint16_t& port);

// The length prefix before every frame: 4 bytes, big-endian.
constexpr size_t kPrefix = 4;
inline uint32_t frame_length(char const* p) {
    auto const* b = reinterpret_cast<unsigned char const*>(p);
    return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | uint32_t(b[3]);
}

// Builds frames into a reusable buffer: begin(), pack the payload, end().
class FrameWriter {
public:
    msgpack::sbuffer& buffer() { return buffer_; }
    msgpack::packer<msgpack::sbuffer>& packer() { return packer_; }
    void clear() { buffer_.clear(); }
    void begin();
    void end();

private:
    msgpack::sbuffer buffer_;
    msgpack::packer<msgpack::sbuffer> packer_{buffer_};
    size_t start_ = 0;
};

// Client to camera, first frame: [0, version, fingerprint, ipc, log].
struct Hello {
    uint32_t version = kVersion;
    uint64_t fingerprint = 0;
    uint32_t ipc = 0;  // the client's handle numbers, for the camera's journal
    uint32_t log = 0;
};
// Camera to client, its answer: [0, version, fingerprint, status, idle_ms].
struct Welcome {
    uint32_t version = kVersion;
    uint64_t fingerprint = 0;
    int32_t status = 0;
    uint32_t idle_ms = 0;  // the camera closes a connection silent this long; 0: never
};

// [1, id, function, handle, target or nil, [arguments]]. The arguments
// depend on the function: a request's values sent (its IN items, in order),
// an initiator init's [events], a handler registration's [context set],
// nothing otherwise.
struct Call {
    uint32_t id = 0;
    int32_t function = 0;
    uint32_t handle = 0;
    std::optional<std::string_view> target;
    msgpack::object_array args{};  // valid while the decoded frame is
};

// [2, id, status, [values]]: on success one value per out-parameter.
struct Reply {
    uint32_t id = 0;
    int32_t status = 0;
    msgpack::object_array values{};
};

// [3, service, flag, address]: a service's target restarted.
struct Event {
    int32_t service = 0;
    uint8_t flag = 1;
    std::string_view address;
};

void write_hello(FrameWriter& w, Hello const& h);
void write_welcome(FrameWriter& w, Welcome const& h);
void write_event(FrameWriter& w, Event const& e);
// [4]: a heartbeat from the client, and the camera's answer to it.
void write_ping(FrameWriter& w);
// A call frame: begin_call(), pack `count` arguments, end(). `target` for
// requests only.
void begin_call(FrameWriter& w, uint32_t id, int function, uint32_t handle, uint32_t count,
                std::optional<std::string_view> target = std::nullopt);
void write_reply_status(FrameWriter& w, uint32_t id, int32_t status);
// A reply whose values were packed into `values` (one per out-parameter).
void write_reply(FrameWriter& w, uint32_t id, uint32_t count, msgpack::sbuffer const& values);

// One decoded frame payload; the objects it yields view `zone` and the
// payload's bytes, and stay valid while both do.
class Decoded {
public:
    // False for a payload that is no msgpack array of a known frame type.
    bool parse(char const* data, size_t size);

    bool hello(Hello& out) const;
    bool welcome(Welcome& out) const;
    bool call(Call& out) const;
    bool reply(Reply& out) const;
    bool event(Event& out) const;
    bool ping() const;

private:
    msgpack::zone zone_;
    msgpack::object root_;
    FrameType type_ = FrameType::hello;
};

// Typed reads of one object; false on a type or range mismatch. A number
// fits T, and an integer is also a double (msgpack-cxx packs a double with
// an integral value as an integer).
template <class T>
bool read_as(msgpack::object const& o, T& out) {
    try {
        out = o.as<T>();
        return true;
    } catch (msgpack::type_error const&) {
        return false;
    }
}
inline bool read_real(msgpack::object const& o, double& out) { return read_as(o, out); }
bool read_int(msgpack::object const& o, int64_t low, int64_t high, int64_t& out);
bool read_text(msgpack::object const& o, std::string_view& out);

}  // namespace kovra_sim::wire
