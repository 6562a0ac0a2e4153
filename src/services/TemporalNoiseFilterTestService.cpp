#include "services/TemporalNoiseFilterTestService.h"

TemporalNoiseFilterTestService::TemporalNoiseFilterTestService(void* ipcHandle, void* logHandle)
    : TestService(ipcHandle, logHandle, "0") {
    KOVRA_COMMAND(TemporalNoiseFilterTestService, getEnable);
    KOVRA_COMMAND(TemporalNoiseFilterTestService, setEnable);
    KOVRA_OPEN_INITIATOR(temporal_noise_filter);
}

TemporalNoiseFilterTestService::~TemporalNoiseFilterTestService() {
    kovra_api_temporal_noise_filter_initiator_deinit(initiator());
}

bool TemporalNoiseFilterTestService::getEnable() {
    return get(kovra_api_temporal_noise_filter_get_enable_send);
}
bool TemporalNoiseFilterTestService::setEnable() {
    return writeBack(kovra_api_temporal_noise_filter_get_enable_send,
                     kovra_api_temporal_noise_filter_set_enable_send);
}
