#include "client/announcer.h"

#include <pthread.h>

#include <algorithm>
#include <new>
#include <system_error>
#include <vector>

#include "client/exhaust.h"
#include "client/transport.h"

namespace kovra_sim {
namespace {

// Every announcer of the process, for the fork handlers.
std::mutex all_mutex;
std::vector<Announcer*> all;

}  // namespace

Announcer::Announcer() {
    static std::once_flag handlers;
    std::call_once(handlers, [] { pthread_atfork(hold_all, release_all, reset_all_in_child); });
    std::lock_guard lock(all_mutex);
    all.push_back(this);
}

Announcer::~Announcer() {
    stop();
    std::lock_guard lock(all_mutex);
    all.erase(std::find(all.begin(), all.end(), this));
}

void Announcer::hold_all() {
    all_mutex.lock();
    for (Announcer* a : all) {
        a->lifecycle_.lock();
        a->mutex_.lock();
    }
}

void Announcer::release_all() {
    for (Announcer* a : all) {
        a->mutex_.unlock();
        a->lifecycle_.unlock();
    }
    all_mutex.unlock();
}

// The thread is gone and whatever waited for it with it: the conditions and
// the thread's handle are made anew (the old handle names a thread that
// does not exist here, and is left unjoined).
void Announcer::reset_all_in_child() {
    for (Announcer* a : all) {
        a->queue_.clear();
        a->running_ = a->stopping_ = false;
        new (&a->wake_) std::condition_variable;
        new (&a->delivered_) std::condition_variable;
        new (&a->thread_) std::thread;
    }
    release_all();
}

bool Announcer::start() {
    std::lock_guard life(lifecycle_);
    std::lock_guard lock(mutex_);
    if (!running_) running_ = start_thread(thread_, &Announcer::run, this);
    return running_;
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
