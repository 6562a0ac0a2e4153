#include "wire/protocol.h"

#include <array>

namespace kovra_sim::wire {
namespace {

// Strings and arrays are never copied out of the frame being decoded.
bool reference(msgpack::type::object_type, size_t, void*) { return true; }

// Nothing a frame holds is deeper than a reply's array of texts, and no
// array is longer than a frame could carry anyway; these bounds keep a
// hostile frame from making the decoder allocate much more than its size.
msgpack::unpack_limit const kLimits(/*array*/ 4096, /*map*/ 0, /*str*/ kMaxFrame, /*bin*/ 0,
                                    /*ext*/ 0, /*depth*/ 4);

// A whole frame: [type, fields...].
template <class... T>
void write_frame(FrameWriter& w, FrameType type, T const&... fields) {
    w.begin();
    w.packer().pack_array(uint32_t(1 + sizeof...(T))).pack(uint8_t(type));
    (w.packer().pack(fields), ...);
    w.end();
}

// The fields a frame holds beyond numbers: a text, a call's target (a text
// or nil) and a list of values.
using wire::read_as;
bool read_as(msgpack::object const& o, std::string_view& out) { return read_text(o, out); }
bool read_as(msgpack::object const& o, std::optional<std::string_view>& out) {
    if (o.type == msgpack::type::NIL) out.reset();
    return o.type == msgpack::type::NIL || read_text(o, out.emplace());
}
bool read_as(msgpack::object const& o, msgpack::object_array& out) {
    if (o.type == msgpack::type::ARRAY) out = o.via.array;
    return o.type == msgpack::type::ARRAY;
}

// The fields after the type of an array of exactly that many.
template <class... T>
bool read_fields(msgpack::object_array const& a, T&... out) {
    size_t i = 1;
    return a.size == 1 + sizeof...(T) && (read_as(a.ptr[i++], out) && ...);
}

}  // namespace

bool split_address(std::string_view text, std::string& host, uint16_t& port) {
    bool const bracketed = !text.empty() && text[0] == '[';
    size_t const close = bracketed ? text.find(']') : std::string_view::npos;
    // Where the host ends: after its bracket, or at its one colon.
    size_t const end = bracketed ? close + 1 : text.find(':');
    if (bracketed
            ? close == std::string_view::npos || (end < text.size() && text[end] != ':')
            : end != std::string_view::npos && text.find(':', end + 1) != std::string_view::npos) {
        return false;
    }
    host = std::string(bracketed ? text.substr(1, close - 1) : text.substr(0, end));
    int64_t n = kDefaultPort;
    if (text.find(':') != std::string_view::npos && text.back() != ']' &&
        !parse_integer(end < text.size() ? text.substr(end + 1) : "", 0, 65535, n)) {
        return false;
    }
    port = uint16_t(n);
    return true;
}

void FrameWriter::begin() {
    start_ = buffer_.size();
    static char const zeros[kPrefix] = {};
    buffer_.write(zeros, kPrefix);
}

void FrameWriter::end() {
    uint32_t const n = uint32_t(buffer_.size() - start_ - kPrefix);
    auto* p = reinterpret_cast<unsigned char*>(buffer_.data() + start_);
    p[0] = uint8_t(n >> 24), p[1] = uint8_t(n >> 16), p[2] = uint8_t(n >> 8), p[3] = uint8_t(n);
}

void write_hello(FrameWriter& w, Hello const& h) {
    write_frame(w, FrameType::hello, h.version, h.fingerprint, h.ipc, h.log);
}

void write_welcome(FrameWriter& w, Welcome const& h) {
    write_frame(w, FrameType::hello, h.version, h.fingerprint, h.status, h.idle_ms);
}

void write_ping(FrameWriter& w) { write_frame(w, FrameType::ping); }

void write_event(FrameWriter& w, Event const& e) {
    write_frame(w, FrameType::event, e.service, e.flag, e.address);
}

void begin_call(FrameWriter& w, uint32_t id, int function, uint32_t handle, uint32_t count,
                std::optional<std::string_view> target) {
    w.begin();
    w.packer().pack_array(6).pack(uint8_t(FrameType::call)).pack(id).pack(function).pack(handle);
    target ? w.packer().pack(*target) : w.packer().pack_nil();
    w.packer().pack_array(count);
}

void write_reply_status(FrameWriter& w, uint32_t id, int32_t status) {
    write_frame(w, FrameType::reply, id, status, std::array<int, 0>{});
}

void write_reply(FrameWriter& w, uint32_t id, uint32_t count, msgpack::sbuffer const& values) {
    w.begin();
    w.packer().pack_array(4).pack(uint8_t(FrameType::reply)).pack(id).pack(0).pack_array(count);
    w.buffer().write(values.data(), values.size());
    w.end();
}

bool read_int(msgpack::object const& o, int64_t low, int64_t high, int64_t& out) {
    int64_t v = 0;
    if (!read_as(o, v) || v < low || v > high) return false;
    out = v;
    return true;
}

bool read_text(msgpack::object const& o, std::string_view& out) {
    if (o.type != msgpack::type::STR) return false;
    out = std::string_view(o.via.str.ptr, o.via.str.size);
    return true;
}

bool Decoded::parse(char const* data, size_t size) {
    try {
        zone_.clear();
        size_t offset = 0;
        bool referenced = false;
        root_ = msgpack::unpack(zone_, data, size, offset, referenced, reference, nullptr, kLimits);
        int64_t type = 0;
        if (offset != size || root_.type != msgpack::type::ARRAY || root_.via.array.size == 0 ||
            !read_int(root_.via.array.ptr[0], 0, int64_t(FrameType::ping), type)) {
            return false;
        }
        type_ = FrameType(type);
        return true;
    } catch (...) {
        return false;
    }
}

bool Decoded::hello(Hello& out) const {
    return type_ == FrameType::hello &&
           read_fields(root_.via.array, out.version, out.fingerprint, out.ipc, out.log);
}

bool Decoded::welcome(Welcome& out) const {
    return type_ == FrameType::hello &&
           read_fields(root_.via.array, out.version, out.fingerprint, out.status, out.idle_ms);
}

bool Decoded::ping() const { return type_ == FrameType::ping && root_.via.array.size == 1; }

bool Decoded::call(Call& out) const {
    return type_ == FrameType::call &&
           read_fields(root_.via.array, out.id, out.function, out.handle, out.target, out.args) &&
           out.function >= 0 && out.function < kFunctionCount;
}

bool Decoded::reply(Reply& out) const {
    return type_ == FrameType::reply &&
           read_fields(root_.via.array, out.id, out.status, out.values);
}

bool Decoded::event(Event& out) const {
    return type_ == FrameType::event &&
           read_fields(root_.via.array, out.service, out.flag, out.address) && out.service >= 0 &&
           out.service < kServiceCount;
}

}  // namespace kovra_sim::wire
