#pragma once

#include "services/TestService.h"

// The broker service, addressed to the broker itself: it enables TCP and
// lists the service targets. Its initiator is separate from the tester's
// own broker initiator and receives no events.
class BrokerTestService : public TestService {
public:
    BrokerTestService(void* ipcHandle, void* logHandle);
    ~BrokerTestService() override;

    bool enableTcp();
    bool getTargets();
};
