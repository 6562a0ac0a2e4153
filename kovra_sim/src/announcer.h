// The broker's announcements of restarted targets. Handlers run on one
// library thread, started on the first announcement and stopped by stop().
// A handler runs with the delivery lock held, which is what lets
// unsubscribe() promise that no call of that handler runs or follows once it
// returns; a handler therefore must not call into the library (it would
// deadlock), and a caller must not unsubscribe while holding a lock its
// handler takes.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <kovra/kovra_api.h>

namespace kovra_sim {

class Announcer {
public:
    ~Announcer();

    void subscribe(void const* broker, kovra_broker_new_target_handler handler, void* context);
    // Removes every subscription of `handler` on `broker`; false if none.
    bool unsubscribe(void const* broker, kovra_broker_new_target_handler handler);
    // Removes the subscriptions of a broker initiator being released.
    void drop(void const* broker);
    void clear();

    // Delivers (service, target, 1, "local", context) to every subscriber from
    // the announcer thread; returns once delivered.
    void announce(std::string service, std::string target);
    // Delivers what is queued, then ends and joins the thread.
    void stop();

private:
    struct Subscription {
        void const* broker;
        kovra_broker_new_target_handler handler;
        void* context;
    };
    struct Item {
        std::string service;
        std::string target;
        bool done = false;
    };
    void run();

    std::mutex delivery_;  // held while handlers run
    std::vector<Subscription> subscriptions_;

    std::mutex lifecycle_;  // serialises starting the thread with stop()
    std::mutex mutex_;      // guards the queue, stopping_ and thread_
    std::condition_variable wake_;
    std::condition_variable delivered_;
    std::deque<Item*> queue_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace kovra_sim
