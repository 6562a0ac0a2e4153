#pragma once

#include <boost/shared_ptr.hpp>
#include <vector>

#include "services/TestService.h"

// Creates the sixteen enrolled services on the two handles, appending each to
// `services` as it is made. Their order fixes the command indices, and with
// them what a seed schedules: append new services only in their place. A
// service that cannot be created throws, and those made before it stay in
// `services` for their owner to release.
void createServices(void* ipcHandle, void* logHandle,
                    std::vector<boost::shared_ptr<TestService>>& services);
