#ifndef IPC_SOAK_SERVICES_PRESSURE_TEST_SERVICE_H
#define IPC_SOAK_SERVICES_PRESSURE_TEST_SERVICE_H

#include "TestService.h"

// The pressure sensor service: one measurement read. The tester does not
// enrol it.
class PressureTestService : public TestService {
public:
    PressureTestService(void* ipcHandle, void* logHandle);
    ~PressureTestService() override;

    bool getPressure();
};

#endif
