// The replies of one request on their way to the caller's out-parameters.
// Values are copied here first (texts and arrays allocated, numbers kept in
// place, nothing else on the heap) and written to the out-parameters only
// once the whole request has succeeded; whatever was not handed over is
// freed when the staging ends.
#pragma once

#include <string_view>

#include "arrays.h"
#include "camera.h"
#include "protocol.h"

namespace kovra_sim {

class Staging final : public Replies, public wire::ValueSink {
public:
    explicit Staging(FunctionInfo const& function);
    Staging(Staging const&) = delete;
    Staging& operator=(Staging const&) = delete;
    ~Staging();

    void put(int arg, Value const& value) override;

    // The same, value by value, for replies that arrive encoded.
    void number(int arg, int64_t value) override { slots_[arg].number = value; }
    void real(int arg, double value) override { slots_[arg].real = value; }
    void text(int arg, std::string_view value) override;
    void texts(int arg, msgpack::object_array const& items) override;
    void bools(int arg, msgpack::object_array const& items) override;

    // Writes every value to its out-parameter (argv[i] for argument i) and
    // numbers the arrays in `arrays`.
    void commit(void* const* argv, Arrays& arrays);

private:
    // Only the out-parameters' slots are set up: a request makes one of
    // these every time.
    struct Slot {
        int64_t number;
        double real;
        void* owned;  // a text or an array
    };
    FunctionInfo const& function_;
    Slot slots_[kMaxArgs];
};

}  // namespace kovra_sim
