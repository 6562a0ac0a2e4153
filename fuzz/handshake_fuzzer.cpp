// What a client reads from a camera: the welcome, replies (their values
// read into a sink for the function the input names), events and pings; and
// what a camera reads first, the hello.
#include "protocol.h"

using namespace kovra_sim;

namespace {

struct Sink final : wire::ValueSink {
    void number(int, int64_t v) override { sum += uint64_t(v); }
    void real(int, double v) override { sum += uint64_t(v != v); }
    void text(int, std::string_view v) override { sum += v.size(); }
    void texts(int, msgpack::object_array const& items) override {
        for (uint32_t i = 0; i < items.size; ++i) sum += items.ptr[i].via.str.size;
    }
    void bools(int, msgpack::object_array const& items) override {
        for (uint32_t i = 0; i < items.size; ++i) sum += items.ptr[i].via.boolean;
    }
    uint64_t sum = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    if (size == 0) return 0;
    int const function = data[0] % kFunctionCount;
    wire::Decoded decoded;
    if (!decoded.parse(reinterpret_cast<char const*>(data + 1), size - 1)) return 0;
    wire::Hello hello;
    wire::Welcome welcome;
    wire::Reply reply;
    wire::Event event;
    Sink sink;
    decoded.hello(hello);
    decoded.welcome(welcome);
    decoded.event(event);
    decoded.ping();
    if (decoded.reply(reply)) wire::read_replies(function, reply.values, sink);
    return 0;
}
