#include "services/AudioParamTestService.h"

AudioParamTestService::AudioParamTestService(void* ipcHandle, void* logHandle)
    : TestService(ipcHandle, logHandle, "audio_param") {
    KOVRA_COMMAND(AudioParamTestService, getAudioType);
    KOVRA_COMMAND(AudioParamTestService, getAudioRate);
    KOVRA_COMMAND(AudioParamTestService, getAudioVolume);
    KOVRA_COMMAND(AudioParamTestService, getAudioPlaybackVolume);
    KOVRA_COMMAND(AudioParamTestService, getAudioSource);
    KOVRA_COMMAND(AudioParamTestService, getAudioFrameSize);
    KOVRA_OPEN_INITIATOR(audio_param);
}

AudioParamTestService::~AudioParamTestService() {
    kovra_api_audio_param_initiator_deinit(initiator());
}

bool AudioParamTestService::getAudioType() {
    return get(kovra_api_audio_param_get_audio_type_send, 0, 1);
}
bool AudioParamTestService::getAudioRate() {
    return get(kovra_api_audio_param_get_audio_rate_send, 0, 1);
}
bool AudioParamTestService::getAudioVolume() {
    return get(kovra_api_audio_param_get_audio_volume_send, 0, 1);
}
bool AudioParamTestService::getAudioPlaybackVolume() {
    return get(kovra_api_audio_param_get_audio_playback_volume_send, 0, 1);
}
bool AudioParamTestService::getAudioSource() {
    return get(kovra_api_audio_param_get_audio_source_send, 0, 1);
}
bool AudioParamTestService::getAudioFrameSize() {
    return get(kovra_api_audio_param_get_audio_frame_size_send, 0, 1);
}
