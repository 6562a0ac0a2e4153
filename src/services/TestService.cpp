#include "TestService.h"

#include <sstream>
#include <stdexcept>

TestService::TestService(void* ipcHandle, void* logHandle, char const* targetName)
    : ipcHandle_(ipcHandle), logHandle_(logHandle), initiator_(nullptr), targetName_(targetName) {}

void TestService::openInitiator(InitiatorInit init, char const* initName) {
    int32_t status = init(ipcHandle_, logHandle_, &initiator_, 0, 0);
    if (status == 0) {
        return;
    }
    std::ostringstream message;
    message << "ERROR: " << initName << " failed status" << status;
    kovra_core_logging_log(logHandle_, 3, message.str().c_str());
    throw std::runtime_error(message.str());
}
