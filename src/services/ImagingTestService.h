#pragma once

#include "services/TestService.h"

// The imaging service: contrast, sharpness, brightness and saturation. Each
// setting has a read and a write-back of the first value read.
class ImagingTestService : public TestService {
public:
    ImagingTestService(void* ipcHandle, void* logHandle);
    ~ImagingTestService() override;

    bool getContrast();
    bool setContrast();
    bool getSharpness();
    bool setSharpness();
    bool getBrightness();
    bool setBrightness();
    bool getSaturation();
    bool setSaturation();
};
