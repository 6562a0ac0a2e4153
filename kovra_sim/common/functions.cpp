#include "functions.h"

#include <array>

namespace kovra_sim {
namespace {

#define KSIM_STRINGIFY_(...) #__VA_ARGS__
#define KSIM_STRINGIFY(...) KSIM_STRINGIFY_(__VA_ARGS__)

#define KSIM_ARG(i, item) KOVRA_CAT(KSIM_ARG_, item),
#define KSIM_ARG_IN(t) \
    Arg { Direction::in, Type::t, 0 }
#define KSIM_ARG_KEY(t) \
    Arg { Direction::key, Type::t, 0 }
#define KSIM_ARG_SET(t, slot) \
    Arg { Direction::set, Type::t, slot }
#define KSIM_ARG_GET(t, slot) \
    Arg { Direction::get, Type::t, slot }
#define KSIM_IS_GET(i, item) +KOVRA_CAT(KSIM_IS_GET_, item)
#define KSIM_IS_GET_IN(t) 0
#define KSIM_IS_GET_KEY(t) 0
#define KSIM_IS_GET_SET(t, slot) 0
#define KSIM_IS_GET_GET(t, slot) 1

constexpr char kInitParams[] =
    "(void* ipc, void* log, kovra_initiator** initiator, int32_t events, int32_t reserved)";
constexpr char kSendParams[] = "(kovra_initiator* initiator, char const* target)";

std::array<FunctionInfo, kFunctionCount> const kFunctions{{
#define KOVRA_FUNCTION(name, params) {#name, #params, Kind::core, -1, nullptr, 0, 0, {}},
#define KOVRA_SERVICE(svc, target)              \
    {"kovra_api_" #svc "_initiator_init",       \
     kInitParams,                               \
     Kind::initiator_init,                      \
     svc_##svc,                                 \
     nullptr,                                   \
     0,                                         \
     0,                                         \
     {}},                                       \
        {"kovra_api_" #svc "_initiator_deinit", \
         "(kovra_initiator* initiator)",        \
         Kind::initiator_deinit,                \
         svc_##svc,                             \
         nullptr,                               \
         0,                                     \
         0,                                     \
         {}},
#define KOVRA_ACTION(svc, op) \
    {"kovra_api_" #svc "_" #op "_send", kSendParams, Kind::action, svc_##svc, nullptr, 0, 0, {}},
#define KOVRA_REQUEST(svc, op, setting, ...)                           \
    {"kovra_api_" #svc "_" #op "_send",                                \
     "(kovra_initiator* initiator, char const* target" KSIM_STRINGIFY( \
         KOVRA_PARAMS(__VA_ARGS__)) ")",                               \
     Kind::request,                                                    \
     svc_##svc,                                                        \
     #setting,                                                         \
     KOVRA_NARGS(__VA_ARGS__),                                         \
     0 KOVRA_EACH(KSIM_IS_GET, __VA_ARGS__),                           \
     {KOVRA_EACH(KSIM_ARG, __VA_ARGS__)}},
#include <kovra/kovra_requests.def>
}};

std::array<ServiceInfo, kServiceCount> const kServices{{
#define KOVRA_SERVICE(svc, target) {#svc, target},
#include <kovra/kovra_requests.def>
}};

// Whitespace inside a row is normalised by the preprocessor, so only a
// change of a row's content changes the fingerprint.
constexpr char kTableText[] =
#define KOVRA_FUNCTION(name, params) "F " #name " " #params "\n"
#define KOVRA_SERVICE(svc, target) "S " #svc " " target "\n"
#define KOVRA_ACTION(svc, op) "A " #svc " " #op "\n"
#define KOVRA_REQUEST(svc, op, setting, ...) "R " #svc " " #op " " #setting " " #__VA_ARGS__ "\n"
#include <kovra/kovra_requests.def>
    ;

constexpr int kInitFunctions[] = {
#define KOVRA_SERVICE(svc, target) fn_kovra_api_##svc##_initiator_init,
#include <kovra/kovra_requests.def>
};

}  // namespace

int init_function(int service) { return kInitFunctions[service]; }

int deinit_function(int service) { return kInitFunctions[service] + 1; }

FunctionInfo const& function(int id) { return kFunctions[static_cast<size_t>(id)]; }

int function_id(std::string_view name) {
    for (size_t i = 0; i < kFunctions.size(); ++i) {
        if (name == kFunctions[i].name) return int(i);
    }
    return -1;
}

ServiceInfo const& service(int id) { return kServices[static_cast<size_t>(id)]; }

int service_id(std::string_view word) {
    for (size_t i = 0; i < kServices.size(); ++i) {
        if (word == kServices[i].word) return int(i);
    }
    return -1;
}

uint64_t table_fingerprint() {
    static constexpr uint64_t fingerprint = fnv1a({kTableText, sizeof kTableText - 1});
    return fingerprint;
}

}  // namespace kovra_sim
