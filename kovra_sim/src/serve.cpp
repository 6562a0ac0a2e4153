// Serving the table's functions: initiators and requests.
#include <cstdlib>
#include <cstring>
#include <thread>

#include "call.h"
#include "camera.h"
#include "catalog.h"
#include "kovra_sim/control.h"

namespace kovra_sim {
namespace {

template <class T>
T& in(void* const* argv, uint32_t i) {
    return *static_cast<T*>(argv[i]);
}

// The setting key a request addresses: "svc.setting" plus its KEY values.
std::string key_of(kovra_sim_request const& rq, void* const* argv) {
    std::string key = std::string(service(rq.service).word) + "." + rq.setting;
    std::string keys;
    for (uint32_t i = 0; i < rq.argc; ++i) {
        kovra_sim_arg const& a = rq.args[i];
        if (a.direction != KOVRA_SIM_KEY) continue;
        if (!keys.empty()) keys += ",";
        switch (a.type) {
            case KOVRA_SIM_text:
                keys += in<char const*>(argv, i);
                break;
            case KOVRA_SIM_i32:
                keys += std::to_string(in<int32_t>(argv, i));
                break;
            case KOVRA_SIM_u32:
                keys += std::to_string(in<uint32_t>(argv, i));
                break;
            case KOVRA_SIM_u8:
                keys += std::to_string(in<uint8_t>(argv, i));
                break;
            default:
                keys += format_f64(in<double>(argv, i));
                break;
        }
    }
    return keys.empty() ? key : key + "[" + keys + "]";
}

Value value_of(kovra_sim_arg const& a, void* const* argv, uint32_t i) {
    Value v;
    v.type = a.type;
    switch (a.type) {
        case KOVRA_SIM_u8:
            v.number = in<uint8_t>(argv, i);
            break;
        case KOVRA_SIM_u32:
            v.number = in<uint32_t>(argv, i);
            break;
        case KOVRA_SIM_i32:
            v.number = in<int32_t>(argv, i);
            break;
        case KOVRA_SIM_f64:
            v.real = in<double>(argv, i);
            break;
        default:
            v.text = in<char const*>(argv, i);
            break;
    }
    return v;
}

// What an out-parameter receives; texts and arrays are allocated here and
// only handed over once the whole request has succeeded.
struct Out {
    Value value;
    char* text = nullptr;
    kovra_string_array* texts = nullptr;
    kovra_bool_array* bools = nullptr;
};

void make_out(Out& out) {
    Value const& v = out.value;
    if (v.type == KOVRA_SIM_text) {
        out.text = strdup(v.text.c_str());
    } else if (v.type == KOVRA_SIM_texts) {
        out.texts = new kovra_string_array{0, uint32_t(v.texts.size()), new char*[v.texts.size()]};
        for (size_t i = 0; i < v.texts.size(); ++i)
            out.texts->items[i] = strdup(v.texts[i].c_str());
    } else if (v.type == KOVRA_SIM_bools) {
        out.bools = new kovra_bool_array{0, uint32_t(v.bools.size()), new uint8_t[v.bools.size()]};
        std::copy(v.bools.begin(), v.bools.end(), out.bools->items);
    }
}

void hand_out(Camera& cam, Out& out, void* target) {
    Value const& v = out.value;
    switch (v.type) {
        case KOVRA_SIM_u8:
            *static_cast<uint8_t*>(target) = uint8_t(v.number);
            break;
        case KOVRA_SIM_u32:
            *static_cast<uint32_t*>(target) = uint32_t(v.number);
            break;
        case KOVRA_SIM_i32:
            *static_cast<int32_t*>(target) = int32_t(v.number);
            break;
        case KOVRA_SIM_f64:
            *static_cast<double*>(target) = v.real;
            break;
        case KOVRA_SIM_text:
            *static_cast<char**>(target) = out.text;
            break;
        case KOVRA_SIM_texts:
            out.texts->number = cam.registry.add_array(out.texts);
            *static_cast<kovra_string_array**>(target) = out.texts;
            break;
        case KOVRA_SIM_bools:
            out.bools->number = cam.registry.add_array(out.bools);
            *static_cast<kovra_bool_array**>(target) = out.bools;
            break;
    }
}

int32_t check_request(Camera& cam, kovra_sim_request const& rq, kovra_initiator* initiator,
                      char const* target, void* const* argv) {
    Handle h;
    if (!cam.registry.live(initiator, HandleKind::initiator, &h) || h.service != rq.service) {
        return KOVRA_SIM_STATUS_BAD_HANDLE;
    }
    if (!cam.registry.live(h.ipc, HandleKind::ipc)) return KOVRA_SIM_STATUS_NOT_CONNECTED;
    if (!target) return KOVRA_SIM_STATUS_NULL_POINTER;
    for (uint32_t i = 0; i < rq.argc; ++i) {
        bool const pointer =
            rq.args[i].direction == KOVRA_SIM_GET || rq.args[i].type == KOVRA_SIM_text;
        if (pointer &&
            !(rq.args[i].direction == KOVRA_SIM_GET ? argv[i] : in<char const*>(argv, i))) {
            return KOVRA_SIM_STATUS_NULL_POINTER;
        }
    }
    if (std::strcmp(target, service(rq.service).target) != 0)
        return KOVRA_SIM_STATUS_UNKNOWN_TARGET;
    return KOVRA_SIM_STATUS_OK;
}

int32_t answer(Camera& cam, kovra_sim_request const& rq, void* const* argv) {
    if (!rq.setting || std::strcmp(rq.setting, "none") == 0) return KOVRA_SIM_STATUS_OK;
    std::string const key = key_of(rq, argv);
    std::vector<Out> outs(rq.argc);
    bool writes = false;
    for (uint32_t i = 0; i < rq.argc; ++i) writes |= rq.args[i].direction == KOVRA_SIM_SET;
    auto serve_slots = [&](auto& values) {
        for (uint32_t i = 0; i < rq.argc; ++i) {
            kovra_sim_arg const& a = rq.args[i];
            if (a.direction == KOVRA_SIM_GET) outs[i].value = values.at(a.slot);
        }
    };
    bool const found = writes
                           ? cam.store.write(key,
                                             [&](std::vector<Value>& values) {
                                                 for (uint32_t i = 0; i < rq.argc; ++i) {
                                                     kovra_sim_arg const& a = rq.args[i];
                                                     if (a.direction == KOVRA_SIM_SET) {
                                                         values.at(a.slot) = value_of(a, argv, i);
                                                     }
                                                 }
                                                 serve_slots(values);
                                             })
                           : cam.store.read(key, serve_slots);
    if (!found) return KOVRA_SIM_STATUS_UNKNOWN_TARGET;
    for (uint32_t i = 0; i < rq.argc; ++i) {
        if (rq.args[i].direction != KOVRA_SIM_GET) continue;
        make_out(outs[i]);
        hand_out(cam, outs[i], argv[i]);
    }
    return KOVRA_SIM_STATUS_OK;
}

std::string journal_value(kovra_sim_arg const& a, void* p) {
    switch (a.type) {
        case KOVRA_SIM_u8:
            return std::to_string(*static_cast<uint8_t*>(p));
        case KOVRA_SIM_u32:
            return std::to_string(*static_cast<uint32_t*>(p));
        case KOVRA_SIM_i32:
            return std::to_string(*static_cast<int32_t*>(p));
        case KOVRA_SIM_f64:
            return format_f64(*static_cast<double*>(p));
        case KOVRA_SIM_text:
            return quote(*static_cast<char**>(p));
        default: {
            void const* array = *static_cast<void**>(p);
            if (!array) return "null";
            uint32_t const n = a.type == KOVRA_SIM_texts
                                   ? static_cast<kovra_string_array const*>(array)->number
                                   : static_cast<kovra_bool_array const*>(array)->number;
            return "[#" + std::to_string(n) + "]";
        }
    }
}

void describe_request(Camera& cam, Entry& e, kovra_sim_request const& rq,
                      kovra_initiator* initiator, char const* target, void* const* argv,
                      int32_t status) {
    e.handle(initiator, cam.registry.number(initiator)).text(target);
    for (uint32_t i = 0; i < rq.argc; ++i) {
        kovra_sim_arg const& a = rq.args[i];
        if (a.direction != KOVRA_SIM_GET) {
            e.raw(journal_value(a, argv[i]));
        } else if (!argv[i]) {
            e.raw("null");
        } else {
            e.raw(status == KOVRA_SIM_STATUS_OK ? "&" + journal_value(a, argv[i]) : "&?");
        }
    }
}

}  // namespace
}  // namespace kovra_sim

using namespace kovra_sim;

extern "C" int32_t kovra_sim_serve(kovra_sim_request const* rq, kovra_initiator* initiator,
                                   char const* target, void* const* argv) {
    int32_t const status = call(
        rq->function,
        [&](Camera& cam) {
            int32_t checked = check_request(cam, *rq, initiator, target, argv);
            if (checked != KOVRA_SIM_STATUS_OK) return checked;
            if (uint32_t const us = cam.latency_us())
                std::this_thread::sleep_for(std::chrono::microseconds(us));
            return answer(cam, *rq, argv);
        },
        [&](Camera& cam, Entry& e, int32_t status) {
            describe_request(cam, e, *rq, initiator, target, argv, status);
        });
    if (status == KOVRA_SIM_STATUS_OK) camera().served();
    return status;
}

extern "C" int32_t kovra_sim_initiator_init(int32_t function_id, int32_t service_id, void* ipc,
                                            void* log, kovra_initiator** initiator, int32_t events,
                                            int32_t reserved) {
    return call(
        function_id,
        [&](Camera& cam) {
            if (!initiator) return KOVRA_SIM_STATUS_NULL_POINTER;
            if (!cam.registry.live(ipc, HandleKind::ipc) ||
                !cam.registry.live(log, HandleKind::log)) {
                return KOVRA_SIM_STATUS_BAD_HANDLE;
            }
            if (events < 0 || events > 1 || (events && service_id != KOVRA_SIM_SVC_broker) ||
                reserved != 0) {
                return KOVRA_SIM_STATUS_BAD_ARGUMENT;
            }
            Handle h{HandleKind::initiator};
            h.service = service_id;
            h.events = events == 1;
            h.ipc = ipc;
            *initiator = static_cast<kovra_initiator*>(cam.registry.open(h));
            return KOVRA_SIM_STATUS_OK;
        },
        [&](Camera& cam, Entry& e, int32_t status) {
            e.handle(ipc, cam.registry.number(ipc)).handle(log, cam.registry.number(log));
            out_handle(cam, e, initiator, status);
            e.raw(std::to_string(events)).raw(std::to_string(reserved));
        });
}

extern "C" int32_t kovra_sim_initiator_deinit(int32_t function_id, int32_t service_id,
                                              kovra_initiator* initiator) {
    return call(
        function_id,
        [&](Camera& cam) {
            Handle h;
            if (!cam.registry.live(initiator, HandleKind::initiator, &h) ||
                h.service != service_id) {
                return KOVRA_SIM_STATUS_BAD_HANDLE;
            }
            // Its subscriptions end with it, so no handler is called for a dead broker.
            cam.announcer.drop(initiator);
            cam.registry.close(initiator, HandleKind::initiator);
            return KOVRA_SIM_STATUS_OK;
        },
        [&](Camera& cam, Entry& e, int32_t) {
            e.handle(initiator, cam.registry.number(initiator));
        });
}
