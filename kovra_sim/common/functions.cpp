#include "common/functions.h"

#include <array>

namespace kovra_sim {
namespace {

#define KSIM_STRINGIFY_(...) #__VA_ARGS__
#define KSIM_STRINGIFY(...) KSIM_STRINGIFY_(__VA_ARGS__)

constexpr char kInitParams[] =
    "(void* ipc, void* log, kovra_initiator** initiator, int32_t events, int32_t reserved)";
#define KSIM_SEND_PARAMS "(kovra_initiator* initiator, char const* target"

std::array<FunctionInfo, kFunctionCount> const kFunctions{{
#define KOVRA_FUNCTION(name, params) {#name, #params, Kind::core, -1},
// A service's deinit comes right after its init in the table (deinit_function relies on it).
#define KOVRA_SERVICE(svc, target)                                                       \
    {"kovra_api_" #svc "_initiator_init", kInitParams, Kind::initiator_init, svc_##svc}, \
        {"kovra_api_" #svc "_initiator_deinit", "(kovra_initiator* initiator)",          \
         Kind::initiator_deinit, svc_##svc},
#define KOVRA_ACTION(svc, op) \
    {"kovra_api_" #svc "_" #op "_send", KSIM_SEND_PARAMS ")", Kind::action, svc_##svc},
#define KOVRA_REQUEST(svc, op, ...)     \
    {"kovra_api_" #svc "_" #op "_send", \
     KSIM_SEND_PARAMS KSIM_STRINGIFY(KOVRA_PARAMS(__VA_ARGS__)) ")", Kind::request, svc_##svc},
#include <kovra/kovra_requests.def>
}};

std::array<ServiceInfo, kServiceCount> const kServices{{
#define KOVRA_SERVICE(svc, target) {#svc, target},
#include <kovra/kovra_requests.def>
}};

constexpr char const* kTargets[] = {
#define KOVRA_SERVICE(svc, target) #svc ":" target,
#include <kovra/kovra_requests.def>
};

// Whitespace inside a row is normalised by the preprocessor, so only a
// change of a row's content changes the fingerprint.
constexpr char kTableText[] =
#define KOVRA_FUNCTION(name, params) "F " #name " " #params "\n"
#define KOVRA_SERVICE(svc, target) "S " #svc " " target "\n"
#define KOVRA_ACTION(svc, op) "A " #svc " " #op "\n"
#define KOVRA_REQUEST(svc, op, ...) "R " #svc " " #op " " #__VA_ARGS__ "\n"
#include <kovra/kovra_requests.def>
    ;

constexpr int kInitFunctions[] = {
#define KOVRA_SERVICE(svc, target) fn_kovra_api_##svc##_initiator_init,
#include <kovra/kovra_requests.def>
};

template <class List, class Name>
int find(List const& list, std::string_view wanted, Name name) {
    for (size_t i = 0; i < list.size(); ++i) {
        if (wanted == name(list[i])) return int(i);
    }
    return -1;
}

}  // namespace

FunctionInfo const& function_info(int function) { return kFunctions[size_t(function)]; }

int function_id(std::string_view name) {
    return find(kFunctions, name, [](FunctionInfo const& f) { return f.name; });
}

ServiceInfo const& service_info(int service) { return kServices[size_t(service)]; }

int service_id(std::string_view word) {
    return find(kServices, word, [](ServiceInfo const& s) { return s.word; });
}

std::string_view target_name(int service) { return kTargets[size_t(service)]; }

int init_function(int service) { return kInitFunctions[service]; }

int deinit_function(int service) { return kInitFunctions[service] + 1; }

uint64_t table_fingerprint() {
    static constexpr uint64_t fingerprint = fnv1a({kTableText, sizeof kTableText - 1});
    return fingerprint;
}

}  // namespace kovra_sim
