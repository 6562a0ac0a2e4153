// One request's arguments on their way through the library, typed from the
// table (args.h): the values sent, read into the camera's form in-process
// or packed for the wire; the out-parameters' values, taken from the
// camera's form or read from the wire, and staged (texts and arrays
// allocated) until the whole request has succeeded, then handed to the
// caller. What was never handed over is freed with the call.
#pragma once

#include <cstdlib>
#include <cstring>
#include <memory>
#include <tuple>
#include <utility>

#include "camera/exchange.h"
#include "client/arrays.h"
#include "client/exhaust.h"
#include "wire/codec.h"

namespace kovra_sim {

class Call : public Exchange {
public:
    // The values sent, and how many there are.
    virtual void pack(wire::Packer& p) const = 0;
    virtual uint32_t sent() const = 0;
    // Stages a reply's values; false unless they fit the out-parameters in
    // number and type (some may be staged by then).
    virtual bool unpack(msgpack::object_array const& values) = 0;
    // Hands the staged values to the out-parameters, numbering arrays in
    // `arrays`; throws std::bad_alloc, having handed nothing, if memory
    // runs out on the way.
    virtual void commit(Arrays& arrays) = 0;

protected:
    ~Call() = default;
};

// What argument T holds until the request has succeeded: nothing for a
// value sent, the value (or the allocated text or array) for an
// out-parameter.
template <class T, bool = is_out<T>>
struct Staged {};

template <class T>
struct Staged<T, true> {
    using V = std::remove_pointer_t<T>;
    static constexpr bool kArray = std::is_pointer_v<V> && !std::is_same_v<V, char*>;
    V value{};

    Staged() = default;
    Staged(Staged const&) = delete;
    ~Staged() {
        if constexpr (std::is_pointer_v<V>) std::free(value);
    }

    void take(Value const& v) {
        if constexpr (std::is_same_v<V, double>) {
            value = v.real;
        } else if constexpr (std::is_same_v<V, char*>) {
            value = copy(v.text);
        } else if constexpr (std::is_same_v<V, kovra_string_array*>) {
            value = make_array(v.texts);
        } else if constexpr (std::is_same_v<V, kovra_bool_array*>) {
            value = make_array(v.bools);
        } else {
            value = V(v.number);
        }
    }

    // A reply's value goes through the camera's form, so that it becomes
    // the out-parameter's in one place.
    bool take(msgpack::object const& o) {
        Value v;
        if constexpr (kArray) {
            if (o.type != msgpack::type::ARRAY) return false;
            constexpr bool bools = std::is_same_v<V, kovra_bool_array*>;
            for (uint32_t i = 0; i < o.via.array.size; ++i) {
                msgpack::object const& item = o.via.array.ptr[i];
                if (item.type != (bools ? msgpack::type::BOOLEAN : msgpack::type::STR))
                    return false;
                if constexpr (bools) {
                    v.bools.push_back(item.via.boolean);
                } else {
                    v.texts.emplace_back(item.via.str.ptr, item.via.str.size);
                }
            }
        } else {
            using Sent = std::conditional_t<std::is_same_v<V, char*>, char const*, V>;
            if (!wire::read_sent<Sent>(o, v)) return false;
        }
        take(v);
        return true;
    }

    // An array gets its number (which may throw), before anything is handed.
    void number(Arrays& arrays) {
        if constexpr (kArray) value->number = arrays.add(value);
    }
    void unnumber(Arrays& arrays) {
        if constexpr (kArray) arrays.remove(value);
    }
    void hand(T out) {
        *out = value;
        value = V{};
    }

private:
    static char* copy(std::string const& text) {
        return static_cast<char*>(
            std::memcpy(allocate(text.size() + 1), text.c_str(), text.size() + 1));
    }
};

template <class... A>
class TypedCall final : public Call {
public:
    // `argv[i]` points at argument i.
    explicit TypedCall(void* const* argv) : TypedCall(argv, std::index_sequence_for<A...>{}) {}

    std::tuple<A...> const& args() const { return args_; }

    // Whether every text sent and every out-parameter was given.
    bool given() const {
        return std::apply([](auto... a) { return ((!std::is_pointer_v<decltype(a)> || a) && ...); },
                          args_);
    }

    void read(int arg, Value& into) override {
        at(arg, [&](auto const& a, auto&) {
            using T = std::decay_t<decltype(a)>;
            if constexpr (std::is_same_v<T, double>) {
                into.real = a;
            } else if constexpr (std::is_same_v<T, char const*>) {
                into.text.assign(a);
            } else if constexpr (!is_out<T>) {
                into.number = a;
            }
        });
    }
    void write(int arg, Value const& value) override {
        at(arg, [&](auto const& a, auto& staged) {
            if constexpr (is_out<std::decay_t<decltype(a)>>) staged.take(value);
        });
    }
    void pack(wire::Packer& p) const override {
        std::apply([&](auto... a) { (pack_sent(p, a), ...); }, args_);
    }
    uint32_t sent() const override { return (0u + ... + uint32_t(!is_out<A>)); }

    bool unpack(msgpack::object_array const& values) override {
        if (values.size != uint32_t(sizeof...(A)) - sent()) return false;
        uint32_t next = 0;
        bool fits = true;
        outs([&](auto&, auto& staged) { fits = fits && staged.take(values.ptr[next++]); });
        return fits;
    }

    void commit(Arrays& arrays) override {
        try {
            outs([&](auto&, auto& staged) { staged.number(arrays); });
        } catch (...) {
            // An array not numbered yet is not registered: removing it does nothing.
            outs([&](auto&, auto& staged) { staged.unnumber(arrays); });
            throw;
        }
        outs([&](auto const& a, auto& staged) { staged.hand(a); });
    }

private:
    template <size_t... I>
    TypedCall(void* const* argv, std::index_sequence<I...>) : args_{*static_cast<A*>(argv[I])...} {}

    template <class T>
    static void pack_sent(wire::Packer& p, T a) {
        if constexpr (!is_out<T>) wire::pack_sent(p, a);
    }

    // f(argument, its staged value) for each argument, or for argument `arg`.
    template <class F>
    void each(F&& f) {
        std::apply(
            [&](auto&... staged) {
                std::apply([&](auto const&... a) { (f(a, staged), ...); }, args_);
            },
            staged_);
    }
    // f for the out-parameters only.
    template <class F>
    void outs(F&& f) {
        each([&](auto const& a, auto& staged) {
            if constexpr (is_out<std::decay_t<decltype(a)>>) f(a, staged);
        });
    }
    template <class F>
    void at(int arg, F&& f) {
        int i = 0;
        each([&](auto const& a, auto& staged) {
            if (i++ == arg) f(a, staged);
        });
    }

    std::tuple<A...> args_;
    std::tuple<Staged<A>...> staged_;
};

}  // namespace kovra_sim
