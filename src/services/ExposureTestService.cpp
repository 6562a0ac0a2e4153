#include "services/ExposureTestService.h"

ExposureTestService::ExposureTestService(void* ipcHandle, void* logHandle)
    : TestService(ipcHandle, logHandle, "0") {
    KOVRA_COMMAND(ExposureTestService, getManualModeEnable);
    KOVRA_COMMAND(ExposureTestService, setManualModeEnable);
    KOVRA_COMMAND(ExposureTestService, getFrameRate);
    KOVRA_COMMAND(ExposureTestService, setFrameRate);
    KOVRA_COMMAND(ExposureTestService, getAutoMinExposureTime);
    KOVRA_COMMAND(ExposureTestService, setAutoMinExposureTime);
    KOVRA_COMMAND(ExposureTestService, getAutoMaxExposureTime);
    KOVRA_COMMAND(ExposureTestService, setAutoMaxExposureTime);
    KOVRA_COMMAND(ExposureTestService, getAutoMinGain);
    KOVRA_COMMAND(ExposureTestService, setAutoMinGain);
    KOVRA_COMMAND(ExposureTestService, getAutoMaxGain);
    KOVRA_COMMAND(ExposureTestService, setAutoMaxGain);
    KOVRA_COMMAND(ExposureTestService, getManualExposureTime);
    KOVRA_COMMAND(ExposureTestService, setManualExposureTime);
    KOVRA_COMMAND(ExposureTestService, getManualGain);
    KOVRA_COMMAND(ExposureTestService, setManualGain);
    KOVRA_OPEN_INITIATOR(exposure);
}

ExposureTestService::~ExposureTestService() { kovra_api_exposure_initiator_deinit(initiator()); }

bool ExposureTestService::getManualModeEnable() {
    return get(kovra_api_exposure_get_manual_mode_enable_send);
}
bool ExposureTestService::setManualModeEnable() {
    return writeBack(kovra_api_exposure_get_manual_mode_enable_send,
                     kovra_api_exposure_set_manual_mode_enable_send);
}
bool ExposureTestService::getFrameRate() { return get(kovra_api_exposure_get_frame_rate_send); }
bool ExposureTestService::setFrameRate() {
    return writeBack(kovra_api_exposure_get_frame_rate_send,
                     kovra_api_exposure_set_frame_rate_send);
}
bool ExposureTestService::getAutoMinExposureTime() {
    return get(kovra_api_exposure_get_auto_min_exposure_time_send);
}
bool ExposureTestService::setAutoMinExposureTime() {
    return writeBack(kovra_api_exposure_get_auto_min_exposure_time_send,
                     kovra_api_exposure_set_auto_min_exposure_time_send);
}
bool ExposureTestService::getAutoMaxExposureTime() {
    return get(kovra_api_exposure_get_auto_max_exposure_time_send);
}
bool ExposureTestService::setAutoMaxExposureTime() {
    return writeBack(kovra_api_exposure_get_auto_max_exposure_time_send,
                     kovra_api_exposure_set_auto_max_exposure_time_send);
}
bool ExposureTestService::getAutoMinGain() {
    return get(kovra_api_exposure_get_auto_min_gain_send);
}
bool ExposureTestService::setAutoMinGain() {
    return writeBack(kovra_api_exposure_get_auto_min_gain_send,
                     kovra_api_exposure_set_auto_min_gain_send);
}
bool ExposureTestService::getAutoMaxGain() {
    return get(kovra_api_exposure_get_auto_max_gain_send);
}
bool ExposureTestService::setAutoMaxGain() {
    return writeBack(kovra_api_exposure_get_auto_max_gain_send,
                     kovra_api_exposure_set_auto_max_gain_send);
}
bool ExposureTestService::getManualExposureTime() {
    return get(kovra_api_exposure_get_manual_exposure_time_send);
}
bool ExposureTestService::setManualExposureTime() {
    return writeBack(kovra_api_exposure_get_manual_exposure_time_send,
                     kovra_api_exposure_set_manual_exposure_time_send);
}
bool ExposureTestService::getManualGain() { return get(kovra_api_exposure_get_manual_gain_send); }
bool ExposureTestService::setManualGain() {
    return writeBack(kovra_api_exposure_get_manual_gain_send,
                     kovra_api_exposure_set_manual_gain_send);
}
