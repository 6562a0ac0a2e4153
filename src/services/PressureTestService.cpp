#include "services/PressureTestService.h"

PressureTestService::PressureTestService(void* ipcHandle, void* logHandle)
    : TestService(ipcHandle, logHandle, "0") {
    KOVRA_COMMAND(PressureTestService, getPressure);
    KOVRA_OPEN_INITIATOR(pressure);
}

PressureTestService::~PressureTestService() { kovra_api_pressure_initiator_deinit(initiator()); }

bool PressureTestService::getPressure() { return get(kovra_api_pressure_get_pressure_send); }
