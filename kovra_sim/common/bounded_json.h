// JSON (and msgpack) from files anyone may have written, read without
// recursion. nlohmann's own parsers keep their nesting on the heap, but what
// they build is copied and compared recursively, so a value nested a
// million deep crashes whoever touches it: here it is refused at the
// bracket past the limit, before anything below it is read.
#pragma once

#include <cstddef>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>

namespace kovra_sim {

// Far deeper than anything written here nests (a statistics file: 5; a
// timeline line: 2, its figures 3), far shallower than a stack runs out.
constexpr size_t kMaxJsonDepth = 64;

// The one value `text` holds. Throws std::runtime_error "WHAT: why" (just
// "why" for an empty `what`) if it is not valid JSON, saying "cut short" if
// it ends within its value, or if it nests more than `max_depth` deep.
nlohmann::json parse_bounded(std::string_view text, std::string const& what,
                             size_t max_depth = kMaxJsonDepth);

// The same for msgpack bytes.
nlohmann::json parse_bounded_msgpack(std::string_view bytes, std::string const& what,
                                     size_t max_depth = kMaxJsonDepth);

}  // namespace kovra_sim
