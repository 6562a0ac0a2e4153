#pragma once

#include "services/TestService.h"

// The image parameter service: the sensor frame rate and pipeline type, and
// the dimensions, frame rate divider, encoding, quality, crop, H.264 and rate
// control settings of a stream. It only reads; the requests carry the fixed
// selector 1, or 0 then 1 for the stream.
class ImgParamTestService : public TestService {
public:
    ImgParamTestService(void* ipcHandle, void* logHandle);
    ~ImgParamTestService() override;

    bool getSensorFramerateMillihertz();
    bool getStreamDim();
    bool getStreamFrDiv();
    bool getEncode();
    bool getQuality();
    bool getCrop();
    bool getH264Settings();
    bool getUsrRateControlSettings();
    bool getPipelineType();
};
