#pragma once

#include "services/TestService.h"

// The pressure sensor service: one measurement read. The tester does not
// enrol it.
class PressureTestService : public TestService {
public:
    PressureTestService(void* ipcHandle, void* logHandle);
    ~PressureTestService() override;

    bool getPressure();
};
