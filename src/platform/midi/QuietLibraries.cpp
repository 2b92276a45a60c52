// The libraries' error handlers, and the quiet probes: a sequencer handle opened and
// closed, a JACK client that never starts a server.
#include "platform/midi/QuietLibraries.h"

#include <mutex>

#include <alsa/asoundlib.h>
#include <jack/jack.h>

namespace vesk::platform::midi {

namespace {

constexpr const char* sequencerName = "default";
constexpr const char* probeClientName = "vesk-probe";

void ignoreAlsa(const char*, int, const char*, int, const char*, ...) {}
void ignoreJack(const char*) {}

}  // namespace

void quietMidiLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        snd_lib_error_set_handler(&ignoreAlsa);
        jack_set_error_function(&ignoreJack);
        jack_set_info_function(&ignoreJack);
    });
}

bool midiSystemRuns(PortApi api, std::string& why) {
    quietMidiLibraries();
    if (api == PortApi::Alsa) {
        snd_seq_t* sequencer = nullptr;
        const int error = snd_seq_open(&sequencer, sequencerName, SND_SEQ_OPEN_DUPLEX, 0);
        if (error < 0) {
            why = std::string("no ALSA sequencer: ") + snd_strerror(error);
            return false;
        }
        snd_seq_close(sequencer);
        return true;
    }
    jack_status_t status{};
    jack_client_t* client = jack_client_open(probeClientName, JackNoStartServer, &status);
    if (!client) {
        why = "no JACK server is running";
        return false;
    }
    jack_client_close(client);
    return true;
}

}  // namespace vesk::platform::midi
