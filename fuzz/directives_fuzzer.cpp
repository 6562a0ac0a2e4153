// Directives as KOVRA_SIM, --sim and POST /directives take them, and the
// settings they give applied to a camera when they parse.
#include <string>

#include "camera/config.h"

using namespace kovra_sim;

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    static Camera* const camera = new Camera();
    std::string const text(reinterpret_cast<char const*>(data), size);
    // Each place a list is given at has a vocabulary of its own.
    for (Place const place : {Place::sim, Place::daemon, Place::post}) {
        Config config;
        std::string error;
        if (!parse_config(text, place, camera->settings, config, error)) continue;
        for (Config::Set const& s : config.sets) {
            camera->settings.put(s.instance, s.values);
            std::vector<Value> back;
            // What the camera stores must read back through its own text form.
            if (!camera->settings.parse(
                    s.instance, format_values(camera->settings.values(s.instance)), back, error) ||
                back != s.values) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
