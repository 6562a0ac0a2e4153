#include "ServiceList.h"

#include <boost/make_shared.hpp>

#include "AlarmTestService.h"
#include "AudioParamTestService.h"
#include "BrokerTestService.h"
#include "DayNightTestService.h"
#include "DeviceInformationTestService.h"
#include "ExposureTestService.h"
#include "FlickerCorrectionTestService.h"
#include "ImagingTestService.h"
#include "ImgParamTestService.h"
#include "LedTestService.h"
#include "LensFocusTestService.h"
#include "LogTestService.h"
#include "RelayTestService.h"
#include "TemperatureTestService.h"
#include "TemporalNoiseFilterTestService.h"
#include "WhiteBalanceBasicTestService.h"

namespace {

template <class... Services>
void create(void* ipcHandle, void* logHandle,
            std::vector<boost::shared_ptr<TestService>>& services) {
    (services.push_back(boost::make_shared<Services>(ipcHandle, logHandle)), ...);
}

}  // namespace

void createServices(void* ipcHandle, void* logHandle,
                    std::vector<boost::shared_ptr<TestService>>& services) {
    create<AlarmTestService, AudioParamTestService, BrokerTestService, DayNightTestService,
           DeviceInformationTestService, ExposureTestService, FlickerCorrectionTestService,
           ImagingTestService, ImgParamTestService, LedTestService, LensFocusTestService,
           LogTestService, RelayTestService, TemperatureTestService, TemporalNoiseFilterTestService,
           WhiteBalanceBasicTestService>(ipcHandle, logHandle, services);
}
