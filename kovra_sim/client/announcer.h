// Delivers the embedded camera's announcements to in-process handlers on a
// library thread of its own, as a camera's client library does. The thread
// is started with the first in-process connection, so that a request never
// has to start it; a handler must not call into the library (the request
// that made the target restart waits for its delivery). A forked child has
// no such thread: it hears no announcements, and shuts down without waiting
// for a lock that a thread of its parent held.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace kovra_sim {

class Subscriptions;

class Announcer {
public:
    Announcer();
    ~Announcer();
    // Starts the thread unless it runs; false if it cannot be started.
    bool start();
    // Delivers what is queued, then ends and joins the thread.
    void stop();
    // Delivers (service word, target, 1, "local") to every handler of `to`
    // on the thread and returns once that is done; does nothing while the
    // thread is not running.
    void deliver(Subscriptions& to, int service);

private:
    struct Item {
        Subscriptions* to;
        int service;
        bool done = false;
    };
    void run();
    // fork handlers: no announcer is inside its locks while the process forks.
    static void hold_all();
    static void release_all();
    static void reset_all_in_child();

    std::mutex lifecycle_;  // serialises start() and stop()
    std::mutex mutex_;      // guards the members below
    std::condition_variable wake_;
    std::condition_variable delivered_;
    std::deque<Item*> queue_;
    bool running_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace kovra_sim
