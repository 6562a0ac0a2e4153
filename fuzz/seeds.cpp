// Writes fuzz/corpus from the real encoders, so the seeds follow the
// protocol: kovra-fuzz-seeds CORPUS_DIR.
#include <filesystem>
#include <fstream>
#include <string>

#include "wire/protocol.h"

using namespace kovra_sim;
namespace fs = std::filesystem;

namespace {

void write(fs::path const& dir, std::string const& name, std::string const& bytes) {
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary) << bytes;
}

std::string bytes(wire::FrameWriter& w) {
    return std::string(w.buffer().data(), w.buffer().size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    fs::path const corpus = argv[1];
    wire::FrameWriter w;
    wire::write_hello(w, {wire::kVersion, table_fingerprint(), 2, 1});
    std::string const hello = bytes(w);

    // A session: hello, an initiator, requests, a heartbeat, handlers, goodbye.
    w.clear();
    wire::begin_call(w, 1, fn_kovra_api_log_initiator_init, 3, 1);
    w.packer().pack(0);
    w.end();
    wire::begin_call(w, 2, fn_kovra_api_log_set_settings_send, 3, 4, "log");
    w.packer().pack("KOVRA_IPC").pack("err").pack("notset").pack("notset");
    w.end();
    wire::begin_call(w, 3, fn_kovra_api_log_get_tags_send, 3, 0, "log");
    w.end();
    wire::write_ping(w);
    wire::begin_call(w, 4, fn_kovra_api_broker_initiator_init, 4, 1);
    w.packer().pack(1);
    w.end();
    wire::begin_call(w, 5, fn_kovra_api_broker_new_target_register_event_handler, 4, 1);
    w.packer().pack(false);
    w.end();
    wire::begin_call(w, 6, fn_kovra_core_ipc_deinit, 2, 0);
    w.end();
    write(corpus / "frames", "session", std::string(1, '\x07') + hello + bytes(w));

    // The handshake fuzzer takes a function number, then one payload.
    w.clear();
    wire::write_welcome(w, {wire::kVersion, table_fingerprint(), 0, 300000});
    write(corpus / "handshake", "welcome", std::string(1, '\0') + bytes(w).substr(wire::kPrefix));
    w.clear();
    msgpack::sbuffer values;
    msgpack::packer<msgpack::sbuffer> p(values);
    p.pack(std::vector<std::string>{"alarm", "broker"})
        .pack(std::vector<std::string>{"0", "broker"});
    p.pack_array(2).pack_true().pack_false();
    wire::write_reply(w, 7, 3, values);
    write(corpus / "handshake", "targets",
          std::string(1, char(fn_kovra_api_broker_get_targets_send)) +
              bytes(w).substr(wire::kPrefix));
    w.clear();
    wire::write_event(w, {svc_exposure, 1, "tcp://127.0.0.1:7570"});
    write(corpus / "handshake", "event", std::string(1, '\0') + bytes(w).substr(wire::kPrefix));

    write(
        corpus / "directives", "all",
        "fail=kovra_api_led_get_state_send@3:-7; set=log.settings[KOVRA_IPC]=a\\,b,c,d;"
        "restart=exposure:0*2/10; latency=5; timeout=100; give_up=3; journal=/tmp/j; state=/tmp/s");
    write(corpus / "directives", "lists", "set=broker.targets=a|b,c|d,1|0");
    write(corpus / "directives", "wire",
          "seed=7; drop=every:3; drop=0.25; stall=50@0.5; slice=3; bandwidth=64; jitter=2; "
          "reboot=1@5");
    return 0;
}
