// An IPC connection to the camera embedded in this process: requests are
// served on the calling thread, announcements delivered by the announcer.
#pragma once

#include "camera/camera.h"
#include "client/announcer.h"
#include "client/transport.h"

namespace kovra_sim {

class LocalTransport final : public Transport, private Listener {
public:
    LocalTransport(Camera& camera, Announcer& announcer);

    // The library checked what the camera would.
    int32_t open_initiator(uint32_t, int, bool) override { return 0; }
    int32_t close_initiator(uint32_t, int) override { return 0; }
    int32_t subscribe(uint32_t, bool) override { return 0; }
    int32_t unsubscribe(uint32_t) override { return 0; }
    // Served on the calling thread, which then waits out the camera's latency.
    int32_t request(int function, uint32_t handle, char const* target, Call& call) override;
    void close() override;

private:
    void announce(int service) override;

    Camera& camera_;
    Announcer& announcer_;
};

}  // namespace kovra_sim
