#include "station.h"

#include <limits>

#include "kovra_sim/control.h"

namespace kovra_sim {
namespace {

// A session holds at most this many initiators; a client needs a few dozen.
constexpr size_t kMaxInitiators = 4096;

std::string shown(Arg const& a, Sent const& s) {
    if (a.type == Type::f64) return format_f64(s.real);
    if (a.type == Type::text) return quote(std::string(s.text()).c_str());
    return std::to_string(s.number);
}

// Packs each reply value, and keeps how the journal shows it while the
// journal is on.
class PackedReplies final : public Replies {
public:
    PackedReplies(msgpack::sbuffer& buffer, Station& station, bool journal)
        : packer_(buffer), station_(station), journal_(journal) {}

    void put(int arg, Value const& v) override {
        wire::pack_value(packer_, v);
        if (!journal_) return;
        if (v.type == Type::texts || v.type == Type::bools) {
            shown[arg] = "[#" + std::to_string(station_.next_array()) + "]";
        } else if (v.type == Type::text) {
            shown[arg] = quote(v.text.c_str());
        } else {
            shown[arg] = format_value(v);
        }
    }

    std::string shown[kMaxArgs];

private:
    msgpack::packer<msgpack::sbuffer> packer_;
    Station& station_;
    bool journal_;
};

bool read_flag(msgpack::object const& o, bool& out) {
    if (o.type != msgpack::type::BOOLEAN) return false;
    out = o.via.boolean;
    return true;
}

std::string handle(uint32_t number) { return number ? "#" + std::to_string(number) : "null"; }

}  // namespace

bool Station::apply(Config const& config, std::string& error) {
    if (config.exhaust) {
        error = "exhaust= is for the client library, not the daemon";
        return false;
    }
    return Run::apply(config, error);
}

bool Session::greet(wire::Hello const& hello, bool admitted, wire::FrameWriter& out) {
    wire::Welcome welcome;
    welcome.fingerprint = table_fingerprint();
    welcome.idle_ms = idle_ms_;
    welcome.status = station_.ledger.on_call(fn_kovra_core_ipc_initiator_init);
    if (welcome.status != KOVRA_SIM_STATUS_OK) {
    } else if (hello.version != wire::kVersion || hello.fingerprint != welcome.fingerprint) {
        welcome.status = KOVRA_SIM_STATUS_PROTOCOL;
    } else if (!admitted) {
        welcome.status = KOVRA_SIM_STATUS_NO_RESOURCES;
    }
    ipc_ = hello.ipc;
    log_ = hello.log;
    if (station_.journal.on()) {
        Entry e(function(fn_kovra_core_ipc_initiator_init).name);
        e.raw(handle(log_)).raw("null").raw(welcome.status ? "&?" : "&" + handle(ipc_));
        station_.journal.add(e.done(welcome.status));
    }
    wire::write_welcome(out, welcome);
    return welcome.status == KOVRA_SIM_STATUS_OK;
}

Session::Initiator* Session::find(uint32_t id, int service) {
    auto it = initiators_.find(id);
    return it != initiators_.end() && it->second.service == service ? &it->second : nullptr;
}

std::optional<int32_t> Session::open(wire::Call const& call, int service, Entry* e) {
    msgpack::object_array const& a = call.args.via.array;
    int32_t events = 0, reserved = 0;
    int64_t ipc = 0, log = 0;  // handle numbers: non-negative int32
    int64_t const high = std::numeric_limits<int32_t>::max();
    if (a.size != 4 || !wire::read_as(a.ptr[0], events) || !wire::read_as(a.ptr[1], reserved) ||
        !wire::read_int(a.ptr[2], 0, high, ipc) || !wire::read_int(a.ptr[3], 0, high, log)) {
        return std::nullopt;
    }
    int32_t status = station_.ledger.on_call(call.function);
    if (status != KOVRA_SIM_STATUS_OK) {
    } else if (events < 0 || events > 1 || (events && service != svc_broker) || reserved != 0) {
        status = KOVRA_SIM_STATUS_BAD_ARGUMENT;
    } else if (call.handle == 0 || initiators_.count(call.handle)) {
        status = KOVRA_SIM_STATUS_BAD_HANDLE;
    } else if (initiators_.size() >= kMaxInitiators) {
        status = KOVRA_SIM_STATUS_NO_RESOURCES;
    } else {
        initiators_.emplace(call.handle, Initiator{service, events == 1});
    }
    if (e) {
        e->raw(handle(uint32_t(ipc))).raw(handle(uint32_t(log)));
        e->raw(status ? "&?" : "&" + handle(call.handle));
        e->raw(std::to_string(events)).raw(std::to_string(reserved));
    }
    return status;
}

std::optional<int32_t> Session::request(wire::Call const& call, Entry* e,
                                        msgpack::sbuffer& values) {
    FunctionInfo const& f = function(call.function);
    Sent sent[kMaxArgs];
    if (!call.target || !wire::read_sent(call.function, call.args, sent)) return std::nullopt;
    int32_t status = station_.ledger.on_call(call.function);
    PackedReplies replies(values, station_, e != nullptr);
    if (status == KOVRA_SIM_STATUS_OK && !find(call.handle, f.service))
        status = KOVRA_SIM_STATUS_BAD_HANDLE;
    if (status == KOVRA_SIM_STATUS_OK)
        status = station_.camera.serve(call.function, *call.target, sent, replies);
    if (e) {
        e->raw(handle(call.handle)).text(std::string(*call.target).c_str());
        for (int i = 0; i < f.argc; ++i) {
            if (f.args[i].direction != Direction::get) {
                e->raw(shown(f.args[i], sent[i]));
            } else {
                e->raw(status ? "&?" : "&" + replies.shown[i]);
            }
        }
    }
    return status;
}

std::optional<int32_t> Session::handler(wire::Call const& call, bool add, Entry* e) {
    msgpack::object_array const& a = call.args.via.array;
    bool with_handler = false, with_context = false;
    if (a.size != (add ? 2u : 1u) || !read_flag(a.ptr[0], with_handler) ||
        (add && !read_flag(a.ptr[1], with_context))) {
        return std::nullopt;
    }
    int32_t status = station_.ledger.on_call(call.function);
    Initiator* broker = status ? nullptr : find(call.handle, svc_broker);
    if (status != KOVRA_SIM_STATUS_OK) {
    } else if (!broker || !broker->events) {
        status = KOVRA_SIM_STATUS_BAD_HANDLE;
    } else if (!with_handler) {
        status = KOVRA_SIM_STATUS_NULL_POINTER;
    } else if (add) {
        ++broker->handlers;
        ++subscriptions_;
    } else if (broker->handlers == 0) {
        status = KOVRA_SIM_STATUS_BAD_HANDLE;
    } else {
        --broker->handlers;
        --subscriptions_;
    }
    if (e) {
        e->raw(handle(call.handle)).raw(with_handler ? "ptr" : "null");
        if (add) e->raw(with_context ? "ptr" : "null");
    }
    return status;
}

std::optional<int32_t> Session::close(wire::Call const& call, int service, Entry* e) {
    if (call.args.via.array.size != 0) return std::nullopt;
    int32_t status = station_.ledger.on_call(call.function);
    if (status == KOVRA_SIM_STATUS_OK) {
        if (Initiator* i = find(call.handle, service)) {
            subscriptions_ -= i->handlers;
            initiators_.erase(call.handle);
        } else {
            status = KOVRA_SIM_STATUS_BAD_HANDLE;
        }
    }
    if (e) e->raw(handle(call.handle));
    return status;
}

std::optional<int32_t> Session::goodbye(wire::Call const& call, Entry* e) {
    if (call.args.via.array.size != 0) return std::nullopt;
    done_ = true;
    if (e) e->raw(handle(ipc_));
    return station_.ledger.on_call(call.function);
}

bool Session::serve(wire::Call const& call, wire::FrameWriter& out, int32_t& served) {
    if (call.args.type != msgpack::type::ARRAY) return false;
    FunctionInfo const& f = function(call.function);
    std::optional<Entry> entry;
    if (station_.journal.on()) entry.emplace(f.name);
    Entry* const e = entry ? &*entry : nullptr;
    thread_local msgpack::sbuffer values;
    values.clear();
    std::optional<int32_t> status;
    if (f.kind == Kind::initiator_init) {
        status = open(call, f.service, e);
    } else if (f.kind == Kind::initiator_deinit) {
        status = close(call, f.service, e);
    } else if (f.kind == Kind::action || f.kind == Kind::request) {
        status = request(call, e, values);
    } else if (call.function == fn_kovra_api_broker_new_target_register_event_handler) {
        status = handler(call, true, e);
    } else if (call.function == fn_kovra_api_broker_new_target_unregister_event_handler) {
        status = handler(call, false, e);
    } else if (call.function == fn_kovra_core_ipc_deinit) {
        status = goodbye(call, e);
    }
    // Nothing else of the library reaches the camera.
    if (!status) return false;
    served = *status;
    if (e) station_.journal.add(e->done(*status));
    if (call.id == wire::kNoWait) return true;
    if (*status == KOVRA_SIM_STATUS_OK && f.gets) {
        wire::write_reply(out, call.id, f.gets, values);
    } else {
        wire::write_reply_status(out, call.id, *status);
    }
    return true;
}

}  // namespace kovra_sim
