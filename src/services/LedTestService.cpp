#include "services/LedTestService.h"

LedTestService::LedTestService(void* ipcHandle, void* logHandle)
    : TestService(ipcHandle, logHandle, "led") {
    KOVRA_COMMAND(LedTestService, getState);
    KOVRA_COMMAND(LedTestService, setState);
    KOVRA_OPEN_INITIATOR(led);
}

LedTestService::~LedTestService() { kovra_api_led_initiator_deinit(initiator()); }

bool LedTestService::getState() { return get(kovra_api_led_get_state_send); }
bool LedTestService::setState() {
    return writeBack(kovra_api_led_get_state_send, kovra_api_led_set_state_send);
}
