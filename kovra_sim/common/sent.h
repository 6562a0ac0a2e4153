// A value sent with a request, as the camera reads it: whichever of the
// fields its argument's type uses. A text views memory the sender owns. An
// array of these is made on every request and filled only where it is
// used, so the type has no initialisers of its own.
#pragma once

#include <cstdint>
#include <string_view>

namespace kovra_sim {

struct Sent {
    int64_t number;
    double real;
    char const* text_data;
    size_t text_size;

    std::string_view text() const { return {text_data, text_size}; }
    void set_text(std::string_view t) {
        text_data = t.data();
        text_size = t.size();
    }
};

}  // namespace kovra_sim
