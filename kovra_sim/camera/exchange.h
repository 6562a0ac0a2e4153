// How a request's values meet the camera: the camera reads each value sent
// into its own form (Value) and hands each out-parameter its value, by the
// argument's index in the request row. The client's typed call and the
// daemon's decoded frame each are one.
#pragma once

#include "common/value.h"

namespace kovra_sim {

class Exchange {
public:
    // Reads sent argument `arg` into `into`, whose type stays as it is.
    virtual void read(int arg, Value& into) = 0;
    // Hands out-parameter `arg` its value: called in argument order, while
    // the setting's lock is held.
    virtual void write(int arg, Value const& value) = 0;

protected:
    ~Exchange() = default;
};

}  // namespace kovra_sim
