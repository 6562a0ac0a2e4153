#pragma once

#include "services/TestService.h"

// The exposure service: the manual-mode switch, the frame rate, the limits of
// automatic exposure time and gain, and the manual exposure time and gain.
// Each setting has a read and a write-back of the first value read.
class ExposureTestService : public TestService {
public:
    ExposureTestService(void* ipcHandle, void* logHandle);
    ~ExposureTestService() override;

    bool getManualModeEnable();
    bool setManualModeEnable();
    bool getFrameRate();
    bool setFrameRate();
    bool getAutoMinExposureTime();
    bool setAutoMinExposureTime();
    bool getAutoMaxExposureTime();
    bool setAutoMaxExposureTime();
    bool getAutoMinGain();
    bool setAutoMinGain();
    bool getAutoMaxGain();
    bool setAutoMaxGain();
    bool getManualExposureTime();
    bool setManualExposureTime();
    bool getManualGain();
    bool setManualGain();
};
