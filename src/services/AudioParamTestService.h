#pragma once

#include "services/TestService.h"

// The audio parameter service: the audio type, rate, volumes, source and
// frame size. It only reads; every request carries the fixed selectors 0
// then 1.
class AudioParamTestService : public TestService {
public:
    AudioParamTestService(void* ipcHandle, void* logHandle);
    ~AudioParamTestService() override;

    bool getAudioType();
    bool getAudioRate();
    bool getAudioVolume();
    bool getAudioPlaybackVolume();
    bool getAudioSource();
    bool getAudioFrameSize();
};
