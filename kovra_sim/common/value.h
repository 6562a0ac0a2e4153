// Values of the simulated camera's settings and their text form, the one
// used by KOVRA_SIM's set=, the setting controls, the state file and the
// journal: numbers in decimal, an f64 as the shortest of %.15g and %.17g that
// reads back exactly (1.0 is "1"), texts as they are with \\ \n \t \, \|
// escaped, lists of texts or bools joined by '|'.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/functions.h"

namespace kovra_sim {

struct Value {
    Type type = Type::u32;
    int64_t number = 0;  // u8, u32, i32
    double real = 0;
    std::string text;
    std::vector<std::string> texts;
    std::vector<uint8_t> bools;

    bool operator==(Value const& o) const {
        return type == o.type && number == o.number && real == o.real && text == o.text &&
               texts == o.texts && bools == o.bools;
    }
    bool operator!=(Value const& o) const { return !(*this == o); }
};

// A decimal integer within [low, high], nothing else around it.
bool parse_integer(std::string_view text, int64_t low, int64_t high, int64_t& out);

std::string format_f64(double v);

// Backslash escapes for '\\', newline and tab, and for every character of
// `also`; unescape() reverses it and fails on a dangling or unknown escape.
std::string escape(std::string_view s, std::string_view also = "");
bool unescape(std::string_view s, std::string& out);
// A text as the journal shows it: quoted, with '"' escaped too; "null" for NULL.
std::string quote(char const* s);

// Splits at every `sep` that is not escaped.
std::vector<std::string_view> split_unescaped(std::string_view s, char sep);

std::string format_value(Value const& v);
// The comma-separated text form of a setting's values.
std::string format_values(std::vector<Value> const& values);
// Parses the text form of one value of `type`; on failure says why in `error`.
bool parse_value(Type type, std::string_view text, Value& out, std::string& error);

}  // namespace kovra_sim
