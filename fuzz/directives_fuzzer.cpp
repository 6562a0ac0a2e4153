// The control directives of KOVRA_SIM and the daemon's --sim, parsed
// against the camera's settings, and applied to a camera when they parse.
#include <string>

#include "camera/config.h"

using namespace kovra_sim;

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    static Camera* const camera = new Camera();
    Config config;
    std::string error;
    if (!parse_config(std::string(reinterpret_cast<char const*>(data), size), camera->settings,
                      config, error)) {
        return 0;
    }
    for (Config::Set const& s : config.sets) {
        camera->settings.put(s.instance, s.values);
        std::vector<Value> back;
        // What the camera stores must read back through its own text form.
        if (!camera->settings.parse(s.instance, format_values(camera->settings.values(s.instance)),
                                    back, error) ||
            back != s.values) {
            __builtin_trap();
        }
    }
    return 0;
}
