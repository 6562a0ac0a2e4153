#pragma once

#include "services/TestService.h"

// The device information service: the static information, the UDN and the
// friendly name, whose texts each command releases. Setting the friendly
// name writes the fixed name "FRIENDLY" rather than writing back, so it
// changes the camera's state, and repeating it leaves it the same.
class DeviceInformationTestService : public TestService {
public:
    DeviceInformationTestService(void* ipcHandle, void* logHandle);
    ~DeviceInformationTestService() override;

    bool getStaticInformation();
    bool getUdn();
    bool getFriendlyName();
    bool setFriendlyName();
};
