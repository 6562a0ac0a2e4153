// The handles the stand-in hands out: log, IPC and initiator handles. A
// handle is no address but a number with the table's epoch above it, so a
// handle released stays known (a stale handle reads as released rather than
// as a newer one in its place) and one from before a reset reads as unknown.
// Thread-safe, under one lock held only for a lookup's few instructions.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

namespace kovra_sim {

class Transport;

enum class HandleKind : uint8_t { log, ipc, initiator };

struct HandleInfo {
    uint32_t number = 0;             // "#N" of the journal, counting from 1 since the reset
    int service = -1;                // initiators
    bool events = false;             // initiators
    uint32_t ipc = 0;                // initiators: the number of the IPC handle they were opened on
    Transport* transport = nullptr;  // IPC handles
};

class Handles {
public:
    // Opens a handle; nullptr when the table is full.
    void* open(HandleKind kind, HandleInfo const& info);
    // Gives an IPC handle that is not yet handed out its connection.
    void attach(void const* handle, Transport* transport);
    // Releases a live handle of that kind; false if it is none.
    bool close(void const* handle, HandleKind kind);
    // Whether `handle` is a live handle of that kind, and what it holds.
    bool live(void const* handle, HandleKind kind, HandleInfo* info = nullptr) const;
    // The IPC handle with this number, if it is live.
    bool live_ipc(uint32_t number, HandleInfo* info) const;
    // The number of a handle opened since the reset, live or not; else 0.
    uint32_t number(void const* handle) const;
    // Forgets every handle; numbers count from 1 again.
    void reset();

private:
    struct Record {
        HandleKind kind;
        bool live;
        HandleInfo info;
    };
    static constexpr uint32_t kNumberBits = 20;  // the epoch above them

    // The record of a handle of this epoch, or null; with mutex_ held.
    Record* find(void const* handle) const;

    mutable std::mutex mutex_;
    uint32_t epoch_ = 1;
    mutable std::vector<Record> records_;  // number N at N - 1
};

}  // namespace kovra_sim
