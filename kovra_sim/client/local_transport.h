// An IPC connection to the camera embedded in this process: requests are
// served on the calling thread, announcements delivered by the announcer.
#pragma once

#include "announcer.h"
#include "transport.h"

namespace kovra_sim {

class LocalTransport final : public Transport, private Listener {
public:
    LocalTransport(Camera& camera, Announcer& announcer);

    int32_t open_initiator(uint32_t, int, int32_t, int32_t, uint32_t, uint32_t) override {
        return 0;
    }
    int32_t close_initiator(uint32_t, int) override { return 0; }
    int32_t request(int function, uint32_t id, char const* target, Sent const* sent,
                    Staging& replies) override;
    int32_t subscribe(uint32_t, bool, bool) override { return 0; }
    int32_t unsubscribe(uint32_t, bool) override { return 0; }
    void close() override;

private:
    void announce(int service) override;

    Camera& camera_;
    Announcer& announcer_;
};

}  // namespace kovra_sim
