#include "services/TemperatureTestService.h"

TemperatureTestService::TemperatureTestService(void* ipcHandle, void* logHandle)
    : TestService(ipcHandle, logHandle, "0") {
    KOVRA_COMMAND(TemperatureTestService, getTemperature);
    KOVRA_OPEN_INITIATOR(temperature);
}

TemperatureTestService::~TemperatureTestService() {
    kovra_api_temperature_initiator_deinit(initiator());
}

bool TemperatureTestService::getTemperature() {
    return get(kovra_api_temperature_get_temperature_send);
}
