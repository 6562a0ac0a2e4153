// What a client reads from a camera: the welcome, replies (their values
// staged for the request the input names, as the client does), events and
// pings; and what a camera reads first, the hello.
#include "client/call.h"

using namespace kovra_sim;

namespace {

// The value an argument of type A is, or points at when it is an out-parameter.
template <class A>
using Held = std::remove_pointer_t<std::conditional_t<is_out<A>, A, A*>>;

template <class A>
A argument(Held<A>& held) {
    if constexpr (is_out<A>) {
        return &held;
    } else {
        return held;
    }
}

template <class... A, size_t... I>
void stage_into(msgpack::object_array const& values, std::index_sequence<I...>) {
    std::tuple<Held<A>...> held{};
    std::tuple<A...> args{argument<A>(std::get<I>(held))...};
    void* argv[] = {&std::get<I>(args)..., nullptr};
    TypedCall<A...>(argv).unpack(values);  // what it staged is freed with it
}

template <class... A>
void stage(msgpack::object_array const& values, Types<A...>) {
    stage_into<A...>(values, std::index_sequence_for<A...>{});
}

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
    decoded.hello(hello);
    decoded.welcome(welcome);
    decoded.event(event);
    decoded.ping();
    if (decoded.reply(reply) && is_request(function)) {
        visit_request(function, [&](auto types) { stage(reply.values, types); });
    }
    return 0;
}
