#ifndef IPC_SOAK_SERVICES_TEMPORAL_NOISE_FILTER_TEST_SERVICE_H
#define IPC_SOAK_SERVICES_TEMPORAL_NOISE_FILTER_TEST_SERVICE_H

#include "TestService.h"

// The temporal noise filter service: its enable flag, read and written back.
class TemporalNoiseFilterTestService : public TestService {
public:
    TemporalNoiseFilterTestService(void* ipcHandle, void* logHandle);
    ~TemporalNoiseFilterTestService() override;

    bool getEnable();
    bool setEnable();
};

#endif
