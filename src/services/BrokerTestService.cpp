#include "services/BrokerTestService.h"

BrokerTestService::BrokerTestService(void* ipcHandle, void* logHandle)
    : TestService(ipcHandle, logHandle, "broker") {
    KOVRA_COMMAND(BrokerTestService, enableTcp);
    KOVRA_COMMAND(BrokerTestService, getTargets);
    KOVRA_OPEN_INITIATOR(broker);
}

BrokerTestService::~BrokerTestService() { kovra_api_broker_initiator_deinit(initiator()); }

bool BrokerTestService::enableTcp() { return action(kovra_api_broker_enable_tcp_send); }
bool BrokerTestService::getTargets() { return get(kovra_api_broker_get_targets_send, ""); }
