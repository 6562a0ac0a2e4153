#include "services/DayNightTestService.h"

DayNightTestService::DayNightTestService(void* ipcHandle, void* logHandle)
    : TestService(ipcHandle, logHandle, "0") {
    KOVRA_COMMAND(DayNightTestService, getManualModeEnable);
    KOVRA_COMMAND(DayNightTestService, setManualModeEnable);
    KOVRA_COMMAND(DayNightTestService, getAutoDayToNightTransitionLevel);
    KOVRA_COMMAND(DayNightTestService, setAutoDayToNightTransitionLevel);
    KOVRA_COMMAND(DayNightTestService, getAutoModeDetectTime);
    KOVRA_COMMAND(DayNightTestService, setAutoModeDetectTime);
    KOVRA_COMMAND(DayNightTestService, getManualFilterPosition);
    KOVRA_COMMAND(DayNightTestService, setManualFilterPosition);
    KOVRA_COMMAND(DayNightTestService, getCurrentFilterPosition);
    KOVRA_OPEN_INITIATOR(day_night);
}

DayNightTestService::~DayNightTestService() { kovra_api_day_night_initiator_deinit(initiator()); }

bool DayNightTestService::getManualModeEnable() {
    return get(kovra_api_day_night_get_manual_mode_enable_send);
}
bool DayNightTestService::setManualModeEnable() {
    return writeBack(kovra_api_day_night_get_manual_mode_enable_send,
                     kovra_api_day_night_set_manual_mode_enable_send);
}
bool DayNightTestService::getAutoDayToNightTransitionLevel() {
    return get(kovra_api_day_night_get_auto_day_to_night_transition_level_send);
}
bool DayNightTestService::setAutoDayToNightTransitionLevel() {
    return writeBack(kovra_api_day_night_get_auto_day_to_night_transition_level_send,
                     kovra_api_day_night_set_auto_day_to_night_transition_level_send);
}
bool DayNightTestService::getAutoModeDetectTime() {
    return get(kovra_api_day_night_get_auto_mode_detect_time_send);
}
bool DayNightTestService::setAutoModeDetectTime() {
    return writeBack(kovra_api_day_night_get_auto_mode_detect_time_send,
                     kovra_api_day_night_set_auto_mode_detect_time_send);
}
bool DayNightTestService::getManualFilterPosition() {
    return get(kovra_api_day_night_get_manual_filter_position_send);
}
bool DayNightTestService::setManualFilterPosition() {
    return writeBack(kovra_api_day_night_get_manual_filter_position_send,
                     kovra_api_day_night_set_manual_filter_position_send);
}
bool DayNightTestService::getCurrentFilterPosition() {
    return get(kovra_api_day_night_get_current_filter_position_send);
}
