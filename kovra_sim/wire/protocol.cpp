#include "wire/protocol.h"

#include <limits>

namespace kovra_sim::wire {
namespace {

// Strings and arrays are never copied out of the frame being decoded.
bool reference(msgpack::type::object_type, size_t, void*) { return true; }

// Nothing a frame holds is deeper than a reply's array of texts, and no
// array is longer than a frame could carry anyway; these bounds keep a
// hostile frame from making the decoder allocate much more than its size.
msgpack::unpack_limit const kLimits(/*array*/ 4096, /*map*/ 0, /*str*/ kMaxFrame, /*bin*/ 0,
                                    /*ext*/ 0, /*depth*/ 4);

}  // namespace

bool split_address(std::string_view text, std::string& host, uint16_t& port) {
    std::string_view number;
    if (!text.empty() && text[0] == '[') {
        size_t const close = text.find(']');
        if (close == std::string_view::npos || (close + 1 < text.size() && text[close + 1] != ':'))
            return false;
        host = std::string(text.substr(1, close - 1));
        if (close + 1 < text.size()) number = text.substr(close + 2);
    } else {
        size_t const colon = text.find(':');
        if (colon != std::string_view::npos && text.find(':', colon + 1) != std::string_view::npos)
            return false;
        host = std::string(text.substr(0, colon));
        if (colon != std::string_view::npos) number = text.substr(colon + 1);
    }
    int64_t n = kDefaultPort;
    if (text.find(':') != std::string_view::npos && text.back() != ']' &&
        !parse_integer(number, 0, 65535, n)) {
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
    w.begin();
    w.packer().pack_array(5).pack(uint8_t(FrameType::hello)).pack(h.version).pack(h.fingerprint);
    w.packer().pack(h.ipc).pack(h.log);
    w.end();
}

void write_welcome(FrameWriter& w, Welcome const& h) {
    w.begin();
    w.packer().pack_array(5).pack(uint8_t(FrameType::hello)).pack(h.version).pack(h.fingerprint);
    w.packer().pack(h.status).pack(h.idle_ms);
    w.end();
}

void write_ping(FrameWriter& w) {
    w.begin();
    w.packer().pack_array(1).pack(uint8_t(FrameType::ping));
    w.end();
}

void write_event(FrameWriter& w, Event const& e) {
    w.begin();
    w.packer().pack_array(4).pack(uint8_t(FrameType::event)).pack(e.service).pack(e.flag);
    w.packer().pack(e.address);
    w.end();
}

void begin_call(FrameWriter& w, uint32_t id, int function, uint32_t handle, uint32_t count,
                std::optional<std::string_view> target) {
    w.begin();
    w.packer().pack_array(6).pack(uint8_t(FrameType::call)).pack(id).pack(function).pack(handle);
    target ? w.packer().pack(*target) : w.packer().pack_nil();
    w.packer().pack_array(count);
}

void write_reply_status(FrameWriter& w, uint32_t id, int32_t status) {
    w.begin();
    w.packer().pack_array(4).pack(uint8_t(FrameType::reply)).pack(id).pack(status).pack_array(0);
    w.end();
}

void write_reply(FrameWriter& w, uint32_t id, uint32_t count, msgpack::sbuffer const& values) {
    w.begin();
    w.packer()
        .pack_array(4)
        .pack(uint8_t(FrameType::reply))
        .pack(id)
        .pack(int32_t(0))
        .pack_array(count);
    w.buffer().write(values.data(), values.size());
    w.end();
}

bool read_int(msgpack::object const& o, int64_t low, int64_t high, int64_t& out) {
    if (o.type == msgpack::type::POSITIVE_INTEGER) {
        if (o.via.u64 > uint64_t(std::numeric_limits<int64_t>::max()) ||
            int64_t(o.via.u64) > high || int64_t(o.via.u64) < low) {
            return false;
        }
        out = int64_t(o.via.u64);
        return true;
    }
    if (o.type == msgpack::type::NEGATIVE_INTEGER) {
        if (o.via.i64 < low || o.via.i64 > high) return false;
        out = o.via.i64;
        return true;
    }
    return false;
}

// msgpack-cxx packs a double with an integral value as an integer.
bool read_real(msgpack::object const& o, double& out) {
    switch (o.type) {
        case msgpack::type::FLOAT32:
        case msgpack::type::FLOAT64:
            out = o.via.f64;
            return true;
        case msgpack::type::POSITIVE_INTEGER:
            out = double(o.via.u64);
            return true;
        case msgpack::type::NEGATIVE_INTEGER:
            out = double(o.via.i64);
            return true;
        default:
            return false;
    }
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
    msgpack::object_array const& a = root_.via.array;
    return type_ == FrameType::hello && a.size == 5 && read_as(a.ptr[1], out.version) &&
           read_as(a.ptr[2], out.fingerprint) && read_as(a.ptr[3], out.ipc) &&
           read_as(a.ptr[4], out.log);
}

bool Decoded::welcome(Welcome& out) const {
    msgpack::object_array const& a = root_.via.array;
    return type_ == FrameType::hello && a.size == 5 && read_as(a.ptr[1], out.version) &&
           read_as(a.ptr[2], out.fingerprint) && read_as(a.ptr[3], out.status) &&
           read_as(a.ptr[4], out.idle_ms);
}

bool Decoded::ping() const { return type_ == FrameType::ping && root_.via.array.size == 1; }

bool Decoded::call(Call& out) const {
    msgpack::object_array const& a = root_.via.array;
    int64_t function = 0;
    if (type_ != FrameType::call || a.size != 6 || !read_as(a.ptr[1], out.id) ||
        !read_int(a.ptr[2], 0, kFunctionCount - 1, function) || !read_as(a.ptr[3], out.handle) ||
        a.ptr[5].type != msgpack::type::ARRAY) {
        return false;
    }
    out.function = int32_t(function);
    out.target.reset();
    if (a.ptr[4].type != msgpack::type::NIL) {
        std::string_view target;
        if (!read_text(a.ptr[4], target)) return false;
        out.target = target;
    }
    out.args = a.ptr[5].via.array;
    return true;
}

bool Decoded::reply(Reply& out) const {
    msgpack::object_array const& a = root_.via.array;
    if (type_ != FrameType::reply || a.size != 4 || !read_as(a.ptr[1], out.id) ||
        !read_as(a.ptr[2], out.status) || a.ptr[3].type != msgpack::type::ARRAY) {
        return false;
    }
    out.values = a.ptr[3].via.array;
    return true;
}

bool Decoded::event(Event& out) const {
    msgpack::object_array const& a = root_.via.array;
    int64_t service = 0;
    if (type_ != FrameType::event || a.size != 4 ||
        !read_int(a.ptr[1], 0, kServiceCount - 1, service) || !read_as(a.ptr[2], out.flag) ||
        !read_text(a.ptr[3], out.address)) {
        return false;
    }
    out.service = int32_t(service);
    return true;
}

}  // namespace kovra_sim::wire
