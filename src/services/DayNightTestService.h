#pragma once

#include "services/TestService.h"

// The day/night service: the manual-mode switch, the day-to-night transition
// level, the auto mode detect time and the IR filter positions. Each setting
// has a read and a write-back; the current filter position is only read.
class DayNightTestService : public TestService {
public:
    DayNightTestService(void* ipcHandle, void* logHandle);
    ~DayNightTestService() override;

    bool getManualModeEnable();
    bool setManualModeEnable();
    bool getAutoDayToNightTransitionLevel();
    bool setAutoDayToNightTransitionLevel();
    bool getAutoModeDetectTime();
    bool setAutoModeDetectTime();
    bool getManualFilterPosition();
    bool setManualFilterPosition();
    bool getCurrentFilterPosition();
};
