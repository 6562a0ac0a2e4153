#pragma once

#include "services/TestService.h"

// The basic white balance service: the white balance mode and the manual red
// and blue bias, each read and written back (the first value read, for the
// biases).
class WhiteBalanceBasicTestService : public TestService {
public:
    WhiteBalanceBasicTestService(void* ipcHandle, void* logHandle);
    ~WhiteBalanceBasicTestService() override;

    bool getMode();
    bool setMode();
    bool getManualRedBias();
    bool setManualRedBias();
    bool getManualBlueBias();
    bool setManualBlueBias();
};
