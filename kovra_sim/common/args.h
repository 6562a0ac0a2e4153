// A request's arguments as C++ types, known once: from the request's own C
// declaration (kovra_api.h), after its initiator and target. Everything
// that handles a request's values (the client's call, the wire, the
// daemon's decoding, the journal) visits them through visit_request and
// for_each_arg, each with overloads for the C types it meets, so no code
// switches over the kinds of arguments at run time.
#pragma once

#include <kovra/kovra_api.h>

#include <cstddef>
#include <type_traits>
#include <utility>

#include "common/functions.h"

namespace kovra_sim {

template <class... A>
struct Types {
    static constexpr int size = int(sizeof...(A));
};

// An out-parameter: any pointer but a text sent.
template <class T>
constexpr bool is_out = std::is_pointer_v<T> && !std::is_same_v<T, char const*>;

// The camera's kind of value an argument carries, sent or out.
template <class V>
struct TypeOf;
template <>
struct TypeOf<uint8_t> : std::integral_constant<Type, Type::u8> {};
template <>
struct TypeOf<uint32_t> : std::integral_constant<Type, Type::u32> {};
template <>
struct TypeOf<int32_t> : std::integral_constant<Type, Type::i32> {};
template <>
struct TypeOf<double> : std::integral_constant<Type, Type::f64> {};
template <>
struct TypeOf<char const> : std::integral_constant<Type, Type::text> {};
template <>
struct TypeOf<char*> : std::integral_constant<Type, Type::text> {};
template <>
struct TypeOf<kovra_string_array*> : std::integral_constant<Type, Type::texts> {};
template <>
struct TypeOf<kovra_bool_array*> : std::integral_constant<Type, Type::bools> {};
template <class T>
constexpr Type type_of = TypeOf<std::remove_pointer_t<T>>::value;

namespace detail {
template <class>
struct AfterTarget;
template <class... A>
struct AfterTarget<int32_t(kovra_initiator*, char const*, A...)> {
    using type = Types<A...>;
};
}  // namespace detail

// Calls visit(Types<A...>{}) with the argument types of request or action
// `function` (one of is_request), and returns what it returns.
template <class Visit>
decltype(auto) visit_request(int function, Visit&& visit) {
    switch (function) {
#define KOVRA_ACTION(svc, op)              \
    case fn_kovra_api_##svc##_##op##_send: \
        return visit(Types<>{});
#define KOVRA_REQUEST(svc, op, ...)        \
    case fn_kovra_api_##svc##_##op##_send: \
        return visit(typename detail::AfterTarget<decltype(kovra_api_##svc##_##op##_send)>::type{});
#include <kovra/kovra_requests.def>
        default:
            return visit(Types<>{});
    }
}

namespace detail {
template <class... A, class F, size_t... I>
void each_arg(F& f, std::index_sequence<I...>) {
    (f(std::integral_constant<int, int(I)>{}, static_cast<A*>(nullptr)), ...);
}
}  // namespace detail

// Calls f(std::integral_constant<int, I>{}, (A_I*)nullptr) for each argument in order.
template <class... A, class F>
void for_each_arg(Types<A...>, F&& f) {
    detail::each_arg<A...>(f, std::index_sequence_for<A...>{});
}

}  // namespace kovra_sim
