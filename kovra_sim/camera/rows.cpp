#include "camera/rows.h"

#include <array>
#include <initializer_list>

#include "common/args.h"

namespace kovra_sim {
namespace {

#define ARG \
    ArgRole { Role::arg, 0 }
#define KEY \
    ArgRole { Role::key, 0 }
#define SET(slot) \
    ArgRole { Role::set, slot }
#define GET(slot) \
    ArgRole { Role::get, slot }

template <class... A>
constexpr bool fits(Types<A...>, std::initializer_list<ArgRole> roles) {
    bool const outs[] = {is_out<A>..., false};
    if (roles.size() != sizeof...(A)) return false;
    size_t i = 0;
    for (ArgRole const r : roles) {
        if ((r.role == Role::get) != outs[i++]) return false;
    }
    return true;
}

#define KOVRA_CAMERA(svc, op, setting, ...)                                                        \
    static_assert(                                                                                 \
        fits(detail::AfterTarget<decltype(kovra_api_##svc##_##op##_send)>::type{}, {__VA_ARGS__}), \
        "camera.def: the roles of " #svc " " #op " do not fit its arguments");
#include "camera/camera.def"

std::array<CameraRow, kFunctionCount> const kRows = [] {
    std::array<CameraRow, kFunctionCount> rows{};
#define KOVRA_CAMERA(svc, op, setting, ...) \
    rows[fn_kovra_api_##svc##_##op##_send] = CameraRow{#setting, {__VA_ARGS__}};
#include "camera/camera.def"
    return rows;
}();

}  // namespace

CameraRow const& camera_row(int function) { return kRows[size_t(function)]; }

}  // namespace kovra_sim
