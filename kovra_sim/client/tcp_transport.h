#pragma once

#include <memory>

#include "transport.h"

namespace kovra_sim {

class TcpTransport {
public:
    static std::unique_ptr<Transport> connect(char const* url, uint32_t ipc, uint32_t log,
                                              uint32_t timeout_ms, int32_t& status);
};

}  // namespace kovra_sim
