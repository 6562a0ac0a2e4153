#pragma once

#include "services/TestService.h"

// The flicker correction service: its mode and its frequency hint, each read
// and written back.
class FlickerCorrectionTestService : public TestService {
public:
    FlickerCorrectionTestService(void* ipcHandle, void* logHandle);
    ~FlickerCorrectionTestService() override;

    bool getMode();
    bool setMode();
    bool getFrequencyHint();
    bool setFrequencyHint();
};
