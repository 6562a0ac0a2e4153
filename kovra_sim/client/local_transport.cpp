#include "client/local_transport.h"

#include <chrono>
#include <thread>

namespace kovra_sim {

LocalTransport::LocalTransport(Camera& camera, Announcer& announcer)
    : camera_(camera), announcer_(announcer) {
    camera_.listen(this);
}

int32_t LocalTransport::request(int function, uint32_t, char const* target, Call& call) {
    Camera::Served const served = camera_.serve(function, target, call);
    if (served.delay.count()) std::this_thread::sleep_for(served.delay);
    return served.status;
}

void LocalTransport::close() { camera_.unlisten(this); }

void LocalTransport::announce(int service) { announcer_.deliver(subscriptions, service); }

}  // namespace kovra_sim
