// The handles the stand-in hands out: log, IPC and initiator handles. A
// handle is no address but a small number with the table's epoch above it,
// so that looking one up is an index into the table, a handle released
// stays known (a stale handle reads as released rather than as a newer one
// in its place) and a handle from before a reset reads as unknown. Lookups
// take no lock; opening, closing and resetting are serialised.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

namespace kovra_sim {

class Transport;

enum class HandleKind : uint8_t { log = 1, ipc = 2, initiator = 3 };

struct HandleInfo {
    uint32_t number = 0;             // "#N" of the journal, counting from 1 since the reset
    int service = -1;                // initiators
    bool events = false;             // initiators
    uint32_t ipc = 0;                // initiators: the number of the IPC handle they were opened on
    Transport* transport = nullptr;  // IPC handles
};

class Handles {
public:
    Handles() = default;
    Handles(Handles const&) = delete;
    Handles& operator=(Handles const&) = delete;
    ~Handles();

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
    static constexpr uint32_t kIndexBits = 20;
    static constexpr uint32_t kChunkBits = 10;
    static constexpr uint32_t kChunkSize = 1u << kChunkBits;
    static constexpr uint32_t kChunks = 1u << (kIndexBits - kChunkBits);

    struct Record {
        std::atomic<uint32_t> word{0};  // kind | live | events | service
        std::atomic<uint32_t> ipc{0};
        std::atomic<Transport*> transport{nullptr};
    };
    using Chunk = std::array<Record, kChunkSize>;

    Record const* find(void const* handle, uint32_t* number) const;
    Record const* at(uint32_t number) const;
    bool read(Record const& r, HandleKind kind, uint32_t number, HandleInfo* info) const;

    std::array<std::atomic<Chunk*>, kChunks> chunks_{};
    std::atomic<uint32_t> epoch_{1};
    std::atomic<uint32_t> count_{0};  // numbers handed out this epoch
    std::mutex mutex_;
};

}  // namespace kovra_sim
