#include "wire/frame_reader.h"

#include <cstring>

#include "wire/protocol.h"

namespace kovra_sim::wire {
namespace {

// Small, so that thousands of idle connections cost little; shrunk only
// above kKeep, so that frames of a few KiB in a row do not resize it.
constexpr size_t kFirst = 4 * 1024;
constexpr size_t kKeep = 64 * 1024;

}  // namespace

FrameReader::FrameReader(uint32_t max_frame) : max_frame_(max_frame), buffer_(kFirst) {}

FrameReader::Next FrameReader::next(char const*& payload, uint32_t& length) {
    if (have_ - at_ < kPrefix) return Next::more;
    length = frame_length(buffer_.data() + at_);
    if (length == 0 || length > max_frame_) return Next::too_large;
    if (have_ - at_ < kPrefix + length) return Next::more;
    payload = buffer_.data() + at_ + kPrefix;
    at_ += kPrefix + length;
    return Next::frame;
}

void FrameReader::done() {
    if (at_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + at_, have_ - at_);
        have_ -= at_;
        at_ = 0;
    }
    size_t const needed = have_ >= kPrefix ? kPrefix + frame_length(buffer_.data()) : 0;
    if (needed > buffer_.size() && needed <= kPrefix + size_t(max_frame_)) {
        buffer_.resize(needed);
    } else if (needed <= kFirst && have_ <= kFirst && buffer_.size() > kKeep) {
        std::vector<char> smaller(kFirst);
        std::memcpy(smaller.data(), buffer_.data(), have_);
        buffer_.swap(smaller);
    }
}

}  // namespace kovra_sim::wire
