// The watch is a JACK client with no ports that is never activated: it only listens for
// the server's shutdown notice, which libjack delivers on a thread of its own.
#include "platform/midi/JackWatch.h"

#include <jack/jack.h>

#include <atomic>
#include <cstdio>

namespace vesk::platform::midi {

namespace {

// Beside the port's own client, under a name that still marks it as ours.
constexpr char watchSuffix[] = "-watch";

}  // namespace

struct JackWatch::State {
    jack_client_t* client = nullptr;
    std::string what, without;
    std::atomic<bool> gone{false};

    // On libjack's thread.
    static void onShutdown(jack_status_t, const char*, void* self) {
        auto* state = static_cast<State*>(self);
        if (state->gone.exchange(true)) return;
        std::fprintf(stderr, "vesk: %s: the JACK server has gone away; the performance goes on without %s\n",
                     state->what.c_str(), state->without.c_str());
    }
};

JackWatch::JackWatch(std::unique_ptr<State> state) : state_(std::move(state)) {}

JackWatch::~JackWatch() {
    if (state_->client) jack_client_close(state_->client);
}

std::unique_ptr<JackWatch> JackWatch::open(const std::string& clientName, std::string what,
                                           std::string without) {
    auto state = std::make_unique<State>();
    state->what = std::move(what);
    state->without = std::move(without);
    const std::string name = clientName + watchSuffix;
    state->client = jack_client_open(name.c_str(), JackNoStartServer, nullptr);
    if (!state->client) return nullptr;
    jack_on_info_shutdown(state->client, &State::onShutdown, state.get());
    return std::unique_ptr<JackWatch>(new JackWatch(std::move(state)));
}

bool JackWatch::gone() const { return state_->gone; }

}  // namespace vesk::platform::midi
