#include "tester/ServiceList.h"

#include <boost/make_shared.hpp>

#include "services/AlarmTestService.h"
#include "services/AudioParamTestService.h"
#include "services/BrokerTestService.h"
#include "services/DayNightTestService.h"
#include "services/DeviceInformationTestService.h"
#include "services/ExposureTestService.h"
#include "services/FlickerCorrectionTestService.h"
#include "services/ImagingTestService.h"
#include "services/ImgParamTestService.h"
#include "services/LedTestService.h"
#include "services/LensFocusTestService.h"
#include "services/LogTestService.h"
#include "services/RelayTestService.h"
#include "services/TemperatureTestService.h"
#include "services/TemporalNoiseFilterTestService.h"
#include "services/WhiteBalanceBasicTestService.h"

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
