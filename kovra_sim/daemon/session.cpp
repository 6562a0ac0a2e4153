#include "daemon/session.h"

#include <kovra_sim/control.h>

#include <optional>

#include "common/args.h"
#include "observe/describe.h"
#include "wire/codec.h"

namespace kovra_sim {
namespace {

std::string handle(uint32_t number) { return number ? "#" + std::to_string(number) : "null"; }

// A call frame's arguments as the camera sees them: each value sent read
// as its C type, each out-parameter's value packed into the reply as its C
// type, and while journaling, how each reads in the line.
template <class... A>
class FrameExchange final : public Exchange {
public:
    FrameExchange(msgpack::object_array const& args, msgpack::sbuffer& values,
                  SharedSimulation& simulation, bool journal)
        : args_(args), packer_(values), simulation_(simulation), journal_(journal) {}

    // Whether the frame carries one value of each sent argument's type.
    bool fits() {
        if (args_.size != (0u + ... + uint32_t(!is_out<A>))) return false;
        bool fits = true;
        uint32_t sent = 0;
        for_each_arg(Types<A...>{}, [&](auto arg, auto* typed) {
            using T = std::remove_pointer_t<decltype(typed)>;
            if constexpr (!is_out<T>) {
                Value v;
                at_[arg] = sent++;
                fits = fits && wire::read_sent<T>(args_.ptr[at_[arg]], v);
                if (journal_) shown_[arg] = shown::of_value<T>(v);
            }
        });
        return fits;
    }
    void read(int arg, Value& into) override {
        for_each_arg(Types<A...>{}, [&](auto i, auto* typed) {
            using T = std::remove_pointer_t<decltype(typed)>;
            if constexpr (!is_out<T>) {
                if (i == arg) wire::read_sent<T>(args_.ptr[at_[i]], into);
            }
        });
    }
    void write(int arg, Value const& value) override {
        for_each_arg(Types<A...>{}, [&](auto i, auto* typed) {
            using T = std::remove_pointer_t<decltype(typed)>;
            if constexpr (is_out<T>) {
                if (i != arg) return;
                wire::pack_reply<T>(packer_, value);
                if (journal_)
                    shown_[arg] =
                        shown::of_value<T>(value, [&] { return simulation_.next_array(); });
            }
        });
    }
    // The arguments in the journal's line, after the initiator and target.
    void describe(Entry& e, int32_t status) const {
        for_each_arg(Types<A...>{}, [&](auto arg, auto* typed) {
            bool const out = is_out<std::remove_pointer_t<decltype(typed)>>;
            e.raw(!out ? shown_[arg] : status ? std::string("&?") : "&" + shown_[arg]);
        });
    }

private:
    msgpack::object_array const& args_;
    wire::Packer packer_;
    SharedSimulation& simulation_;
    bool const journal_;
    std::string shown_[kMaxArgs];
    uint32_t at_[kMaxArgs] = {};  // a sent argument's index in the frame
};

template <class... A>
Session::Answer serve_request(SharedSimulation& simulation, Initiators const& initiators,
                              wire::Call const& call, Entry* e, msgpack::sbuffer& values,
                              Types<A...>) {
    FrameExchange<A...> exchange(call.args, values, simulation, e != nullptr);
    if (!call.target || !exchange.fits()) return {true, 0, {}, 0};
    Session::Answer answer{false, simulation.ledger.on_call(call.function), {}, 0};
    if (answer.status == KOVRA_SIM_STATUS_OK &&
        !initiators.find(call.handle, function_info(call.function).service)) {
        answer.status = KOVRA_SIM_STATUS_BAD_HANDLE;
    }
    if (answer.status == KOVRA_SIM_STATUS_OK) {
        Camera::Served const served =
            simulation.camera.serve(call.function, *call.target, exchange);
        answer.status = served.status;
        answer.delay = served.delay;
        answer.values = (0u + ... + uint32_t(is_out<A>));
    }
    if (e) {
        e->raw(handle(call.handle)).text(std::string(*call.target).c_str());
        exchange.describe(*e, answer.status);
    }
    return answer;
}

bool read_flag(msgpack::object const& o, bool& out) {
    if (o.type != msgpack::type::BOOLEAN) return false;
    out = o.via.boolean;
    return true;
}

}  // namespace

bool Session::greet(wire::Hello const& hello, bool admitted, wire::FrameWriter& out) {
    wire::Welcome welcome;
    welcome.fingerprint = table_fingerprint();
    welcome.idle_ms = idle_ms_;
    welcome.status = simulation_.ledger.on_call(fn_kovra_core_ipc_initiator_init);
    if (welcome.status != KOVRA_SIM_STATUS_OK) {
    } else if (hello.version != wire::kVersion || hello.fingerprint != welcome.fingerprint) {
        welcome.status = KOVRA_SIM_STATUS_PROTOCOL;
    } else if (!admitted) {
        welcome.status = KOVRA_SIM_STATUS_NO_RESOURCES;
    }
    ipc_ = hello.ipc;
    log_ = hello.log;
    if (simulation_.journal.on()) {
        Entry e(function_info(fn_kovra_core_ipc_initiator_init).name);
        e.raw(handle(log_)).raw("null").raw(welcome.status ? "&?" : "&" + handle(ipc_));
        simulation_.journal.add(e.done(welcome.status));
    }
    wire::write_welcome(out, welcome);
    return welcome.status == KOVRA_SIM_STATUS_OK;
}

Session::Answer Session::serve(wire::Call const& call, wire::FrameWriter& out) {
    std::optional<Entry> entry;
    if (simulation_.journal.on()) entry.emplace(function_info(call.function).name);
    Entry* const e = entry ? &*entry : nullptr;
    thread_local msgpack::sbuffer values;
    values.clear();
    Answer const answer = is_request(call.function)
                              ? visit_request(call.function,
                                              [&](auto types) {
                                                  return serve_request(simulation_, initiators_,
                                                                       call, e, values, types);
                                              })
                              : other(call, e);
    if (answer.malformed) return answer;
    if (e) simulation_.journal.add(e->done(answer.status));
    if (call.id == wire::kNoWait) return answer;
    if (answer.status == KOVRA_SIM_STATUS_OK) {
        wire::write_reply(out, call.id, answer.values, values);
    } else {
        wire::write_reply_status(out, call.id, answer.status);
    }
    return answer;
}

// Initiators, handlers and the goodbye: each checked against what the
// client has open.
Session::Answer Session::other(wire::Call const& call, Entry* e) {
    msgpack::object_array const& a = call.args;
    FunctionInfo const& f = function_info(call.function);
    bool const registers = call.function == fn_kovra_api_broker_new_target_register_event_handler;
    bool const unregisters =
        call.function == fn_kovra_api_broker_new_target_unregister_event_handler;
    int32_t events = 0;
    bool context = false;
    bool const fits = f.kind == Kind::initiator_init
                          ? a.size == 1 && wire::read_as(a.ptr[0], events)
                      : registers ? a.size == 1 && read_flag(a.ptr[0], context)
                      : f.kind == Kind::initiator_deinit || unregisters ||
                              call.function == fn_kovra_core_ipc_deinit
                          ? a.size == 0
                          : false;  // nothing else of the library reaches the camera
    if (!fits) return {true, 0, {}, 0};
    int32_t status = simulation_.ledger.on_call(call.function);
    if (f.kind == Kind::initiator_init) {
        if (status == KOVRA_SIM_STATUS_OK) status = Initiators::check(f.service, events, 0);
        if (status == KOVRA_SIM_STATUS_OK)
            status = initiators_.open(call.handle, f.service, events);
        if (e) {
            e->raw(handle(ipc_)).raw(handle(log_)).raw(status ? "&?" : "&" + handle(call.handle));
            e->raw(std::to_string(events)).raw("0");
        }
    } else if (f.kind == Kind::initiator_deinit) {
        if (status == KOVRA_SIM_STATUS_OK) status = initiators_.close(call.handle, f.service);
        if (e) e->raw(handle(call.handle));
    } else if (registers || unregisters) {
        if (status == KOVRA_SIM_STATUS_OK) {
            status = registers ? initiators_.subscribe(call.handle, context)
                               : initiators_.unsubscribe(call.handle);
        }
        if (e) e->raw(handle(call.handle)).raw("ptr");
        if (e && registers) e->raw(context ? "ptr" : "null");
    } else {
        done_ = true;
        if (e) e->raw(handle(ipc_));
    }
    return {false, status, {}, 0};
}

}  // namespace kovra_sim
