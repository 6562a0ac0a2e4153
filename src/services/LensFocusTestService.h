#pragma once

#include "services/TestService.h"

// The lens focus service: the manual-mode switch, an auto-focus run, the
// current focus position and the manual focus position. The auto-focus is
// the one command here that makes the camera act.
class LensFocusTestService : public TestService {
public:
    LensFocusTestService(void* ipcHandle, void* logHandle);
    ~LensFocusTestService() override;

    bool getManualModeEnable();
    bool setManualModeEnable();
    bool doAutoFocus();
    bool getCurrentFocusPosition();
    bool getManualFocusPosition();
    bool setManualFocusPosition();
};
