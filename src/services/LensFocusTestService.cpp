#include "services/LensFocusTestService.h"

LensFocusTestService::LensFocusTestService(void* ipcHandle, void* logHandle)
    : TestService(ipcHandle, logHandle, "0") {
    KOVRA_COMMAND(LensFocusTestService, getManualModeEnable);
    KOVRA_COMMAND(LensFocusTestService, setManualModeEnable);
    KOVRA_COMMAND(LensFocusTestService, doAutoFocus);
    KOVRA_COMMAND(LensFocusTestService, getCurrentFocusPosition);
    KOVRA_COMMAND(LensFocusTestService, getManualFocusPosition);
    KOVRA_COMMAND(LensFocusTestService, setManualFocusPosition);
    KOVRA_OPEN_INITIATOR(lens_focus);
}

LensFocusTestService::~LensFocusTestService() {
    kovra_api_lens_focus_initiator_deinit(initiator());
}

bool LensFocusTestService::getManualModeEnable() {
    return get(kovra_api_lens_focus_get_manual_mode_enable_send);
}
bool LensFocusTestService::setManualModeEnable() {
    return writeBack(kovra_api_lens_focus_get_manual_mode_enable_send,
                     kovra_api_lens_focus_set_manual_mode_enable_send);
}
bool LensFocusTestService::doAutoFocus() { return action(kovra_api_lens_focus_do_auto_focus_send); }
bool LensFocusTestService::getCurrentFocusPosition() {
    return get(kovra_api_lens_focus_get_current_focus_position_send);
}
bool LensFocusTestService::getManualFocusPosition() {
    return get(kovra_api_lens_focus_get_manual_focus_position_send);
}
bool LensFocusTestService::setManualFocusPosition() {
    return writeBack(kovra_api_lens_focus_get_manual_focus_position_send,
                     kovra_api_lens_focus_set_manual_focus_position_send);
}
