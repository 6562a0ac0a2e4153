// The handles the stand-in hands out (log, IPC, initiators) and the arrays
// requests return. A handle is the address of its Handle object; released
// handles stay known (and their memory reserved) until the next reset, so a
// stale pointer reads as released rather than as a newer handle that reuses
// its address. Thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace kovra_sim {

enum class HandleKind { log, ipc, initiator };

struct Handle {
    HandleKind kind;
    uint32_t number = 0;  // "#N" of the journal
    bool live = true;
    int service = -1;           // initiators
    bool events = false;        // initiators
    void const* ipc = nullptr;  // initiators: the IPC handle they were opened on
};

class Registry {
public:
    // Registers a new handle and returns its address.
    void* open(Handle handle);
    // Releases a live handle of that kind; false if it isn't one.
    bool close(void const* p, HandleKind kind);
    // Copies a live handle of that kind into *out; false if it isn't one.
    bool live(void const* p, HandleKind kind, Handle* out = nullptr) const;
    // The journal number of any handle ever opened since the reset, else 0.
    uint32_t number(void const* p) const;

    // Numbers a new array and counts it outstanding.
    uint32_t add_array(void const* p);
    // Forgets an outstanding array; false if it isn't one.
    bool remove_array(void const* p);
    uint32_t outstanding_arrays() const;

    // Forgets every handle, live or released, and restarts numbering from 1.
    // Outstanding arrays are memory the caller still owns: they stay
    // outstanding and may still be released; only their numbering restarts.
    void reset();

private:
    mutable std::mutex mutex_;
    std::unordered_map<void const*, std::unique_ptr<Handle>> handles_;
    uint32_t next_handle_ = 1;
    std::unordered_set<void const*> arrays_;
    uint32_t next_array_ = 1;
};

}  // namespace kovra_sim
