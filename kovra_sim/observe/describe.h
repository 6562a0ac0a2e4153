// How a call reads in a journal line, from the C types of its arguments,
// for the client (from the caller's values) and the daemon (from the
// camera's) alike: numbers in decimal, an f64 as format_f64 writes it,
// texts quoted, handles and arrays by their numbers; an out-parameter as
// "&" and the value it holds after a successful call, "&?" after a failed
// one, and "null" when it was not given.
#pragma once

#include <kovra/kovra_api.h>

#include <string>

#include "common/args.h"
#include "common/value.h"
#include "observe/journal.h"

namespace kovra_sim {

// Numbers for the handles and arrays a process holds.
class Names {
public:
    // A handle's number, 0 if it is none.
    virtual uint32_t handle(void const* p) = 0;
    // An array's number, 0 if it is none.
    virtual uint32_t array(void const* p) = 0;

protected:
    ~Names() = default;
};

namespace shown {

// A value, written into the argument begun.
inline void put(Entry& e, Names&, uint8_t v) { e.put(int64_t(v)); }
inline void put(Entry& e, Names&, uint32_t v) { e.put(int64_t(v)); }
inline void put(Entry& e, Names&, int32_t v) { e.put(int64_t(v)); }
inline void put(Entry& e, Names&, double v) { e.put(format_f64(v)); }
inline void put(Entry& e, Names&, char const* v) { e.put_text(v); }
inline void put(Entry& e, Names& names, kovra_string_array const* a) {
    if (a)
        e.put("[#").put(int64_t(names.array(a))).put("]");
    else
        e.put("null");
}
inline void put(Entry& e, Names& names, kovra_bool_array const* a) {
    if (a)
        e.put("[#").put(int64_t(names.array(a))).put("]");
    else
        e.put("null");
}

// A value of argument type T in the camera's form, shown as the caller's
// would be; `array()` numbers an array.
template <class T, class ArrayNumber>
std::string of_value(Value const& v, ArrayNumber&& array) {
    using V = std::remove_pointer_t<std::conditional_t<is_out<T>, T, T*>>;
    if constexpr (std::is_same_v<V, double>) {
        return format_f64(v.real);
    } else if constexpr (std::is_same_v<V, char const*> || std::is_same_v<V, char*>) {
        return quote(v.text.c_str());
    } else if constexpr (std::is_pointer_v<V>) {
        return "[#" + std::to_string(array()) + "]";
    } else {
        return std::to_string(V(v.number));
    }
}
template <class T>
std::string of_value(Value const& v) {
    return of_value<T>(v, [] { return 0u; });
}

// A value sent.
template <class T>
void arg(Entry& e, Names& names, bool, T value) {
    put(e.next(), names, value);
}
inline void arg(Entry& e, Names&, bool, char const* text) { e.text(text); }
// An out-parameter.
template <class T>
void arg(Entry& e, Names& names, bool ok, T* out) {
    if (!out) {
        e.raw("null");
    } else if (!ok) {
        e.raw("&?");
    } else {
        put(e.next().put("&"), names, *out);
    }
}

}  // namespace shown

// A request's arguments after its initiator and target.
template <class... A>
void describe_request(Entry& e, Names& names, int32_t status, kovra_initiator* initiator,
                      char const* target, A... args) {
    e.handle(initiator, names.handle(initiator)).text(target);
    (shown::arg(e, names, status == 0, args), ...);
}

// An out-parameter that holds a handle after the call.
inline void describe_opened(Entry& e, Names& names, void* const* out, int32_t status) {
    if (!out) {
        e.raw("null");
    } else if (status) {
        e.raw("&?");
    } else {
        e.next().put("&#").put(int64_t(names.handle(*out)));
    }
}

}  // namespace kovra_sim
