#include "staging.h"

namespace kovra_sim {

Staging::Staging(FunctionInfo const& function) : function_(function) {
    for (int i = 0; i < function_.argc; ++i) {
        if (function_.args[i].direction == Direction::get) slots_[i] = Slot{0, 0, nullptr};
    }
}

Staging::~Staging() {
    for (int i = 0; i < function_.argc; ++i) {
        if (function_.args[i].direction == Direction::get) std::free(slots_[i].owned);
    }
}

void Staging::text(int arg, std::string_view value) {
    char* copy = static_cast<char*>(allocate(value.size() + 1));
    std::memcpy(copy, value.data(), value.size());
    copy[value.size()] = '\0';
    slots_[arg].owned = copy;
}

void Staging::texts(int arg, msgpack::object_array const& items) {
    slots_[arg].owned = make_string_array(items.size, [&](size_t k) {
        return std::string_view(items.ptr[k].via.str.ptr, items.ptr[k].via.str.size);
    });
}

void Staging::bools(int arg, msgpack::object_array const& items) {
    slots_[arg].owned =
        make_bool_array(items.size, [&](size_t k) { return items.ptr[k].via.boolean; });
}

void Staging::put(int arg, Value const& value) {
    switch (value.type) {
        case Type::f64:
            real(arg, value.real);
            break;
        case Type::text:
            text(arg, value.text);
            break;
        case Type::texts:
            slots_[arg].owned = make_string_array(
                value.texts.size(), [&](size_t i) { return std::string_view(value.texts[i]); });
            break;
        case Type::bools:
            slots_[arg].owned =
                make_bool_array(value.bools.size(), [&](size_t i) { return value.bools[i]; });
            break;
        default:
            number(arg, value.number);
            break;
    }
}

void Staging::commit(void* const* argv, Arrays& arrays) {
    // Arrays are registered first: that may fail, and then no out-parameter
    // may have been written yet.
    int registered = 0;
    try {
        for (; registered < function_.argc; ++registered) {
            Arg const& a = function_.args[registered];
            if (a.direction != Direction::get) continue;
            void* const owned = slots_[registered].owned;
            if (a.type == Type::texts)
                static_cast<kovra_string_array*>(owned)->number = arrays.add(owned);
            if (a.type == Type::bools)
                static_cast<kovra_bool_array*>(owned)->number = arrays.add(owned);
        }
    } catch (...) {
        for (int i = 0; i < registered; ++i) {
            Type const t = function_.args[i].type;
            if (t == Type::texts || t == Type::bools) arrays.remove(slots_[i].owned);
        }
        throw;
    }
    for (int i = 0; i < function_.argc; ++i) {
        Arg const& a = function_.args[i];
        if (a.direction != Direction::get) continue;
        Slot& s = slots_[i];
        void* const out = argv[i];
        switch (a.type) {
            case Type::u8:
                *static_cast<uint8_t*>(out) = uint8_t(s.number);
                break;
            case Type::u32:
                *static_cast<uint32_t*>(out) = uint32_t(s.number);
                break;
            case Type::i32:
                *static_cast<int32_t*>(out) = int32_t(s.number);
                break;
            case Type::f64:
                *static_cast<double*>(out) = s.real;
                break;
            case Type::text:
                *static_cast<char**>(out) = static_cast<char*>(s.owned);
                break;
            case Type::texts:
                *static_cast<kovra_string_array**>(out) = static_cast<kovra_string_array*>(s.owned);
                break;
            case Type::bools:
                *static_cast<kovra_bool_array**>(out) = static_cast<kovra_bool_array*>(s.owned);
                break;
        }
        s.owned = nullptr;
    }
}

}  // namespace kovra_sim
