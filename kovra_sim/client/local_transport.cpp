#include "local_transport.h"

#include <chrono>
#include <thread>

namespace kovra_sim {

LocalTransport::LocalTransport(Camera& camera, Announcer& announcer)
    : camera_(camera), announcer_(announcer) {
    camera_.listen(this);
}

int32_t LocalTransport::request(int function, uint32_t, char const* target, Sent const* sent,
                                Staging& replies) {
    if (uint32_t const us = camera_.latency_us())
        std::this_thread::sleep_for(std::chrono::microseconds(us));
    return camera_.serve(function, target, sent, replies);
}

void LocalTransport::close() { camera_.unlisten(this); }

void LocalTransport::announce(int service) { announcer_.deliver(subscriptions, service); }

}  // namespace kovra_sim
