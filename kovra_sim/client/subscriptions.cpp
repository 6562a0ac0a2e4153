#include <algorithm>

#include "client/library.h"
#include "client/transport.h"

namespace kovra_sim {

void Subscriptions::add(uint32_t broker, kovra_broker_new_target_handler handler, void* context) {
    std::lock_guard lock(delivery_);
    subscriptions_.push_back({broker, handler, context});
}

bool Subscriptions::remove(uint32_t broker, kovra_broker_new_target_handler handler) {
    std::lock_guard lock(delivery_);
    auto const gone = std::remove_if(subscriptions_.begin(), subscriptions_.end(), [&](auto& s) {
        return s.broker == broker && (!handler || s.handler == handler);
    });
    bool const found = gone != subscriptions_.end();
    subscriptions_.erase(gone, subscriptions_.end());
    return found;
}

bool Subscriptions::empty() const {
    std::lock_guard lock(delivery_);
    return subscriptions_.empty();
}

void Subscriptions::deliver(int service, uint8_t flag, char const* address) {
    ServiceInfo const& info = service_info(service);
    std::lock_guard lock(delivery_);
    // Counted as the trace layer counts them: once a handler is told.
    Stats& stats = library().stats;
    for (Subscription const& s : subscriptions_) {
        if (stats.on()) stats.announced(target_name(service));
        s.handler(info.word, info.target, flag, address, s.context);
    }
}

}  // namespace kovra_sim
