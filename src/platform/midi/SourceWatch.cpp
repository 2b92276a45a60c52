// The connecting is done by a client of the watch's own, through ALSA's sequencer or
// libjack directly (RtMidi can only connect its own ports). The sources carry the names
// RtMidi gives them, the names --list-ports shows and --in-port takes.
#include "platform/midi/SourceWatch.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "platform/midi/JackWatch.h"

namespace vesk::platform::midi {

namespace {

// How often the sources are looked at: a keyboard plugged in is heard within half a second.
constexpr auto lookInterval = std::chrono::milliseconds(400);
// Looks after which a virtual port of ours that cannot be found is said (it should be
// there from the first).
constexpr int looksForOwnPort = 10;
// Beside the input's own client, under a name that still marks it as ours.
constexpr char watchSuffix[] = "-sources";

// One whole line, so that it does not mix with another thread's.
void say(const std::string& line) { std::cerr << ("vesk: " + line + "\n") << std::flush; }

enum class Connection { Made, NotYet, Refused };

// The MIDI system's sources as a client of the watch's own sees them.
class Graph {
public:
    virtual ~Graph() = default;
    // Every source by RtMidi's name for it, the graph's own client left out.
    virtual std::vector<std::string> sources() = 0;
    // Connects the source `name` of the last sources() to our virtual port: NotYet while
    // that port cannot be found, Refused with `why`.
    virtual Connection connect(const std::string& name, std::string& why) = 0;
};

// ---------------------------------------------------------------- JACK

class JackGraph final : public Graph {
public:
    static std::unique_ptr<Graph> open(const std::string& clientName, std::string& why) {
        const std::string name = clientName + watchSuffix;
        jack_client_t* client = jack_client_open(name.c_str(), JackNoStartServer, nullptr);
        if (!client) {
            why = "no JACK server is running";
            return nullptr;
        }
        if (jack_activate(client) != 0) {
            jack_client_close(client);
            why = "the JACK client cannot be activated";
            return nullptr;
        }
        return std::unique_ptr<Graph>(new JackGraph(client, clientName));
    }

    ~JackGraph() override { jack_client_close(client_); }

    std::vector<std::string> sources() override {
        return ports(JackPortIsOutput);  // the ports RtMidi's input lists, in its order
    }

    Connection connect(const std::string& name, std::string& why) override {
        if (ownInput_.empty()) ownInput_ = findOwnInput();
        if (ownInput_.empty()) return Connection::NotYet;
        const int error = jack_connect(client_, name.c_str(), ownInput_.c_str());
        if (error == 0 || error == EEXIST) return Connection::Made;  // EEXIST: by hand already
        why = "JACK error " + std::to_string(error);
        return Connection::Refused;
    }

private:
    JackGraph(jack_client_t* client, std::string clientName)
        : client_(client), clientName_(std::move(clientName)) {}

    std::vector<std::string> ports(unsigned long flags) {
        std::vector<std::string> names;
        const char** found = jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE, flags);
        if (!found) return names;
        for (const char** name = found; *name; ++name) names.emplace_back(*name);
        jack_free(found);
        return names;
    }

    // RtMidi's virtual input "C:Vesk", where C is "Vesk" or, beside another client of that
    // name, "Vesk-01" and so on: the only such port (ours is one of them), else the one
    // whose client is this process's.
    std::string findOwnInput() {
        std::vector<std::string> all, mine;
        for (const std::string& name : ports(JackPortIsInput)) {
            const std::size_t colon = name.find(':');
            if (colon == std::string::npos || name.compare(colon + 1, std::string::npos, clientName_) != 0)
                continue;
            const std::string client = name.substr(0, colon);
            if (client != clientName_ && client.rfind(clientName_ + "-", 0) != 0) continue;
            all.push_back(name);
            if (jack_get_client_pid(client.c_str()) == getpid()) mine.push_back(name);
        }
        if (all.size() == 1) return all.front();
        if (mine.size() == 1) return mine.front();
        return {};
    }

    jack_client_t* client_;
    std::string clientName_;
    std::string ownInput_;
};

// ---------------------------------------------------------------- ALSA

class AlsaGraph final : public Graph {
public:
    static std::unique_ptr<Graph> open(const std::string& clientName, std::string& why) {
        snd_seq_t* sequencer = nullptr;
        const int error = snd_seq_open(&sequencer, "default", SND_SEQ_OPEN_DUPLEX, 0);
        if (error < 0) {
            why = std::string("no ALSA sequencer: ") + snd_strerror(error);
            return nullptr;
        }
        snd_seq_set_client_name(sequencer, (clientName + watchSuffix).c_str());
        return std::unique_ptr<Graph>(new AlsaGraph(sequencer, clientName));
    }

    ~AlsaGraph() override { snd_seq_close(sequencer_); }

    // As RtMidi's input lists them: every client but the system's (0), each port of a MIDI
    // kind that can be read from and subscribed to, as "client:port client-number:port-number".
    std::vector<std::string> sources() override {
        addresses_.clear();
        std::vector<std::string> names;
        forEachPort([&](snd_seq_client_info_t* client, const snd_seq_port_info_t* port) {
            const unsigned type = snd_seq_port_info_get_type(port);
            if ((type & (SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_SYNTH |
                         SND_SEQ_PORT_TYPE_APPLICATION)) == 0)
                return;
            const unsigned wanted = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
            if ((snd_seq_port_info_get_capability(port) & wanted) != wanted) return;
            const snd_seq_addr_t address = *snd_seq_port_info_get_addr(port);
            const std::string name = std::string(snd_seq_client_info_get_name(client)) + ":" +
                                     snd_seq_port_info_get_name(port) + " " +
                                     std::to_string(address.client) + ":" + std::to_string(address.port);
            addresses_[name] = address;
            names.push_back(name);
        });
        return names;
    }

    Connection connect(const std::string& name, std::string& why) override {
        if (!ownInput_) ownInput_ = findOwnInput();
        if (!ownInput_) return Connection::NotYet;
        const auto source = addresses_.find(name);
        if (source == addresses_.end()) return Connection::NotYet;
        snd_seq_port_subscribe_t* subscription = nullptr;
        snd_seq_port_subscribe_alloca(&subscription);
        snd_seq_port_subscribe_set_sender(subscription, &source->second);
        snd_seq_port_subscribe_set_dest(subscription, &*ownInput_);
        const int error = snd_seq_subscribe_port(sequencer_, subscription);
        if (error == 0 || error == -EBUSY) return Connection::Made;  // EBUSY: by hand already
        why = snd_strerror(error);
        return Connection::Refused;
    }

private:
    AlsaGraph(snd_seq_t* sequencer, std::string clientName)
        : sequencer_(sequencer), self_(snd_seq_client_id(sequencer)), clientName_(std::move(clientName)) {}

    template <class Visit>
    void forEachPort(Visit visit) {
        snd_seq_client_info_t* client = nullptr;
        snd_seq_port_info_t* port = nullptr;
        snd_seq_client_info_alloca(&client);
        snd_seq_port_info_alloca(&port);
        snd_seq_client_info_set_client(client, -1);
        while (snd_seq_query_next_client(sequencer_, client) >= 0) {
            const int number = snd_seq_client_info_get_client(client);
            if (number == SND_SEQ_CLIENT_SYSTEM || number == self_) continue;
            snd_seq_port_info_set_client(port, number);
            snd_seq_port_info_set_port(port, -1);
            while (snd_seq_query_next_port(sequencer_, port) >= 0) visit(client, port);
        }
    }

    // RtMidi's virtual input: the port called `clientName` that can be written to, of a
    // client of that name: the only such port (ours is one of them), else the one whose
    // client is this process's.
    std::optional<snd_seq_addr_t> findOwnInput() {
        std::vector<snd_seq_addr_t> all, mine;
        forEachPort([&](snd_seq_client_info_t* client, const snd_seq_port_info_t* port) {
            if (clientName_ != snd_seq_client_info_get_name(client) || clientName_ != snd_seq_port_info_get_name(port))
                return;
            const unsigned wanted = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
            if ((snd_seq_port_info_get_capability(port) & wanted) != wanted) return;
            all.push_back(*snd_seq_port_info_get_addr(port));
            if (snd_seq_client_info_get_pid(client) == getpid()) mine.push_back(all.back());
        });
        if (all.size() == 1) return all.front();
        if (mine.size() == 1) return mine.front();
        return std::nullopt;
    }

    snd_seq_t* sequencer_;
    int self_;
    std::string clientName_;
    std::optional<snd_seq_addr_t> ownInput_;
    std::map<std::string, snd_seq_addr_t> addresses_;  // of the last sources()
};

// ---------------------------------------------------------------- what was seen

// The sources between two looks, and what was said of them.
class Sources {
public:
    Sources(PortApi api, std::string clientName) : api_(api), clientName_(std::move(clientName)) {}

    void look(Graph& graph) {
        std::vector<std::string> names = graph.sources();
        std::erase_if(names, [this](const std::string& name) {
            return name.empty() || isSourceLeftAlone(api_, name, clientName_);
        });
        const auto there = [&](const std::string& name) {
            return std::find(names.begin(), names.end(), name) != names.end();
        };
        for (auto it = connected_.begin(); it != connected_.end();) {
            if (there(*it)) {
                ++it;
                continue;
            }
            say("MIDI input '" + *it + "' went away");
            it = connected_.erase(it);
        }
        std::erase_if(refused_, [&](const std::string& name) { return !there(name); });
        for (const std::string& name : names) {
            if (connected_.contains(name) || refused_.contains(name)) continue;
            std::string why;
            switch (graph.connect(name, why)) {
            case Connection::Made:
                connected_.insert(name);
                say("MIDI input '" + name + "' connected");
                break;
            case Connection::Refused:
                refused_.insert(name);  // until it goes away and comes back
                say("MIDI input '" + name + "' cannot be connected (" + why + ")");
                break;
            case Connection::NotYet:
                if (++looksWithoutOwnPort_ == looksForOwnPort)
                    say("MIDI input: Vesk's own input port is not found; sources are not connected to it");
                return;
            }
        }
    }

private:
    PortApi api_;
    std::string clientName_;
    std::set<std::string> connected_;  // by us or by hand; either way they are heard
    std::set<std::string> refused_;
    int looksWithoutOwnPort_ = 0;
};

}  // namespace

SourceWatch::SourceWatch(PortApi api, std::string clientName, const JackWatch* server)
    : api_(api), clientName_(std::move(clientName)), server_(server), thread_([this] { run(); }) {}

SourceWatch::~SourceWatch() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void SourceWatch::run() {
    std::string why;
    std::unique_ptr<Graph> graph =
        api_ == PortApi::Alsa ? AlsaGraph::open(clientName_, why) : JackGraph::open(clientName_, why);
    if (!graph) say("MIDI input: sources are not connected as they appear (" + why + ")");
    Sources sources(api_, clientName_);
    std::unique_lock lock(mutex_);
    while (!quit_) {
        // A server that has gone answers nothing any more; its watch has said so.
        if (graph && !(server_ && server_->gone())) {
            lock.unlock();
            sources.look(*graph);
            lock.lock();
        }
        wake_.wait_for(lock, lookInterval, [this] { return quit_; });
    }
}

}  // namespace vesk::platform::midi
