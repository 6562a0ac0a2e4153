#include "services/WhiteBalanceBasicTestService.h"

WhiteBalanceBasicTestService::WhiteBalanceBasicTestService(void* ipcHandle, void* logHandle)
    : TestService(ipcHandle, logHandle, "0") {
    KOVRA_COMMAND(WhiteBalanceBasicTestService, getMode);
    KOVRA_COMMAND(WhiteBalanceBasicTestService, setMode);
    KOVRA_COMMAND(WhiteBalanceBasicTestService, getManualRedBias);
    KOVRA_COMMAND(WhiteBalanceBasicTestService, setManualRedBias);
    KOVRA_COMMAND(WhiteBalanceBasicTestService, getManualBlueBias);
    KOVRA_COMMAND(WhiteBalanceBasicTestService, setManualBlueBias);
    KOVRA_OPEN_INITIATOR(white_balance_basic);
}

WhiteBalanceBasicTestService::~WhiteBalanceBasicTestService() {
    kovra_api_white_balance_basic_initiator_deinit(initiator());
}

bool WhiteBalanceBasicTestService::getMode() {
    return get(kovra_api_white_balance_basic_get_mode_send);
}
bool WhiteBalanceBasicTestService::setMode() {
    return writeBack(kovra_api_white_balance_basic_get_mode_send,
                     kovra_api_white_balance_basic_set_mode_send);
}
bool WhiteBalanceBasicTestService::getManualRedBias() {
    return get(kovra_api_white_balance_basic_get_manual_red_bias_send);
}
bool WhiteBalanceBasicTestService::setManualRedBias() {
    return writeBack(kovra_api_white_balance_basic_get_manual_red_bias_send,
                     kovra_api_white_balance_basic_set_manual_red_bias_send);
}
bool WhiteBalanceBasicTestService::getManualBlueBias() {
    return get(kovra_api_white_balance_basic_get_manual_blue_bias_send);
}
bool WhiteBalanceBasicTestService::setManualBlueBias() {
    return writeBack(kovra_api_white_balance_basic_get_manual_blue_bias_send,
                     kovra_api_white_balance_basic_set_manual_blue_bias_send);
}
