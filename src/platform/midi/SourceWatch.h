// The sources that come and go while an input listens: a keyboard plugged in, a program
// started that has a MIDI output. A thread of its own looks at the MIDI system's sources a
// few times a second and connects each new one to our virtual input port, as `aconnect` or
// `jack_connect` would (the port stays the one port that delivers, so a source connected
// by hand as well is not heard twice); one that has gone is only said, the system has
// dropped its connection already. A line on stderr for each: "vesk: MIDI input 'X'
// connected", "vesk: MIDI input 'X' went away". Our own ports, ALSA's "Midi Through" and
// its system ports are left alone (see isSourceLeftAlone), and a source connected once is
// not connected again while it stays (someone may have disconnected it on purpose).
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "platform/midi/RtMidiPorts.h"

namespace vesk::platform::midi {

class JackWatch;

class SourceWatch {
public:
    // Connects the sources of `api` to the virtual input port `clientName` of this
    // process's client `clientName`. `server`: the JACK server's watch, or null; once the
    // server has gone nothing more is looked for (its watch has said so).
    SourceWatch(PortApi api, std::string clientName, const JackWatch* server);
    // Ends the thread; at most one look at the sources is waited for.
    ~SourceWatch();
    SourceWatch(const SourceWatch&) = delete;
    SourceWatch& operator=(const SourceWatch&) = delete;

private:
    void run();

    const PortApi api_;
    const std::string clientName_;
    const JackWatch* server_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool quit_ = false;   // under mutex_
    std::thread thread_;  // last: it starts once everything above is made
};

}  // namespace vesk::platform::midi
