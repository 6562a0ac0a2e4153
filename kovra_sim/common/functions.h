// What the stand-in knows about the client library's functions, expanded
// once from kovra_requests.def: a number and a descriptor per function,
// and one per service. The types of a request's arguments are known at
// compile time (args.h); these descriptors are what is needed at run time.
#pragma once

#include <kovra/kovra_api.h>

#include <cstdint>
#include <string_view>

namespace kovra_sim {

// One number per function, in the table's order.
enum FunctionId : int {
#define KOVRA_FUNCTION(name, params) fn_##name,
#define KOVRA_SERVICE(svc, target) \
    fn_kovra_api_##svc##_initiator_init, fn_kovra_api_##svc##_initiator_deinit,
#define KOVRA_ACTION(svc, op) fn_kovra_api_##svc##_##op##_send,
#define KOVRA_REQUEST(svc, op, ...) fn_kovra_api_##svc##_##op##_send,
#include <kovra/kovra_requests.def>
    kFunctionCount
};

enum ServiceId : int {
#define KOVRA_SERVICE(svc, target) svc_##svc,
#include <kovra/kovra_requests.def>
    kServiceCount
};

// The kinds of values the camera holds and a request carries.
enum class Type : uint8_t { u8, u32, i32, f64, text, texts, bools };

enum class Kind : uint8_t { core, initiator_init, initiator_deinit, action, request };

// The most arguments a request has after its initiator and target.
constexpr int kMaxArgs = 10;

struct FunctionInfo {
    char const* name;
    char const* params;  // the C parameter list in parentheses, as the preprocessor spells it
    Kind kind;
    int8_t service;  // -1 for the hand-written functions
};

struct ServiceInfo {
    char const* word;
    char const* target;
};

FunctionInfo const& function_info(int function);
// The number of the function with this C name, or -1.
int function_id(std::string_view name);
// Requests and actions: the functions that reach a service's target.
inline bool is_request(int function) {
    Kind const kind = function_info(function).kind;
    return kind == Kind::request || kind == Kind::action;
}

ServiceInfo const& service_info(int service);
// The number of the service with this word, or -1.
int service_id(std::string_view word);
// "WORD:TARGET", as announcements and the report name a service's target.
std::string_view target_name(int service);

// The numbers of a service's initiator init and deinit functions.
int init_function(int service);
int deinit_function(int service);

// A hash of the table's text: two builds agree on every function and
// argument exactly when their fingerprints are equal.
uint64_t table_fingerprint();

// 64-bit FNV-1a: a stable hash for fingerprints and deterministic defaults.
constexpr uint64_t fnv1a(std::string_view s) {
    uint64_t h = 1469598103934665603ull;
    for (char c : s) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ull;
    }
    return h;
}

}  // namespace kovra_sim
