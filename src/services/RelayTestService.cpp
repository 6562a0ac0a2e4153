#include "services/RelayTestService.h"

RelayTestService::RelayTestService(void* ipcHandle, void* logHandle)
    : TestService(ipcHandle, logHandle, "0") {
    KOVRA_COMMAND(RelayTestService, getConfiguration);
    KOVRA_COMMAND(RelayTestService, setConfiguration);
    KOVRA_COMMAND(RelayTestService, getState);
    KOVRA_COMMAND(RelayTestService, setState);
    KOVRA_COMMAND(RelayTestService, trigger);
    KOVRA_OPEN_INITIATOR(relay);
}

RelayTestService::~RelayTestService() { kovra_api_relay_initiator_deinit(initiator()); }

bool RelayTestService::getConfiguration() { return get(kovra_api_relay_get_configuration_send); }
bool RelayTestService::setConfiguration() {
    uint8_t c1 = 0, c2 = 0, c3 = 0;
    uint32_t d1 = 0, d2 = 0, d3 = 0, d4 = 0;
    if (kovra_api_relay_get_configuration_send(initiator(), target(), &c1, &c2, &d1, &c3, &d2, &d3,
                                               &d4) != 0) {
        return false;
    }
    return kovra_api_relay_set_configuration_send(initiator(), target(), c1, c2, d1, c3, d2, d3,
                                                  d4) == 0;
}
bool RelayTestService::getState() { return get(kovra_api_relay_get_state_send); }
bool RelayTestService::setState() {
    return writeBack(kovra_api_relay_get_state_send, kovra_api_relay_set_state_send);
}
bool RelayTestService::trigger() { return true; }
