#include "services/AlarmTestService.h"

AlarmTestService::AlarmTestService(void* ipcHandle, void* logHandle)
    : TestService(ipcHandle, logHandle, "0") {
    KOVRA_COMMAND(AlarmTestService, getConfiguration);
    KOVRA_COMMAND(AlarmTestService, setConfiguration);
    KOVRA_COMMAND(AlarmTestService, getState);
    KOVRA_OPEN_INITIATOR(alarm);
}

AlarmTestService::~AlarmTestService() { kovra_api_alarm_initiator_deinit(initiator()); }

bool AlarmTestService::getConfiguration() { return get(kovra_api_alarm_get_configuration_send); }
bool AlarmTestService::setConfiguration() {
    uint8_t a1 = 0, a2 = 0, a3 = 0;
    uint32_t b1 = 0, b2 = 0, b3 = 0, b4 = 0, b5 = 0, b6 = 0;
    if (kovra_api_alarm_get_configuration_send(initiator(), target(), &a1, &a2, &a3, &b1, &b2, &b3,
                                               &b4, &b5, &b6) != 0) {
        return false;
    }
    // The write takes the three u8 values and only the first and fourth of the
    // six 32-bit values.
    return kovra_api_alarm_set_configuration_send(initiator(), target(), a1, a2, a3, b1, b4) == 0;
}
bool AlarmTestService::getState() { return get(kovra_api_alarm_get_state_send); }
