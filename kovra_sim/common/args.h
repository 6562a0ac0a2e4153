// A request's arguments as C++ types, from its C declaration (kovra_api.h)
// after its initiator and target. The client's call, the wire, the daemon
// and the journal visit them through visit_request and for_each_arg with
// overloads per C type, so no code switches over argument kinds at run time.
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
