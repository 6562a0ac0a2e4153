#pragma once

#include "services/TestService.h"

// The LED service, addressed to the target "led": the LED's state, read and
// written back.
class LedTestService : public TestService {
public:
    LedTestService(void* ipcHandle, void* logHandle);
    ~LedTestService() override;

    bool getState();
    bool setState();
};
