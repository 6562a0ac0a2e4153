// The camera's part of each request row (camera.def): the setting the
// request touches and the role of each of its arguments. Checked at compile
// time against the request's C declaration: one role per argument, GET
// only on an out-parameter and the other roles only on a value sent.
#pragma once

#include <cstdint>

#include "common/functions.h"

namespace kovra_sim {

enum class Role : uint8_t { arg, key, set, get };

struct ArgRole {
    Role role;
    uint8_t slot;  // SET and GET
};

struct CameraRow {
    char const* setting;  // null: the request touches no setting
    ArgRole args[kMaxArgs];
};

CameraRow const& camera_row(int function);

}  // namespace kovra_sim
