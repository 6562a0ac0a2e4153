#include "services/ImagingTestService.h"

ImagingTestService::ImagingTestService(void* ipcHandle, void* logHandle)
    : TestService(ipcHandle, logHandle, "0") {
    KOVRA_COMMAND(ImagingTestService, getContrast);
    KOVRA_COMMAND(ImagingTestService, setContrast);
    KOVRA_COMMAND(ImagingTestService, getSharpness);
    KOVRA_COMMAND(ImagingTestService, setSharpness);
    KOVRA_COMMAND(ImagingTestService, getBrightness);
    KOVRA_COMMAND(ImagingTestService, setBrightness);
    KOVRA_COMMAND(ImagingTestService, getSaturation);
    KOVRA_COMMAND(ImagingTestService, setSaturation);
    KOVRA_OPEN_INITIATOR(imaging);
}

ImagingTestService::~ImagingTestService() { kovra_api_imaging_initiator_deinit(initiator()); }

bool ImagingTestService::getContrast() { return get(kovra_api_imaging_get_contrast_send); }
bool ImagingTestService::setContrast() {
    return writeBack(kovra_api_imaging_get_contrast_send, kovra_api_imaging_set_contrast_send);
}
bool ImagingTestService::getSharpness() { return get(kovra_api_imaging_get_sharpness_send); }
bool ImagingTestService::setSharpness() {
    return writeBack(kovra_api_imaging_get_sharpness_send, kovra_api_imaging_set_sharpness_send);
}
bool ImagingTestService::getBrightness() { return get(kovra_api_imaging_get_brightness_send); }
bool ImagingTestService::setBrightness() {
    return writeBack(kovra_api_imaging_get_brightness_send, kovra_api_imaging_set_brightness_send);
}
bool ImagingTestService::getSaturation() { return get(kovra_api_imaging_get_saturation_send); }
bool ImagingTestService::setSaturation() {
    return writeBack(kovra_api_imaging_get_saturation_send, kovra_api_imaging_set_saturation_send);
}
