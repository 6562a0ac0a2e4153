#pragma once

#include <kovra/kovra_api.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

// Registers `method` of the concrete service under its own name, so that a
// command's name can never differ from the method that runs it.
#define KOVRA_COMMAND(Service, method) addCommand(&Service::method, #method)

// Opens the service's initiator with the init function of service word `svc`.
#define KOVRA_OPEN_INITIATOR(svc) \
    openInitiator(&kovra_api_##svc##_initiator_init, "kovra_api_" #svc "_initiator_init")

// Logs "ERROR: <initName> failed status<N>" at level 3 and throws the same
// text as std::runtime_error: how every initiator that cannot be opened, a
// service's or the tester's broker, is reported.
[[noreturn]] void reportInitiatorFailure(void* logHandle, char const* initName, int32_t status);

// Base of the test services. A concrete service stands for one camera
// service: it owns one initiator on it, addresses every request to its target
// name and publishes a table of named commands. Commands take no arguments
// and return whether the camera accepted them; they never log, throw or
// retry. After construction a service never changes, so its commands may run
// from any number of threads at once without a lock.
class TestService {
public:
    typedef bool (TestService::*Method)();
    typedef std::vector<std::pair<Method, std::string>> CommandTable;

    TestService(TestService const&) = delete;
    TestService& operator=(TestService const&) = delete;
    virtual ~TestService() = default;

    std::string const& targetName() const { return targetName_; }
    CommandTable const& commands() const { return commands_; }

protected:
    typedef int32_t (*InitiatorInit)(void*, void*, kovra_initiator**, int32_t, int32_t);

    // Borrows both handles; the initiator stays null until openInitiator.
    TestService(void* ipcHandle, void* logHandle, char const* targetName);

    template <class Service>
    void addCommand(bool (Service::*method)(), char const* name) {
        commands_.emplace_back(static_cast<Method>(method), name);
    }

    // Opens the initiator after the commands are registered. On a non-zero
    // status, logs "ERROR: <initName> failed status<N>" at level 3 and throws
    // it as std::runtime_error; no initiator is then left to release.
    void openInitiator(InitiatorInit init, char const* initName);

    kovra_initiator* initiator() const { return initiator_; }
    char const* target() const { return targetName_.c_str(); }

    // Get: zeroed out-parameters, one request, values discarded. Texts and
    // arrays the reply hands over are released in argument order whatever
    // the status, so a failed request releases null or what the library left.
    template <class... Out>
    bool get(int32_t (*request)(kovra_initiator*, char const*, Out*...)) const {
        return receive<Out...>([&](Out*... out) { return request(initiator_, target(), out...); });
    }

    // Get whose request takes fixed leading inputs (a stream, a tag).
    template <class In, class... Out>
    bool get(int32_t (*request)(kovra_initiator*, char const*, In, Out*...),
             std::common_type_t<In> in) const {
        return receive<Out...>(
            [&](Out*... out) { return request(initiator_, target(), in, out...); });
    }
    template <class In1, class In2, class... Out>
    bool get(int32_t (*request)(kovra_initiator*, char const*, In1, In2, Out*...),
             std::common_type_t<In1> in1, std::common_type_t<In2> in2) const {
        return receive<Out...>(
            [&](Out*... out) { return request(initiator_, target(), in1, in2, out...); });
    }

    // Set (write-back): read the setting, then write back the first value
    // read, unchanged; the other values read are discarded. Without a
    // successful read nothing is written.
    template <class T, class... Rest>
    bool writeBack(int32_t (*read)(kovra_initiator*, char const*, T*, Rest*...),
                   int32_t (*write)(kovra_initiator*, char const*, T)) const {
        T first{};
        std::tuple<Rest...> rest{};
        int32_t status =
            std::apply([&](Rest&... r) { return read(initiator_, target(), &first, &r...); }, rest);
        return status == 0 && write(initiator_, target(), first) == 0;
    }

    // Action: a single request with nothing but the initiator and target.
    bool action(int32_t (*request)(kovra_initiator*, char const*)) const {
        return request(initiator_, target()) == 0;
    }

private:
    // Makes `send` with the addresses of zeroed values of the types Out, then
    // releases what they received.
    template <class... Out, class Send>
    static bool receive(Send send) {
        std::tuple<Out...> values{};
        int32_t status = std::apply([&](Out&... v) { return send(&v...); }, values);
        std::apply([](Out&... v) { (release(v), ...); }, values);
        return status == 0;
    }

    // What a reply hands over: texts go back to the C library, arrays to the
    // client library; plain values are the caller's own storage.
    static void release(char* text) { std::free(text); }
    static void release(kovra_string_array* array) { kovra_core_free_string_array(array); }
    static void release(kovra_bool_array* array) { kovra_core_free_bool_array(array); }
    template <class Value>
    static void release(Value) {}

    void* ipcHandle_;
    void* logHandle_;
    kovra_initiator* initiator_;
    std::string targetName_;
    CommandTable commands_;
};
