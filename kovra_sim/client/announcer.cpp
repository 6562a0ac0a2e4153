#include "client/announcer.h"

#include <system_error>

#include "client/exhaust.h"
#include "client/transport.h"

namespace kovra_sim {

Announcer::~Announcer() { stop(); }

bool Announcer::start() {
    std::lock_guard life(lifecycle_);
    std::lock_guard lock(mutex_);
    if (running_) return true;
    try {
        check_threads();
        thread_ = std::thread(&Announcer::run, this);
    } catch (std::system_error const&) {
        return false;
    }
    running_ = true;
    return true;
}

void Announcer::stop() {
    std::lock_guard life(lifecycle_);
    {
        std::lock_guard lock(mutex_);
        if (!running_) return;
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    std::lock_guard lock(mutex_);
    running_ = stopping_ = false;
}

void Announcer::deliver(Subscriptions& to, int service) {
    if (to.empty()) return;
    Item item{&to, service};
    std::unique_lock lock(mutex_);
    if (!running_ || stopping_) return;
    queue_.push_back(&item);
    wake_.notify_one();
    delivered_.wait(lock, [&] { return item.done; });
}

void Announcer::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        Item* item = queue_.front();
        queue_.pop_front();
        lock.unlock();
        item->to->deliver(item->service, 1, "local");
        lock.lock();
        item->done = true;
        delivered_.notify_all();
    }
}

}  // namespace kovra_sim
