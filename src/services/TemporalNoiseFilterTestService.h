#pragma once

#include "services/TestService.h"

// The temporal noise filter service: its enable flag, read and written back.
class TemporalNoiseFilterTestService : public TestService {
public:
    TemporalNoiseFilterTestService(void* ipcHandle, void* logHandle);
    ~TemporalNoiseFilterTestService() override;

    bool getEnable();
    bool setEnable();
};
