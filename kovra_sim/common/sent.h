// A value sent with a request, as the camera reads it: whichever of the
// fields its argument's type uses. A text views memory the sender owns.
#pragma once

#include <cstdint>
#include <string_view>

namespace kovra_sim {

struct Sent {
    int64_t number = 0;
    double real = 0;
    std::string_view text;
};

}  // namespace kovra_sim
