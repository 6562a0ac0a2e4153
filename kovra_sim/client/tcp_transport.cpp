#include "tcp_transport.h"

#include "kovra_sim/control.h"

namespace kovra_sim {

std::unique_ptr<Transport> TcpTransport::connect(char const*, uint32_t, uint32_t, uint32_t,
                                                 int32_t& status) {
    status = KOVRA_SIM_STATUS_NOT_CONNECTED;
    return nullptr;
}

}  // namespace kovra_sim
