#include "common/value.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace kovra_sim {

bool parse_integer(std::string_view text, int64_t low, int64_t high, int64_t& out) {
    int64_t v = 0;
    char const* const end = text.data() + text.size();
    auto const [at, ec] = std::from_chars(text.data(), end, v);
    if (ec != std::errc() || at != end || v < low || v > high) return false;
    out = v;
    return true;
}

std::string format_f64(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    if (std::strtod(buf, nullptr) != v) std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

std::string escape(std::string_view s, std::string_view also) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if (c == '\\' || c == '\n' || c == '\t' || also.find(c) != std::string_view::npos)
            out += '\\';
        out += c == '\n' ? 'n' : c == '\t' ? 't' : c;
    }
    return out;
}

bool unescape(std::string_view s, std::string& out) {
    out.clear();
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\') {
            out += s[i];
            continue;
        }
        // \n, \t, or a character that stands for itself.
        static constexpr std::string_view kFrom = "nt\\,|\"", kTo = "\n\t\\,|\"";
        size_t const k = ++i < s.size() ? kFrom.find(s[i]) : std::string_view::npos;
        if (k == std::string_view::npos) return false;
        out += kTo[k];
    }
    return true;
}

std::string quote(char const* s) { return s ? "\"" + escape(s, "\"") + "\"" : "null"; }

std::vector<std::string_view> split_unescaped(std::string_view s, char sep) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (size_t i = 0; i <= s.size(); ++i) {
        if (i < s.size() && s[i] == '\\') {
            ++i;
        } else if (i == s.size() || s[i] == sep) {
            parts.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

std::string format_value(Value const& v) {
    std::string out;
    switch (v.type) {
        case Type::f64:
            return format_f64(v.real);
        case Type::text:
            return escape(v.text, ",|");
        case Type::texts:
            for (size_t i = 0; i < v.texts.size(); ++i)
                out += (i ? "|" : "") + escape(v.texts[i], ",|");
            return out;
        case Type::bools:
            for (size_t i = 0; i < v.bools.size(); ++i)
                out += (i ? "|" : "") + std::to_string(v.bools[i]);
            return out;
        default:
            return std::to_string(v.number);
    }
}

std::string format_values(std::vector<Value> const& values) {
    std::string out;
    for (size_t i = 0; i < values.size(); ++i) out += (i ? "," : "") + format_value(values[i]);
    return out;
}

bool parse_value(Type type, std::string_view text, Value& out, std::string& error) {
    Value v;
    v.type = type;
    bool ok = true;
    std::string item;
    switch (type) {
        case Type::u8:
            ok = parse_integer(text, 0, 255, v.number);
            break;
        case Type::u32:
            ok = parse_integer(text, 0, std::numeric_limits<uint32_t>::max(), v.number);
            break;
        case Type::i32:
            ok = parse_integer(text, std::numeric_limits<int32_t>::min(),
                               std::numeric_limits<int32_t>::max(), v.number);
            break;
        case Type::f64: {
            std::string s(text);
            char* end = nullptr;
            v.real = std::strtod(s.c_str(), &end);
            ok = !s.empty() && *end == '\0';
            break;
        }
        case Type::text:
            ok = unescape(text, v.text);
            break;
        case Type::texts:
            if (text.empty()) break;
            for (std::string_view part : split_unescaped(text, '|')) {
                ok = ok && unescape(part, item);
                v.texts.push_back(item);
            }
            break;
        case Type::bools:
            if (text.empty()) break;
            for (std::string_view part : split_unescaped(text, '|')) {
                ok = ok && (part == "0" || part == "1");
                v.bools.push_back(part == "1");
            }
            break;
    }
    if (!ok) {
        static char const* const names[] = {"u8", "u32", "i32", "f64", "text", "texts", "bools"};
        error = "\"" + std::string(text) + "\" is not a " + names[int(type)] + " value";
        return false;
    }
    out = std::move(v);
    return true;
}

}  // namespace kovra_sim
