#pragma once

#include <atomic>

// Set once a stop was asked for. It is the program's one global because a
// signal handler can reach nothing else; nothing is published through it, so
// relaxed loads and stores are enough.
extern std::atomic<bool> stopFlag;

// From now on, the first SIGINT or SIGTERM asks the workers to stop after
// their current command, so that the run ends as usual with the report of
// what ran; then a SIGINT, or a SIGTERM after a SIGINT, takes its default
// action and ends the process at once (a SIGTERM after a SIGTERM is the same
// request again).
void stopOnFirstSignal();

// Whether the workers should stop: one relaxed load, cheap enough to ask
// before every command.
inline bool stopRequested() { return stopFlag.load(std::memory_order_relaxed); }
