// Cuts the bytes read from a connection into frames. The buffer starts at
// 4 KiB and grows only as far as the length prefix of the frame in progress
// says, never beyond the frame limit, so a huge or hostile prefix is refused
// before anything is allocated for it; once a large frame is gone the
// buffer shrinks back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kovra_sim::wire {

class FrameReader {
public:
    explicit FrameReader(uint32_t max_frame);

    // Where the next read goes, and how much fits.
    char* space() { return buffer_.data() + have_; }
    size_t room() const { return buffer_.size() - have_; }
    // Counts the bytes a read put at space().
    void received(size_t n) { have_ += n; }

    enum class Next { frame, more, too_large };
    // The next whole frame's payload, valid until received() or done();
    // `more` when the rest has not arrived, `too_large` (with the length
    // found) for a length of 0 or above the limit.
    Next next(char const*& payload, uint32_t& length);
    // After a batch of next(): keeps what is left of an unfinished frame.
    void done();
    // True while part of a frame is waiting for the rest.
    bool partial() const { return have_ > 0; }

private:
    uint32_t max_frame_;
    std::vector<char> buffer_;
    size_t have_ = 0;
    size_t at_ = 0;
};

}  // namespace kovra_sim::wire
