// The wire format: frames read back as written, and anything malformed refused.
#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>

#include "client/call.h"
#include "wire/codec.h"
#include "wire/frame_reader.h"
#include "wire/protocol.h"

namespace kovra_sim::wire {
namespace {

std::string payload_of(FrameWriter& w) {
    EXPECT_EQ(frame_length(w.buffer().data()), w.buffer().size() - kPrefix);
    return std::string(w.buffer().data() + kPrefix, w.buffer().size() - kPrefix);
}

// Arguments read back as their C type in the camera's form, values into out-parameters.
TEST(Wire, ARequestAndItsReplyCrossWithEveryValue) {
    int32_t i[] = {-7, 2147483647, -2147483647 - 1, 0, 5, 6, -1};
    double speed[] = {0.5, -1e300, 3};
    void* argv[] = {&i[0],     &i[1], &speed[0], &i[2],     &i[3],
                    &speed[1], &i[4], &i[5],     &speed[2], &i[6]};
    TypedCall<int32_t, int32_t, double, int32_t, int32_t, double, int32_t, int32_t, double, int32_t>
        sent(argv);
    FrameWriter w;
    begin_call(w, 77, fn_kovra_api_positioning_move_to_position_with_speed_percentage_send, 9,
               sent.sent(), "0");
    sent.pack(w.packer());
    w.end();
    std::string p = payload_of(w);
    Decoded d;
    Call call;
    ASSERT_TRUE(d.parse(p.data(), p.size()) && d.call(call));
    EXPECT_EQ(call.id, 77u);
    EXPECT_EQ(call.handle, 9u);
    EXPECT_EQ(call.target.value_or("?"), "0");
    ASSERT_EQ(call.args.size, 10u);
    for (int a = 0; a < 10; ++a) {
        Value v;
        bool const real = a % 3 == 2;
        EXPECT_TRUE(real ? read_sent<double>(call.args.ptr[a], v)
                         : read_sent<int32_t>(call.args.ptr[a], v))
            << a;
        EXPECT_EQ(real ? v.real : double(v.number),
                  real ? *static_cast<double*>(argv[a]) : *static_cast<int32_t*>(argv[a]))
            << a;
    }

    // broker.get_targets: a text sent, two lists of texts and one of bools back.
    char const* prefix = "a";
    kovra_string_array *words = nullptr, *targets = nullptr;
    kovra_bool_array* up = nullptr;
    // Each argument's address, as the library's functions hand them on.
    kovra_string_array **a1 = &words, **a2 = &targets;
    kovra_bool_array** a3 = &up;
    void* outs[] = {&prefix, &a1, &a2, &a3};
    TypedCall<char const*, kovra_string_array**, kovra_string_array**, kovra_bool_array**> got(
        outs);
    msgpack::sbuffer values;
    Packer packer(values);
    pack_reply<kovra_string_array**>(packer, Value{Type::texts, 0, 0, "", {"a\nb", ""}, {}});
    pack_reply<kovra_string_array**>(packer, Value{Type::texts, 0, 0, "", {"c"}, {}});
    pack_reply<kovra_bool_array**>(packer, Value{Type::bools, 0, 0, "", {}, {1, 0, 1}});
    w.clear();
    write_reply(w, 78, 3, values);
    p = payload_of(w);
    Reply reply;
    ASSERT_TRUE(d.parse(p.data(), p.size()) && d.reply(reply));
    Arrays arrays;
    ASSERT_TRUE(got.unpack(reply.values));
    got.commit(arrays);
    ASSERT_TRUE(words && targets && up);
    EXPECT_EQ(std::vector<std::string>(words->items, words->items + words->count),
              (std::vector<std::string>{"a\nb", ""}));
    EXPECT_EQ(std::string(targets->items[0]), "c");
    EXPECT_EQ(std::vector<uint8_t>(up->items, up->items + up->count),
              (std::vector<uint8_t>{1, 0, 1}));
    EXPECT_EQ(arrays.outstanding(), 3u);
    for (void* a : {static_cast<void*>(words), static_cast<void*>(targets), static_cast<void*>(up)})
        std::free(a);
    // The same values do not fit a request with other out-parameters.
    char *text = nullptr, **a0 = &text;
    void* one[] = {&a0};
    EXPECT_FALSE(TypedCall<char**>(one).unpack(reply.values));
}

// Payloads that must be refused, each by the reading its frame type gets.
TEST(Wire, MalformedPayloadsAreRefused) {
    using nlohmann::json;
    std::pair<char const*, json> const cases[] = {
        {"not an array", 1},
        {"unknown type", json::array({9})},
        {"hello too short", json::array({0, 1, 2})},
        {"welcome without its idle time", json::array({0, kVersion, 1, 0})},
        {"ping with a payload", json::array({4, 0})},
        {"call with a negative id", json::array({1, -1, 0, 0, nullptr, json::array()})},
        {"call of no function",
         json::array({1, 1, int(kFunctionCount), 0, nullptr, json::array()})},
        {"call whose target is a number", json::array({1, 1, 0, 0, 5, json::array()})},
        {"reply whose values are no array", json::array({2, 1, 0, 3})},
        {"event of no service", json::array({3, int(kServiceCount), 1, "x"})},
    };
    for (auto const& [name, payload] : cases) {
        std::vector<uint8_t> const b = json::to_msgpack(payload);
        Decoded d;
        Hello h;
        Welcome wl;
        Call call;
        Reply r;
        Event e;
        bool const read =
            d.parse(reinterpret_cast<char const*>(b.data()), b.size()) &&
            (d.hello(h) || d.welcome(wl) || d.call(call) || d.reply(r) || d.event(e) || d.ping());
        EXPECT_FALSE(read) << name;
    }
    // Bytes after the array, or a truncated one.
    FrameWriter w;
    write_event(w, {1, 1, "x"});
    std::string p = payload_of(w);
    Decoded d;
    EXPECT_FALSE(d.parse((p + "z").data(), p.size() + 1));
    EXPECT_FALSE(d.parse(p.data(), p.size() - 1));
}

TEST(Wire, ValuesSentMustFitTheirTypes) {
    msgpack::zone zone;  // each value as it unpacks
    Value v;
    EXPECT_TRUE(read_sent<uint8_t>(msgpack::object(255, zone), v));
    EXPECT_FALSE(read_sent<uint8_t>(msgpack::object(256, zone), v));
    EXPECT_FALSE(read_sent<uint32_t>(msgpack::object(-1, zone), v));
    EXPECT_TRUE(read_sent<int32_t>(msgpack::object(-2147483648ll, zone), v));
    EXPECT_FALSE(read_sent<int32_t>(msgpack::object(2147483648ll, zone), v));
    EXPECT_FALSE(read_sent<uint8_t>(msgpack::object("1", zone), v));
    EXPECT_FALSE(read_sent<char const*>(msgpack::object(1, zone), v));
    EXPECT_TRUE(read_sent<double>(msgpack::object(3, zone), v)) << "an integral f64";
}

// Each form of an address, a port at its bound and one past it, and the forms refused (no host).
TEST(Wire, AddressesSplitIntoHostAndPort) {
    std::tuple<char const*, std::string, uint16_t> const cases[] = {
        {"camera", "camera", kDefaultPort},
        {"camera:65535", "camera", 65535},
        {"[::1]", "::1", kDefaultPort},
        {"[::1]:0", "::1", 0},
        {"camera:65536", "", 0},
        {"camera:", "", 0},
        {"a:b:c", "", 0},
        {"[::1]80", "", 0},
        {"[::1", "", 0},
        {"::1]", "", 0},
    };
    for (auto const& [text, host, port] : cases) {
        std::string split;
        uint16_t at = 1;
        EXPECT_EQ(split_address(text, split, at), !host.empty()) << text;
        if (!host.empty()) {
            EXPECT_EQ(std::pair(split, at), std::pair(host, port)) << text;
        }
    }
}

// A frame of exactly the limit is awaited, the buffer growing to hold it;
// one byte more, or none, is refused before the buffer grows at all.
TEST(FrameReaderTest, RefusesALengthPastTheLimitBeforeGrowing) {
    for (uint32_t const length : {kMaxFrame, kMaxFrame + 1, 0u, 0xffffffffu}) {
        bool const taken = length == kMaxFrame;
        FrameReader frames(kMaxFrame);
        EXPECT_EQ(frames.room(), size_t(4096)) << "a connection starts small";
        unsigned char const prefix[] = {uint8_t(length >> 24), uint8_t(length >> 16),
                                        uint8_t(length >> 8), uint8_t(length)};
        std::memcpy(frames.space(), prefix, 4);
        frames.received(4);
        frames.done();
        char const* payload;
        uint32_t found = 0;
        EXPECT_EQ(frames.next(payload, found),
                  taken ? FrameReader::Next::more : FrameReader::Next::too_large)
            << length;
        EXPECT_EQ(found, length);
        EXPECT_EQ(frames.room(), taken ? kMaxFrame : 4092) << length;
    }
}

}  // namespace
}  // namespace kovra_sim::wire
