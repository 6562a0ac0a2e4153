#include "services/DeviceInformationTestService.h"

namespace {

// Written on every call without reading first, so repeating the command
// leaves the camera as one call did.
char const kFriendlyName[] = "FRIENDLY";

}  // namespace

DeviceInformationTestService::DeviceInformationTestService(void* ipcHandle, void* logHandle)
    : TestService(ipcHandle, logHandle, "device_information") {
    KOVRA_COMMAND(DeviceInformationTestService, getStaticInformation);
    KOVRA_COMMAND(DeviceInformationTestService, getUdn);
    KOVRA_COMMAND(DeviceInformationTestService, getFriendlyName);
    KOVRA_COMMAND(DeviceInformationTestService, setFriendlyName);
    KOVRA_OPEN_INITIATOR(device_information);
}

DeviceInformationTestService::~DeviceInformationTestService() {
    kovra_api_device_information_initiator_deinit(initiator());
}

bool DeviceInformationTestService::getStaticInformation() {
    return get(kovra_api_device_information_get_static_information_send);
}
bool DeviceInformationTestService::getUdn() {
    return get(kovra_api_device_information_get_udn_send, 1);
}
bool DeviceInformationTestService::getFriendlyName() {
    return get(kovra_api_device_information_get_friendly_name_send);
}
bool DeviceInformationTestService::setFriendlyName() {
    return kovra_api_device_information_set_friendly_name_send(initiator(), target(),
                                                               kFriendlyName) == 0;
}
