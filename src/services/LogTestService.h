#pragma once

#include "services/TestService.h"

// The log service: the list of log tags, and the settings of the tag
// "KOVRA_IPC" as texts and as numbers. Setting them writes the fixed
// settings "err", "notset", "notset" rather than writing back.
class LogTestService : public TestService {
public:
    LogTestService(void* ipcHandle, void* logHandle);
    ~LogTestService() override;

    bool getTags();
    bool getSettings();
    bool getSettingsCore();
    bool setSettings();
};
