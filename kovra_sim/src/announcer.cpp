#include "announcer.h"

#include <algorithm>

namespace kovra_sim {

Announcer::~Announcer() { stop(); }

void Announcer::subscribe(void const* broker, kovra_broker_new_target_handler handler,
                          void* context) {
    std::lock_guard lock(delivery_);
    subscriptions_.push_back({broker, handler, context});
}

bool Announcer::unsubscribe(void const* broker, kovra_broker_new_target_handler handler) {
    std::lock_guard lock(delivery_);
    auto gone = std::remove_if(subscriptions_.begin(), subscriptions_.end(), [&](auto const& s) {
        return s.broker == broker && s.handler == handler;
    });
    bool const found = gone != subscriptions_.end();
    subscriptions_.erase(gone, subscriptions_.end());
    return found;
}

void Announcer::drop(void const* broker) {
    std::lock_guard lock(delivery_);
    subscriptions_.erase(std::remove_if(subscriptions_.begin(), subscriptions_.end(),
                                        [&](auto const& s) { return s.broker == broker; }),
                         subscriptions_.end());
}

void Announcer::clear() {
    std::lock_guard lock(delivery_);
    subscriptions_.clear();
}

void Announcer::announce(std::string service, std::string target) {
    Item item{std::move(service), std::move(target)};
    std::unique_lock lock(mutex_, std::defer_lock);
    {
        std::lock_guard life(lifecycle_);
        lock.lock();
        if (!thread_.joinable()) thread_ = std::thread(&Announcer::run, this);
        queue_.push_back(&item);
    }
    wake_.notify_one();
    delivered_.wait(lock, [&] { return item.done; });
}

void Announcer::stop() {
    std::lock_guard life(lifecycle_);
    std::thread thread;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        thread = std::move(thread_);
    }
    wake_.notify_all();
    if (thread.joinable()) thread.join();
    std::lock_guard lock(mutex_);
    stopping_ = false;
}

void Announcer::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        Item* item = queue_.front();
        queue_.pop_front();
        lock.unlock();
        {
            std::lock_guard delivery(delivery_);
            for (Subscription const& s : subscriptions_) {
                s.handler(item->service.c_str(), item->target.c_str(), 1, "local", s.context);
            }
        }
        lock.lock();
        item->done = true;
        delivered_.notify_all();
    }
}

}  // namespace kovra_sim
