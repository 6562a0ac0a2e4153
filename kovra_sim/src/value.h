// One slot of a setting, and its text form: numbers in decimal, f64 as the
// shortest of %.15g/%.17g that reads back exactly (1.0 is "1"), texts as they
// are, lists of texts or bools joined by '|'.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kovra_sim {

struct Value {
    uint8_t type = 0;  // kovra_sim_type
    int64_t number = 0;
    double real = 0;
    std::string text;
    std::vector<std::string> texts;
    std::vector<uint8_t> bools;

    bool operator==(Value const& o) const {
        return type == o.type && number == o.number && real == o.real && text == o.text &&
               texts == o.texts && bools == o.bools;
    }
};

// A decimal integer within [low, high], nothing else around it.
bool parse_integer(std::string_view text, int64_t low, int64_t high, int64_t& out);

std::string format_f64(double v);
std::string format_value(Value const& v);
// Parses the text form of a value of `type`; on failure says why in `error`.
bool parse_value(uint8_t type, std::string_view text, Value& out, std::string& error);

}  // namespace kovra_sim
