#include "value.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "bridge.h"

namespace kovra_sim {
namespace {

std::vector<std::string_view> split(std::string_view s, char sep) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (size_t i = 0; i <= s.size(); ++i) {
        if (i == s.size() || s[i] == sep) {
            parts.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

}  // namespace

bool parse_integer(std::string_view text, int64_t low, int64_t high, int64_t& out) {
    std::string s(text);
    if (s.empty() || s.find_first_not_of("-0123456789") != std::string::npos) return false;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high) return false;
    out = v;
    return true;
}

std::string format_f64(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    if (std::strtod(buf, nullptr) != v) std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

std::string format_value(Value const& v) {
    std::string out;
    switch (v.type) {
        case KOVRA_SIM_f64:
            return format_f64(v.real);
        case KOVRA_SIM_text:
            return v.text;
        case KOVRA_SIM_texts:
            for (size_t i = 0; i < v.texts.size(); ++i) out += (i ? "|" : "") + v.texts[i];
            return out;
        case KOVRA_SIM_bools:
            for (size_t i = 0; i < v.bools.size(); ++i)
                out += (i ? "|" : "") + std::to_string(v.bools[i]);
            return out;
        default:
            return std::to_string(v.number);
    }
}

bool parse_value(uint8_t type, std::string_view text, Value& out, std::string& error) {
    Value v;
    v.type = type;
    bool ok = true;
    switch (type) {
        case KOVRA_SIM_u8:
            ok = parse_integer(text, 0, 255, v.number);
            break;
        case KOVRA_SIM_u32:
            ok = parse_integer(text, 0, std::numeric_limits<uint32_t>::max(), v.number);
            break;
        case KOVRA_SIM_i32:
            ok = parse_integer(text, std::numeric_limits<int32_t>::min(),
                               std::numeric_limits<int32_t>::max(), v.number);
            break;
        case KOVRA_SIM_f64: {
            std::string s(text);
            char* end = nullptr;
            v.real = std::strtod(s.c_str(), &end);
            ok = !s.empty() && *end == '\0';
            break;
        }
        case KOVRA_SIM_text:
            v.text = std::string(text);
            break;
        case KOVRA_SIM_texts:
            if (!text.empty()) {
                for (std::string_view item : split(text, '|')) v.texts.emplace_back(item);
            }
            break;
        case KOVRA_SIM_bools:
            if (!text.empty()) {
                for (std::string_view item : split(text, '|')) {
                    if (item != "0" && item != "1") ok = false;
                    v.bools.push_back(item == "1");
                }
            }
            break;
    }
    if (!ok) {
        static char const* const names[] = {"u8", "u32", "i32", "f64", "text", "texts", "bools"};
        error = "\"" + std::string(text) + "\" is not a " + names[type] + " value";
        return false;
    }
    out = std::move(v);
    return true;
}

}  // namespace kovra_sim
