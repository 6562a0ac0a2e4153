#ifndef IPC_SOAK_SERVICES_TEMPERATURE_TEST_SERVICE_H
#define IPC_SOAK_SERVICES_TEMPERATURE_TEST_SERVICE_H

#include "TestService.h"

// The temperature sensor service: one measurement read.
class TemperatureTestService : public TestService {
public:
    TemperatureTestService(void* ipcHandle, void* logHandle);
    ~TemperatureTestService() override;

    bool getTemperature();
};

#endif
