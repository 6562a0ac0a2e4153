#pragma once

#include "services/TestService.h"

// The temperature sensor service: one measurement read.
class TemperatureTestService : public TestService {
public:
    TemperatureTestService(void* ipcHandle, void* logHandle);
    ~TemperatureTestService() override;

    bool getTemperature();
};
