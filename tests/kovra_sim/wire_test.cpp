// The wire format: frames written by one end read back the same at the
// other, and anything malformed is refused rather than misread.
#include <gtest/gtest.h>

#include <cstring>

#include "frame_reader.h"
#include "protocol.h"

namespace kovra_sim::wire {
namespace {

std::string payload_of(FrameWriter& w) {
    EXPECT_EQ(frame_length(w.buffer().data()), w.buffer().size() - kPrefix);
    return std::string(w.buffer().data() + kPrefix, w.buffer().size() - kPrefix);
}

TEST(Wire, FramesReadBackAsWritten) {
    FrameWriter w;
    write_hello(w, {kVersion, table_fingerprint(), 2, 1});
    Decoded d;
    std::string p = payload_of(w);
    Hello hello;
    ASSERT_TRUE(d.parse(p.data(), p.size()) && d.hello(hello));
    EXPECT_EQ(hello.fingerprint, table_fingerprint());
    EXPECT_EQ(hello.ipc, 2u);
    Call wrong;
    EXPECT_FALSE(d.call(wrong));

    w.clear();
    write_welcome(w, {kVersion, 7, -10, 300000});
    p = payload_of(w);
    Welcome welcome;
    ASSERT_TRUE(d.parse(p.data(), p.size()) && d.welcome(welcome));
    EXPECT_EQ(welcome.status, -10);
    EXPECT_EQ(welcome.idle_ms, 300000u);
    w.clear();
    write_ping(w);
    p = payload_of(w);
    EXPECT_TRUE(d.parse(p.data(), p.size()) && d.ping());

    Sent sent[kMaxArgs]{};
    sent[0].number = 1, sent[1].number = -5, sent[2].real = 0.5;  // IN(i32), SET(i32), IN(f64) ...
    w.clear();
    write_request(w, 77, fn_kovra_api_positioning_move_to_position_with_speed_percentage_send, 9,
                  "0", sent);
    p = payload_of(w);
    Call call;
    ASSERT_TRUE(d.parse(p.data(), p.size()) && d.call(call));
    EXPECT_EQ(call.id, 77u);
    EXPECT_EQ(call.handle, 9u);
    EXPECT_EQ(call.target.value_or("?"), "0");
    Sent back[kMaxArgs];
    ASSERT_TRUE(read_sent(call.function, call.args, back));
    EXPECT_EQ(back[1].number, -5);
    EXPECT_EQ(back[2].real, 0.5);

    msgpack::sbuffer values;
    msgpack::packer<msgpack::sbuffer> packer(values);
    pack_value(packer, Value{Type::text, 0, 0, "a\nb", {}, {}});
    pack_value(packer, Value{Type::text, 0, 0, "c", {}, {}});
    pack_value(packer, Value{Type::text, 0, 0, "d", {}, {}});
    w.clear();
    write_reply(w, 78, 3, values);
    p = payload_of(w);
    Reply reply;
    ASSERT_TRUE(d.parse(p.data(), p.size()) && d.reply(reply));
    struct Texts final : ValueSink {
        void number(int, int64_t) override {}
        void real(int, double) override {}
        void text(int arg, std::string_view v) override {
            got += std::to_string(arg) + std::string(v);
        }
        void texts(int, msgpack::object_array const&) override {}
        void bools(int, msgpack::object_array const&) override {}
        std::string got;
    } sink;
    EXPECT_TRUE(read_replies(fn_kovra_api_log_get_settings_send, reply.values, sink));
    EXPECT_EQ(sink.got, "1a\nb2c3d");
    // The same values do not fit a request with other out-parameters.
    EXPECT_FALSE(read_replies(fn_kovra_api_log_get_settings_core_send, reply.values, sink));
}

// Payloads that must be refused, each by the reading its frame type gets.
TEST(Wire, MalformedPayloadsAreRefused) {
    struct Case {
        char const* name;
        std::function<void(msgpack::packer<msgpack::sbuffer>&)> pack;
    };
    Case const cases[] = {
        {"not an array", [](auto& p) { p.pack(1); }},
        {"unknown type", [](auto& p) { p.pack_array(1).pack(9); }},
        {"hello too short", [](auto& p) { p.pack_array(3).pack(0).pack(1).pack(2); }},
        {"welcome without its idle time",
         [](auto& p) { p.pack_array(4).pack(0).pack(kVersion).pack(1).pack(0); }},
        {"ping with a payload", [](auto& p) { p.pack_array(2).pack(4).pack(0); }},
        {"call with a negative id",
         [](auto& p) {
             p.pack_array(6).pack(1).pack(-1).pack(0).pack(0).pack_nil().pack_array(0);
         }},
        {"call of no function",
         [](auto& p) {
             p.pack_array(6)
                 .pack(1)
                 .pack(1)
                 .pack(int(kFunctionCount))
                 .pack(0)
                 .pack_nil()
                 .pack_array(0);
         }},
        {"call whose target is a number",
         [](auto& p) { p.pack_array(6).pack(1).pack(1).pack(0).pack(0).pack(5).pack_array(0); }},
        {"reply whose values are no array",
         [](auto& p) { p.pack_array(4).pack(2).pack(1).pack(0).pack(3); }},
        {"event of no service",
         [](auto& p) { p.pack_array(4).pack(3).pack(int(kServiceCount)).pack(1).pack("x"); }},
    };
    for (Case const& c : cases) {
        msgpack::sbuffer b;
        msgpack::packer<msgpack::sbuffer> p(b);
        c.pack(p);
        Decoded d;
        Hello h;
        Welcome wl;
        Call call;
        Reply r;
        Event e;
        bool const read =
            d.parse(b.data(), b.size()) &&
            (d.hello(h) || d.welcome(wl) || d.call(call) || d.reply(r) || d.event(e) || d.ping());
        EXPECT_FALSE(read) << c.name;
    }
    // Bytes after the array, or a truncated one.
    FrameWriter w;
    write_event(w, {1, 1, "x"});
    std::string p = payload_of(w);
    Decoded d;
    EXPECT_FALSE(d.parse((p + "z").data(), p.size() + 1));
    EXPECT_FALSE(d.parse(p.data(), p.size() - 1));
}

TEST(Wire, ValuesSentMustFitTheirArguments) {
    Sent sent[kMaxArgs]{};
    auto args = [](auto pack) {
        static msgpack::sbuffer b;
        static msgpack::zone zone;
        b.clear();
        msgpack::packer<msgpack::sbuffer> p(b);
        pack(p);
        return msgpack::unpack(zone, b.data(), b.size());
    };
    int const set_state = fn_kovra_api_led_set_state_send;  // SET(u8)
    EXPECT_TRUE(read_sent(set_state, args([](auto& p) { p.pack_array(1).pack(255); }), sent));
    EXPECT_FALSE(read_sent(set_state, args([](auto& p) { p.pack_array(1).pack(256); }), sent));
    EXPECT_FALSE(read_sent(set_state, args([](auto& p) { p.pack_array(1).pack("1"); }), sent));
    EXPECT_FALSE(
        read_sent(set_state, args([](auto& p) { p.pack_array(2).pack(1).pack(1); }), sent));
}

// Bytes arrive in pieces of any size; frames come out whole and in order,
// and a length beyond the limit is refused before a buffer grows for it.
TEST(FrameReaderTest, CutsAStreamIntoFramesWithoutTrustingLengths) {
    FrameWriter w;
    for (uint8_t service = 0; service < 5; ++service)
        write_event(w, {service, 1, std::string(service * 30000, 'a')});
    std::string const stream(w.buffer().data(), w.buffer().size());
    for (size_t piece : {size_t(1), size_t(7), size_t(65536), stream.size()}) {
        FrameReader frames(kMaxFrame);
        std::vector<int> services;
        for (size_t at = 0; at < stream.size();) {
            size_t const n = std::min({piece, stream.size() - at, frames.room()});
            std::memcpy(frames.space(), stream.data() + at, n);
            frames.received(n);
            at += n;
            char const* payload;
            uint32_t length;
            while (frames.next(payload, length) == FrameReader::Next::frame) {
                Decoded d;
                Event e;
                ASSERT_TRUE(d.parse(payload, length) && d.event(e));
                services.push_back(e.service);
            }
            frames.done();
        }
        EXPECT_EQ(services, (std::vector<int>{0, 1, 2, 3, 4})) << "pieces of " << piece;
        EXPECT_FALSE(frames.partial());
        EXPECT_EQ(frames.room(), size_t(4096)) << "the buffer shrinks back";
    }
    // A frame of exactly the limit is awaited; one byte more, or none, is refused.
    // It grows to hold exactly the one, and not at all for the others.
    struct {
        uint32_t length;
        FrameReader::Next next;
        size_t room;
    } const lengths[] = {{kMaxFrame, FrameReader::Next::more, kMaxFrame},
                         {kMaxFrame + 1, FrameReader::Next::too_large, 4092},
                         {0, FrameReader::Next::too_large, 4092},
                         {0xffffffffu, FrameReader::Next::too_large, 4092}};
    for (auto const& c : lengths) {
        FrameReader frames(kMaxFrame);
        EXPECT_EQ(frames.room(), size_t(4096)) << "a connection starts small";
        unsigned char const prefix[] = {uint8_t(c.length >> 24), uint8_t(c.length >> 16),
                                        uint8_t(c.length >> 8), uint8_t(c.length)};
        std::memcpy(frames.space(), prefix, 4);
        frames.received(4);
        frames.done();
        char const* payload;
        uint32_t found = 0;
        EXPECT_EQ(frames.next(payload, found), c.next) << c.length;
        if (c.next == FrameReader::Next::too_large) {
            EXPECT_EQ(found, c.length);
        }
        EXPECT_EQ(frames.room(), c.room) << c.length;
    }
}

}  // namespace
}  // namespace kovra_sim::wire
