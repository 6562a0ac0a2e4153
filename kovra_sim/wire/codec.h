// A request's arguments on the wire, each by its C type (args.h): a value
// sent is packed from the caller's C value and read back into the camera's
// form; an out-parameter's value is packed from the camera's form (the
// client reads it back into its own, client/call.h).
#pragma once

#include <limits>
#include <string_view>
#include <type_traits>

#include "common/args.h"
#include "wire/protocol.h"

namespace kovra_sim::wire {

using Packer = msgpack::packer<msgpack::sbuffer>;

// A value sent, as its C type packs (a char const* as a str).
template <class T>
void pack_sent(Packer& p, T value) {
    p.pack(value);
}

// A value sent as T into the camera's form; false if the object is no T.
template <class T>
bool read_sent(msgpack::object const& o, Value& into) {
    if constexpr (std::is_same_v<T, double>) {
        return read_real(o, into.real);
    } else if constexpr (std::is_same_v<T, char const*>) {
        std::string_view text;
        if (!read_text(o, text)) return false;
        into.text.assign(text);
        return true;
    } else {
        return read_int(o, std::numeric_limits<T>::min(), std::numeric_limits<T>::max(),
                        into.number);
    }
}

// The value of an out-parameter of type T, from the camera's form.
template <class T>
void pack_reply(Packer& p, Value const& v) {
    using V = std::remove_pointer_t<T>;
    if constexpr (std::is_same_v<V, double>) {
        p.pack(v.real);
    } else if constexpr (std::is_same_v<V, char*>) {
        p.pack(v.text);
    } else if constexpr (std::is_same_v<V, kovra_string_array*>) {
        p.pack(v.texts);
    } else if constexpr (std::is_same_v<V, kovra_bool_array*>) {
        p.pack_array(uint32_t(v.bools.size()));
        for (uint8_t b : v.bools) b ? p.pack_true() : p.pack_false();
    } else {
        p.pack(v.number);
    }
}

}  // namespace kovra_sim::wire
