// What the stand-in knows about the client library, expanded once from
// kovra_requests.def: one descriptor per function, indexed by function id,
// and one per service. Both ends of the wire, the journal and the tools read
// these; nothing else spells a function out.
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
#define KOVRA_REQUEST(svc, op, setting, ...) fn_kovra_api_##svc##_##op##_send,
#include <kovra/kovra_requests.def>
    kFunctionCount
};

enum ServiceId : int {
#define KOVRA_SERVICE(svc, target) svc_##svc,
#include <kovra/kovra_requests.def>
    kServiceCount
};

enum class Direction : uint8_t { in, key, set, get };
enum class Type : uint8_t { u8, u32, i32, f64, text, texts, bools };

// One argument of a request row, after the initiator and the target.
struct Arg {
    Direction direction;
    Type type;
    uint8_t slot;
};

enum class Kind : uint8_t { core, initiator_init, initiator_deinit, action, request };

constexpr int kMaxArgs = 10;

struct FunctionInfo {
    char const* name;
    char const* params;  // the C parameter list in parentheses, as the preprocessor spells it
    Kind kind;
    int8_t service;       // -1 for the hand-written functions
    char const* setting;  // requests: the setting's name, "none" if they store nothing
    uint8_t argc;
    uint8_t gets;  // how many of the arguments are out-parameters
    Arg args[kMaxArgs];
};

struct ServiceInfo {
    char const* word;
    char const* target;
};

FunctionInfo const& function(int id);
// The id of the function with this C name, or -1.
int function_id(std::string_view name);

ServiceInfo const& service(int id);
// The id of the service with this word, or -1.
int service_id(std::string_view word);

// The ids of a service's initiator init and deinit functions.
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
