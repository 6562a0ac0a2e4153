#include "services/LogTestService.h"

namespace {

char const kLogTag[] = "KOVRA_IPC";

}  // namespace

LogTestService::LogTestService(void* ipcHandle, void* logHandle)
    : TestService(ipcHandle, logHandle, "log") {
    KOVRA_COMMAND(LogTestService, getTags);
    KOVRA_COMMAND(LogTestService, getSettings);
    KOVRA_COMMAND(LogTestService, getSettingsCore);
    KOVRA_COMMAND(LogTestService, setSettings);
    KOVRA_OPEN_INITIATOR(log);
}

LogTestService::~LogTestService() { kovra_api_log_initiator_deinit(initiator()); }

bool LogTestService::getTags() { return get(kovra_api_log_get_tags_send); }
bool LogTestService::getSettings() { return get(kovra_api_log_get_settings_send, kLogTag); }
bool LogTestService::getSettingsCore() {
    return get(kovra_api_log_get_settings_core_send, kLogTag);
}
bool LogTestService::setSettings() {
    return kovra_api_log_set_settings_send(initiator(), target(), kLogTag, "err", "notset",
                                           "notset") == 0;
}
