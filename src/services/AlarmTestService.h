#pragma once

#include "services/TestService.h"

// The alarm service: the alarm configuration, read and written back, and the
// alarm state. The configuration is read as nine values but written as five.
class AlarmTestService : public TestService {
public:
    AlarmTestService(void* ipcHandle, void* logHandle);
    ~AlarmTestService() override;

    bool getConfiguration();
    bool setConfiguration();
    bool getState();
};
