#include "local_transport.h"

#include <chrono>
#include <thread>

#include "kovra_sim/control.h"

namespace kovra_sim {

LocalTransport::LocalTransport(Camera& camera, Announcer& announcer)
    : camera_(camera), announcer_(announcer) {
    camera_.listen(this);
}

int32_t LocalTransport::request(int function, uint32_t, char const* target, Sent const* sent,
                                Staging& replies) {
    if (uint32_t const us = camera_.latency_us())
        std::this_thread::sleep_for(std::chrono::microseconds(us));
    int32_t const status = camera_.serve(function, target, sent, replies);
    if (status == KOVRA_SIM_STATUS_OK) camera_.served();
    return status;
}

void LocalTransport::close() { camera_.unlisten(this); }

void LocalTransport::announce(int service) { announcer_.deliver(subscriptions, service); }

}  // namespace kovra_sim
