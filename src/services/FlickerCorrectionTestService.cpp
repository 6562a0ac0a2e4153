#include "services/FlickerCorrectionTestService.h"

FlickerCorrectionTestService::FlickerCorrectionTestService(void* ipcHandle, void* logHandle)
    : TestService(ipcHandle, logHandle, "0") {
    KOVRA_COMMAND(FlickerCorrectionTestService, getMode);
    KOVRA_COMMAND(FlickerCorrectionTestService, setMode);
    KOVRA_COMMAND(FlickerCorrectionTestService, getFrequencyHint);
    KOVRA_COMMAND(FlickerCorrectionTestService, setFrequencyHint);
    KOVRA_OPEN_INITIATOR(flicker_correction);
}

FlickerCorrectionTestService::~FlickerCorrectionTestService() {
    kovra_api_flicker_correction_initiator_deinit(initiator());
}

bool FlickerCorrectionTestService::getMode() {
    return get(kovra_api_flicker_correction_get_mode_send);
}
bool FlickerCorrectionTestService::setMode() {
    return writeBack(kovra_api_flicker_correction_get_mode_send,
                     kovra_api_flicker_correction_set_mode_send);
}
bool FlickerCorrectionTestService::getFrequencyHint() {
    return get(kovra_api_flicker_correction_get_frequency_hint_send);
}
bool FlickerCorrectionTestService::setFrequencyHint() {
    return writeBack(kovra_api_flicker_correction_get_frequency_hint_send,
                     kovra_api_flicker_correction_set_frequency_hint_send);
}
