#include "common/bounded_json.h"

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <vector>

namespace kovra_sim {
namespace {

using json = nlohmann::json;

// Builds the value as the parser reads it, as nlohmann's own builder does
// (each open container a pointer on a stack of our own), but stops the
// parser at the first container past the depth.
class Builder final : public nlohmann::json_sax<json> {
public:
    Builder(size_t max_depth, size_t size, char const* format)
        : max_depth_(max_depth), size_(size), format_(format) {}

    bool null() override { return put(nullptr); }
    bool boolean(bool v) override { return put(v); }
    bool number_integer(number_integer_t v) override { return put(v); }
    bool number_unsigned(number_unsigned_t v) override { return put(v); }
    bool number_float(number_float_t v, string_t const&) override { return put(v); }
    bool string(string_t& v) override { return put(std::move(v)); }
    bool binary(binary_t& v) override { return put(json::binary(std::move(v))); }
    bool start_object(size_t) override { return open(json::object()); }
    bool start_array(size_t) override { return open(json::array()); }
    bool key(string_t& k) override {
        // A key named twice keeps its last value, as json::parse does.
        slot_ = &(*open_.back())[std::move(k)];
        return true;
    }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }
    bool parse_error(size_t at, std::string const&, json::exception const&) override {
        // Past the last byte: the parser wanted more than there was.
        why_ = at > size_
                   ? std::string("cut short: not valid ") + format_ + " (it ends within a value)"
                   : std::string("not valid ") + format_ + " near byte " + std::to_string(at);
        return false;
    }

    json take() { return std::move(root_); }
    std::string const& why() const { return why_; }

private:
    json* put(json&& v) {
        if (open_.empty()) {
            root_ = std::move(v);
            return &root_;
        }
        json& into = *open_.back();
        if (!into.is_array()) return &(*slot_ = std::move(v));
        into.push_back(std::move(v));
        return &into.back();
    }
    bool open(json&& container) {
        if (open_.size() >= max_depth_) {
            why_ = "nested deeper than " + std::to_string(max_depth_) + " levels";
            return false;
        }
        // The pointers stay good: values go only into the innermost open
        // container, so no open container's own place in its parent moves.
        open_.push_back(put(std::move(container)));
        return true;
    }
    bool close() {
        open_.pop_back();
        return true;
    }

    size_t const max_depth_;
    size_t const size_;
    char const* const format_;
    json root_;
    std::vector<json*> open_;
    json* slot_ = nullptr;  // the member the next value of an object goes to
    std::string why_;
};

json parse(std::string_view text, std::string const& what, size_t max_depth,
           nlohmann::json::input_format_t format) {
    char const* const name = format == json::input_format_t::json ? "JSON" : "msgpack";
    Builder builder(max_depth, text.size(), name);
    if (!json::sax_parse(text, &builder, format, true)) {
        throw std::runtime_error(what.empty() ? builder.why() : what + ": " + builder.why());
    }
    return builder.take();
}

}  // namespace

json parse_bounded(std::string_view text, std::string const& what, size_t max_depth) {
    return parse(text, what, max_depth, json::input_format_t::json);
}

json parse_bounded_msgpack(std::string_view bytes, std::string const& what, size_t max_depth) {
    return parse(bytes, what, max_depth, json::input_format_t::msgpack);
}

}  // namespace kovra_sim
