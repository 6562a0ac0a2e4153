// How long the client waits before each attempt to reach a camera again:
// 50 ms after the connection is lost, then twice as long each time the
// camera is still away, never more than 2 s, so a camera back after a
// reboot of any length is found within 2 s.
#pragma once

#include <algorithm>
#include <chrono>

namespace kovra_sim {

class Backoff {
public:
    static constexpr std::chrono::milliseconds kFirst{50};
    static constexpr std::chrono::milliseconds kLast{2000};

    // The pause before the next attempt.
    std::chrono::milliseconds next() {
        pause_ = pause_.count() == 0 ? kFirst : std::min(pause_ * 2, kLast);
        return pause_;
    }
    // The camera is back: the next loss starts from kFirst again.
    void reset() { pause_ = std::chrono::milliseconds(0); }

private:
    std::chrono::milliseconds pause_{0};
};

}  // namespace kovra_sim
