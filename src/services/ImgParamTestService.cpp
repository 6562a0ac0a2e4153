#include "services/ImgParamTestService.h"

ImgParamTestService::ImgParamTestService(void* ipcHandle, void* logHandle)
    : TestService(ipcHandle, logHandle, "img_param") {
    KOVRA_COMMAND(ImgParamTestService, getSensorFramerateMillihertz);
    KOVRA_COMMAND(ImgParamTestService, getStreamDim);
    KOVRA_COMMAND(ImgParamTestService, getStreamFrDiv);
    KOVRA_COMMAND(ImgParamTestService, getEncode);
    KOVRA_COMMAND(ImgParamTestService, getQuality);
    KOVRA_COMMAND(ImgParamTestService, getCrop);
    KOVRA_COMMAND(ImgParamTestService, getH264Settings);
    KOVRA_COMMAND(ImgParamTestService, getUsrRateControlSettings);
    KOVRA_COMMAND(ImgParamTestService, getPipelineType);
    KOVRA_OPEN_INITIATOR(img_param);
}

ImgParamTestService::~ImgParamTestService() { kovra_api_img_param_initiator_deinit(initiator()); }

bool ImgParamTestService::getSensorFramerateMillihertz() {
    return get(kovra_api_img_param_get_sensor_framerate_milli_hz_send, 1);
}
bool ImgParamTestService::getStreamDim() {
    return get(kovra_api_img_param_get_stream_dim_send, 0, 1);
}
bool ImgParamTestService::getStreamFrDiv() {
    return get(kovra_api_img_param_get_stream_fr_div_send, 0, 1);
}
bool ImgParamTestService::getEncode() { return get(kovra_api_img_param_get_encode_send, 0, 1); }
bool ImgParamTestService::getQuality() { return get(kovra_api_img_param_get_quality_send, 0, 1); }
bool ImgParamTestService::getCrop() { return get(kovra_api_img_param_get_crop_send, 0, 1); }
bool ImgParamTestService::getH264Settings() {
    return get(kovra_api_img_param_get_h264_settings_send, 0, 1);
}
bool ImgParamTestService::getUsrRateControlSettings() {
    return get(kovra_api_img_param_get_usr_rate_control_settings_send, 0, 1);
}
bool ImgParamTestService::getPipelineType() {
    return get(kovra_api_img_param_get_pipeline_type_send, 1);
}
