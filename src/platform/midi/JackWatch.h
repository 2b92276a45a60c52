// Whether the JACK server a port lives on is still there. RtMidi's JACK ports never notice
// the server going away, and its output then waits for ever for room in a ring buffer
// that no JACK cycle empties any more; a client of our own hears the server's shutdown,
// says so once on stderr, and the port stops sending before that wait can begin.
// Limit: a burst of over 2000 messages in the few milliseconds before the shutdown is
// heard could still fill RtMidi's buffer.
#pragma once

#include <memory>
#include <string>

namespace vesk::platform::midi {

class JackWatch {
public:
    // Watches the server for the port `what` ("MIDI output"), which goes on `without`
    // what it gave ("sound") once the server has gone. Null where no server answers.
    static std::unique_ptr<JackWatch> open(const std::string& clientName, std::string what,
                                           std::string without);
    ~JackWatch();
    JackWatch(const JackWatch&) = delete;
    JackWatch& operator=(const JackWatch&) = delete;

    // Any thread.
    bool gone() const;

private:
    struct State;
    explicit JackWatch(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace vesk::platform::midi
