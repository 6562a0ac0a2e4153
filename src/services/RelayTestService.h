#pragma once

#include "services/TestService.h"

// The relay service: the relay configuration and state, each read and
// written back. "trigger" makes no request and always passes.
class RelayTestService : public TestService {
public:
    RelayTestService(void* ipcHandle, void* logHandle);
    ~RelayTestService() override;

    bool getConfiguration();
    bool setConfiguration();
    bool getState();
    bool setState();
    bool trigger();
};
