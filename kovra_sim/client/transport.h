// What carries one IPC connection's calls to a camera: the embedded camera
// in this process (LocalTransport) or a camera daemon over TCP
// (TcpTransport). The client library checks handles and pointers before a
// call gets here; a transport carries values both ways and hands
// announcements to the handlers subscribed on its connection.
#pragma once

#include <kovra/kovra_api.h>

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "client/call.h"

namespace kovra_sim {

// Tells the person running the soak, on stderr, what the library cannot say
// through a status.
inline void report(std::string const& what) {
    std::fprintf(stderr, "kovra-sim: %s\n", what.c_str());
}

// The event handlers subscribed on one connection, by broker handle number.
class Subscriptions {
public:
    void add(uint32_t broker, kovra_broker_new_target_handler handler, void* context);
    // Removes every subscription of `handler` on `broker`, or of every
    // handler when it is null (a broker being released); false if there is
    // none. Once it returns, no call of a handler removed runs or follows.
    bool remove(uint32_t broker, kovra_broker_new_target_handler handler = nullptr);
    bool empty() const;
    // Tells every handler, one after the other, on the calling thread, that
    // `service`'s target restarted.
    void deliver(int service, uint8_t flag, char const* address);

private:
    struct Subscription {
        uint32_t broker;
        kovra_broker_new_target_handler handler;
        void* context;
    };
    mutable std::mutex delivery_;  // held while handlers run
    std::vector<Subscription> subscriptions_;
};

class Transport {
public:
    virtual ~Transport() = default;

    // Opens and closes the initiator that handle number `handle` stands for.
    virtual int32_t open_initiator(uint32_t handle, int service, bool events) = 0;
    virtual int32_t close_initiator(uint32_t handle, int service) = 0;
    // Puts request `function` on initiator `handle` to the camera and
    // returns its status; on success the out-values are staged in `call`.
    virtual int32_t request(int function, uint32_t handle, char const* target, Call& call) = 0;
    // Tells the camera that a broker gained or lost a handler.
    virtual int32_t subscribe(uint32_t broker, bool context) = 0;
    virtual int32_t unsubscribe(uint32_t broker) = 0;
    // Ends the connection; the transport answers nothing afterwards.
    virtual void close() = 0;

    Subscriptions subscriptions;
};

}  // namespace kovra_sim
