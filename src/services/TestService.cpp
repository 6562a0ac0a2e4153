#include "services/TestService.h"

#include <sstream>
#include <stdexcept>

TestService::TestService(void* ipcHandle, void* logHandle, char const* targetName)
    : ipcHandle_(ipcHandle), logHandle_(logHandle), initiator_(nullptr), targetName_(targetName) {}

void TestService::openInitiator(InitiatorInit init, char const* initName) {
    int32_t status = init(ipcHandle_, logHandle_, &initiator_, 0, 0);
    if (status != 0) {
        reportInitiatorFailure(logHandle_, initName, status);
    }
}

void reportInitiatorFailure(void* logHandle, char const* initName, int32_t status) {
    std::ostringstream message;
    message << "ERROR: " << initName << " failed status" << status;
    kovra_core_logging_log(logHandle, 3, message.str().c_str());
    throw std::runtime_error(message.str());
}
