// The real MIDI devices: RtMidi ports on a JACK dummy server this test starts itself, the
// embedded synthesiser rendering offline (sound, pitch, silence after a release), and the
// driver table's choices. Skipped only where jackd or a SoundFont is not installed.
#include <gtest/gtest.h>

#include <algorithm>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <numbers>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <RtMidi.h>

#include "platform/midi/FluidSynthOutput.h"
#include "platform/midi/MidiDrivers.h"
#include "platform/midi/RecordingMidiOutput.h"
#include "platform/midi/RtMidiPorts.h"
#ifdef VESK_PROGRAM
#include "support/Subprocess.h"
#include "support/XServer.h"
#endif

#if defined(__SANITIZE_ADDRESS__)
// LeakSanitizer: RtMidi's JACK output, asked for its ports while no JACK server runs, makes
// a new 16 KiB ring buffer (through JACK's client library) at every attempt to connect
// and frees only the last. Only that allocation site inside libjack is named; a leak in
// our own code, or anywhere else in RtMidi, FluidSynth or SDL, still fails the run.
extern "C" const char* __lsan_default_suppressions() { return "leak:jack_ringbuffer_create\n"; }
#endif

using namespace vesk::platform;
using namespace vesk::platform::midi;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

namespace {

// Generous: the waits end as soon as the bytes are there; this only bounds a broken run.
constexpr auto deliveryTimeout = 10s;

// ---------------------------------------------------------------- a JACK server of our own

// Runs `argv`, found on PATH, with its output to `logPath` (or nowhere); the child dies with us.
pid_t spawn(const std::vector<std::string>& argv, const std::string& logPath) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int out = open(logPath.empty() ? "/dev/null" : logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out >= 0) {
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

// jackd with the dummy driver under a server name no other run uses; its clients (ours
// and RtMidi's) find it through JACK_DEFAULT_SERVER.
class JackServer {
public:
    // Empty when the server is up; else why not. A server that dies at once (a busy machine,
    // the last one's shared memory not yet gone) is given two more tries.
    std::string start() {
        if (std::system("command -v jackd >/dev/null && command -v jack_lsp >/dev/null") != 0) return "not installed";
        std::string why;
        for (int attempt = 0; attempt < 3; ++attempt) {
            why = startOnce();
            if (why.empty() || why.rfind("jackd exited", 0) != 0) return why;
            std::this_thread::sleep_for(500ms);
        }
        return why;
    }

    // The server dies at once, as a crash would end it.
    void crash() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    ~JackServer() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        for (int i = 0; i < 100; ++i) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
            std::this_thread::sleep_for(50ms);
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }

private:
    std::string startOnce() {
        // One name per build's test folder, never a fresh one per server: JACK keeps eight
        // servers in its registry and reclaims the entry of a server that died without
        // leaving (the crash test's) only for a server of the same name.
        const char* dir = std::getenv("VESK_TEST_OUTPUT");
        name_ = "vesk-test-" + std::to_string(std::hash<std::string>{}(dir ? dir : "") % 100000);
        setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
        // Clients must not start a server of their own with the machine's settings.
        setenv("JACK_NO_START_SERVER", "1", 1);
        std::string log;
        if (dir) {
            std::filesystem::create_directories(dir);
            log = std::string(dir) + "/jackd-" + name_ + ".log";
        }
        pid_ = spawn({"jackd", "-n", name_, "-t", "5000", "-d", "dummy", "-r", "48000", "-p", "512"}, log);
        // Up when a client can list its ports.
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return "jackd exited at start (see " + (log.empty() ? "its output" : log) + ")";
            }
            const pid_t probe = spawn({"jack_lsp"}, "");
            if (waitpid(probe, &status, 0) == probe && WIFEXITED(status) && WEXITSTATUS(status) == 0)
                return {};
            std::this_thread::sleep_for(50ms);
        }
        return "jackd did not accept clients";
    }

private:
    std::string name_;
    pid_t pid_ = -1;
};

// Messages as they arrive from any thread, and a wait for a number of them.
template <class T>
class Inbox {
public:
    void add(T item) {
        std::lock_guard lock(mutex_);
        items_.push_back(std::move(item));
        arrived_.notify_all();
    }
    std::vector<T> waitFor(std::size_t count, std::chrono::milliseconds timeout = deliveryTimeout) {
        std::unique_lock lock(mutex_);
        arrived_.wait_for(lock, timeout, [&] { return items_.size() >= count; });
        return items_;
    }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<T> items_;
};

// Standard error into a file while it lives, to be read at any time (gtest's capture can
// be read only once, when it ends).
class StderrFile {
public:
    StderrFile() {
        std::fflush(stderr);
        char path[] = "/tmp/vesk-stderr-XXXXXX";
        file_ = mkstemp(path);
        path_ = path;
        saved_ = dup(STDERR_FILENO);
        dup2(file_, STDERR_FILENO);
    }
    ~StderrFile() {
        std::fflush(stderr);
        dup2(saved_, STDERR_FILENO);
        close(saved_);
        close(file_);
        std::filesystem::remove(path_);
    }

    std::string text() const {
        std::ifstream in(path_);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::size_t count(const std::string& line) const {
        const std::string said = text();
        std::size_t n = 0;
        for (std::size_t at = said.find(line); at != std::string::npos; at = said.find(line, at + 1)) ++n;
        return n;
    }
    // How often `line` has been said once it has been said `times` times, or the wait ended.
    std::size_t waitFor(const std::string& line, std::size_t times) const {
        const auto deadline = std::chrono::steady_clock::now() + deliveryTimeout;
        while (count(line) < times && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(20ms);
        return count(line);
    }

private:
    int file_ = -1;
    int saved_ = -1;
    std::string path_;
};

void collectBytes(double, std::vector<unsigned char>* message, void* inbox) {
    static_cast<Inbox<Bytes>*>(inbox)->add(Bytes(message->begin(), message->end()));
}

// As our own outputs do: RtMidi's JACK output frees its ring buffer before closing its
// client, so it is closed and given a few cycles before it goes.
struct SettlingDelete {
    void operator()(RtMidiOut* out) const {
        out->closePort();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        delete out;
    }
};
using JackOut = std::unique_ptr<RtMidiOut, SettlingDelete>;

class JackPorts : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string why = server_.start();
        if (why == "not installed") GTEST_SKIP() << "jackd2 (jackd, jack_lsp) is not installed";
        ASSERT_TRUE(why.empty()) << why;
    }

    // A receiving port of the test's own, as another program on the JACK graph would have.
    std::unique_ptr<RtMidiIn> receiver(const std::string& client, Inbox<Bytes>& inbox) {
        auto in = std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, client);
        in->ignoreTypes(false, false, false);
        in->setCallback(&collectBytes, &inbox);
        in->openVirtualPort("in");
        return in;
    }

    // A sender of the test's own, connected to the port whose name is `target`.
    JackOut senderTo(const std::string& client, const std::string& target) {
        JackOut out(new RtMidiOut(RtMidi::UNIX_JACK, client));
        for (unsigned i = 0; i < out->getPortCount(); ++i)
            if (out->getPortName(i) == target) {
                out->openPort(i, "out");
                return out;
            }
        ADD_FAILURE() << "no JACK port " << target;
        return nullptr;
    }

    static constexpr PortApi jack[] = {PortApi::Jack};

    JackServer server_;
};

}  // namespace

TEST(MidiInputWords, PackCompleteShortMessagesOnly) {
    struct Case {
        Bytes bytes;
        std::optional<std::uint32_t> word;
    };
    const Case cases[] = {
        {{0x90, 0x3C, 0x40}, 0x403C90},
        {{0xC5, 0x07}, 0x07C5},
        {{0xF8}, 0xF8},
        {{0xE0, 0x00, 0x7F}, 0x7F00E0},
        {{}, std::nullopt},
        {{0x3C, 0x40}, std::nullopt},              // no status byte
        {{0x90, 0x3C, 0x40, 0x00}, std::nullopt},  // too long
        {{0xF0, 0x7E, 0xF7}, std::nullopt},        // system exclusive, however short
        {{0x90, 0x90, 0x40}, std::nullopt},        // a status where data belongs
    };
    for (const Case& c : cases) EXPECT_EQ(packShortMessage(c.bytes), c.word) << ::testing::PrintToString(c.bytes);
}

TEST_F(JackPorts, OutputCarriesShortLongAndResetMessagesWhole) {
    Inbox<Bytes> inbox;
    auto in = receiver("VeskTestReceiver", inbox);
    std::string description;
    auto out = openPortOutput(jack, "VeskTestReceiver:in", "VeskTestPlayer", description);
    ASSERT_TRUE(out) << description;
    EXPECT_EQ(description, "jack, port VeskTestReceiver:in");

    out->sendShort(0x644590);      // note-on 69, velocity 100
    out->sendShort(0x80C3);        // a data byte with its top bit: not a message, not sent
    out->sendShort(0x3C);          // no status byte: not sent
    out->sendShort(0x05C0);        // program change 5, two bytes on the wire
    const Bytes sysex = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    out->sendLong(sysex);
    const std::vector<Bytes> expected = {{0x90, 0x45, 0x64}, {0xC0, 0x05}, sysex};
    EXPECT_EQ(inbox.waitFor(expected.size()), expected);

    // Reset: pedals up, then all notes off and all sound off, on every channel.
    out->reset();
    const std::vector<Bytes> all = inbox.waitFor(expected.size() + 16 * 4);
    ASSERT_EQ(all.size(), expected.size() + 16 * 4);
    for (int channel = 0; channel < 16; ++channel) {
        const auto status = std::uint8_t(0xB0 + channel);
        const std::size_t at = expected.size() + std::size_t(channel) * 4;
        EXPECT_EQ(all[at], (Bytes{status, 64, 0})) << channel;
        EXPECT_EQ(all[at + 1], (Bytes{status, 66, 0})) << channel;
        EXPECT_EQ(all[at + 2], (Bytes{status, 123, 0})) << channel;
        EXPECT_EQ(all[at + 3], (Bytes{status, 120, 0})) << channel;
    }
}

TEST_F(JackPorts, VirtualInputDeliversWordsToTheSinkUntilStopped) {
    std::string description;
    auto input = openPortInput(jack, "", "VeskTestListener", description);
    ASSERT_TRUE(input) << description;
    EXPECT_EQ(description, "jack, virtual port VeskTestListener");

    Inbox<std::uint32_t> words;
    std::mutex gate;  // held by the test to keep the sink busy, when it wants to
    ASSERT_TRUE(input->start([&](std::uint32_t word) {
        words.add(word);
        std::lock_guard wait(gate);
    }));
    auto out = senderTo("VeskTestKeyboard", "VeskTestListener:VeskTestListener");
    ASSERT_TRUE(out);
    const std::vector<Bytes> sent = {
        {0x90, 0x3C, 0x40}, {0xC5, 0x07}, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, {0xF8}, {0x80, 0x3C, 0x00}};
    for (const Bytes& b : sent) out->sendMessage(b.data(), b.size());
    const std::vector<std::uint32_t> expected = {0x403C90, 0x07C5, 0xF8, 0x3C80};
    EXPECT_EQ(words.waitFor(expected.size()), expected);

    // stop() must wait for a sink that is running, and after it the sink is never called.
    std::unique_lock busy(gate);
    out->sendMessage(Bytes{0x90, 0x40, 0x40}.data(), 3);
    ASSERT_EQ(words.waitFor(expected.size() + 1).size(), expected.size() + 1);
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        input->stop();
        stopped = true;
    });
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(stopped) << "stop() returned while the sink was running";
    busy.unlock();
    stopper.join();
    EXPECT_TRUE(stopped);
    out->sendMessage(Bytes{0x80, 0x40, 0x00}.data(), 3);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(words.waitFor(0).size(), expected.size() + 1) << "the sink was called after stop()";
}

TEST_F(JackPorts, TheServerDyingDuringPlayIsSaidOnceAndThePortsPlayOnSilentlyAndClose) {
    Inbox<Bytes> heard;
    auto receiving = receiver("VeskTestReceiver", heard);
    std::string description;
    auto out = openPortOutput(jack, "VeskTestReceiver:in", "VeskTestPlayer", description);
    ASSERT_TRUE(out) << description;
    // Connecting sources as they appear (our output is one of them): that watch too must
    // neither hang nor say that each source went away.
    testing::internal::CaptureStderr();
    auto in = openPortInput(jack, "", "VeskTestListener", description, SourceConnecting::AsTheyAppear);
    ASSERT_TRUE(in) << description;
    Inbox<std::uint32_t> words;
    ASSERT_TRUE(in->start([&](std::uint32_t word) { words.add(word); }));
    out->sendShort(0x644590);
    ASSERT_EQ(heard.waitFor(1).size(), 1u);
    // Until the watch has connected the output to the input.
    const auto deadline = std::chrono::steady_clock::now() + deliveryTimeout;
    while (words.waitFor(1, 50ms).empty() && std::chrono::steady_clock::now() < deadline) out->sendShort(0x644590);
    ASSERT_FALSE(words.waitFor(0, 0ms).empty());

    server_.crash();
    // Playing on at two messages a millisecond, more than RtMidi's buffer holds (about
    // 2300), then the program's end: every call returns. A hang fails the test when the
    // watchdog bites.
    std::atomic<bool> done{false};
    std::thread play([&] {
        for (int i = 0; i < 3000; ++i) {
            out->sendShort(i % 2 ? 0x004580u : 0x644590u);
            if (i % 2) std::this_thread::sleep_for(1ms);
        }
        out->reset();
        out.reset();
        in->stop();
        in.reset();
        receiving.reset();
        done = true;
    });
    const auto stopAt = std::chrono::steady_clock::now() + 30s;
    while (!done && std::chrono::steady_clock::now() < stopAt) std::this_thread::sleep_for(10ms);
    if (!done) {
        ADD_FAILURE() << "a port blocked after the JACK server died";
        std::fflush(stdout);
        std::_Exit(1);  // the blocked thread cannot be joined
    }
    play.join();
    const std::string said = testing::internal::GetCapturedStderr();
    for (const char* line : {"vesk: MIDI output: the JACK server has gone away; the performance goes on without sound\n",
                             "vesk: MIDI input: the JACK server has gone away; the performance goes on without live input\n"}) {
        const std::size_t at = said.find(line);
        EXPECT_NE(at, std::string::npos) << said;
        EXPECT_EQ(said.rfind(line), at) << said;
    }
    EXPECT_EQ(said.find("went away\n"), std::string::npos) << said;
}

TEST_F(JackPorts, InputOnANamedSourceAndTheFallbackFromAlsa) {
    // A source that exists before we listen, found by part of its name.
    JackOut source(new RtMidiOut(RtMidi::UNIX_JACK, "VeskTestSource"));
    source->openVirtualPort("keys");
    // --list-ports names it as --in-port takes it, and leaves out the client's own ports.
    std::string why;
    const auto listed = listPorts(PortApi::Jack, PortDirection::Input, "VeskTestSource", why);
    ASSERT_TRUE(listed) << why;
    EXPECT_EQ(std::count(listed->begin(), listed->end(), "VeskTestSource:keys"), 0);
    const auto others = listPorts(PortApi::Jack, PortDirection::Input, "VeskTestNamed", why);
    ASSERT_TRUE(others) << why;
    EXPECT_EQ(std::count(others->begin(), others->end(), "VeskTestSource:keys"), 1);
    std::string description;
    auto input = openPortInput(jack, "VeskTestSource", "VeskTestNamed", description);
    ASSERT_TRUE(input) << description;
    EXPECT_EQ(description, "jack, port VeskTestSource:keys");
    Inbox<std::uint32_t> words;
    ASSERT_TRUE(input->start([&](std::uint32_t word) { words.add(word); }));
    source->sendMessage(Bytes{0x91, 0x30, 0x7F}.data(), 3);
    EXPECT_EQ(words.waitFor(1), (std::vector<std::uint32_t>{0x7F3091}));

    std::string missing;
    const PortApi both[] = {PortApi::Alsa, PortApi::Jack};
    EXPECT_FALSE(openPortInput(jack, "NoSuchSource", "VeskTestMissing", missing));
    EXPECT_NE(missing.find("no port called \"NoSuchSource\""), std::string::npos) << missing;

    // ALSA first; without its sequencer RtMidi throws, and JACK takes over.
    const bool alsaSequencer = std::filesystem::exists("/dev/snd/seq");
    std::string taken;
    auto fallback = openPortInput(both, "", "VeskTestFallback", taken);
    ASSERT_TRUE(fallback) << taken;
    EXPECT_EQ(taken.substr(0, 4), alsaSequencer ? "alsa" : "jack") << taken;
}

TEST_F(JackPorts, AutoInputConnectsSourcesAsTheyComeAndSaysWhenTheyGo) {
    // A keyboard there before the input opens, and an output of our own client (it plays
    // to a receiver), which must not be connected back into the input.
    JackOut early(new RtMidiOut(RtMidi::UNIX_JACK, "VeskTestEarly"));
    early->openVirtualPort("keys");
    Inbox<Bytes> heard;
    auto receiving = receiver("VeskTestReceiver", heard);
    std::string description;
    auto out = openPortOutput(jack, "VeskTestReceiver:in", "VeskTestAuto", description);
    ASSERT_TRUE(out) << description;

    StderrFile said;
    auto input = openPortInput(jack, "", "VeskTestAuto", description, SourceConnecting::AsTheyAppear);
    ASSERT_TRUE(input) << description;
    EXPECT_EQ(description, "jack, virtual port VeskTestAuto and every source as it appears");
    Inbox<std::uint32_t> words;
    ASSERT_TRUE(input->start([&](std::uint32_t word) { words.add(word); }));

    // Played until heard (the connection comes within a look or two), then every word
    // heard is that note's.
    const auto playUntilHeard = [&](RtMidiOut& keys, const Bytes& note) {
        const std::size_t before = words.waitFor(0, 0ms).size();
        const auto deadline = std::chrono::steady_clock::now() + deliveryTimeout;
        while (words.waitFor(before + 1, 50ms).size() == before && std::chrono::steady_clock::now() < deadline)
            keys.sendMessage(note.data(), note.size());
        std::this_thread::sleep_for(200ms);  // the last one sent may still be on its way
        const std::vector<std::uint32_t> all = words.waitFor(0, 0ms);
        return std::vector<std::uint32_t>(all.begin() + std::ptrdiff_t(before), all.end());
    };
    // Heard at least once, and nothing else.
    const auto only = [](std::uint32_t word, const std::vector<std::uint32_t>& words) {
        return !words.empty() && std::count(words.begin(), words.end(), word) == std::ptrdiff_t(words.size());
    };
    const std::vector<std::uint32_t> fromEarly = playUntilHeard(*early, {0x91, 0x30, 0x7F});
    EXPECT_TRUE(only(0x7F3091u, fromEarly)) << "the early keyboard: " << ::testing::PrintToString(fromEarly);
    EXPECT_EQ(said.waitFor("vesk: MIDI input 'VeskTestEarly:keys' connected\n", 1), 1u) << said.text();

    // A keyboard that comes later, while we play: connected, heard, and said once when it goes.
    JackOut late(new RtMidiOut(RtMidi::UNIX_JACK, "VeskTestLate"));
    late->openVirtualPort("keys");
    const std::vector<std::uint32_t> fromLate = playUntilHeard(*late, {0x92, 0x40, 0x50});
    EXPECT_TRUE(only(0x504092u, fromLate)) << "the late keyboard: " << ::testing::PrintToString(fromLate);
    EXPECT_EQ(said.waitFor("vesk: MIDI input 'VeskTestLate:keys' connected\n", 1), 1u) << said.text();
    out->sendShort(0x644590);  // ours: the receiver hears it, the input must not
    ASSERT_EQ(heard.waitFor(1).size(), 1u);
    late.reset();
    const std::string wentAway = "vesk: MIDI input 'VeskTestLate:keys' went away\n";
    EXPECT_EQ(said.waitFor(wentAway, 1), 1u) << said.text();

    // A source connected to the virtual port by hand is heard once, though it is found too.
    auto hand = senderTo("VeskTestHand", "VeskTestAuto-01:VeskTestAuto");
    ASSERT_TRUE(hand);
    EXPECT_EQ(said.waitFor("vesk: MIDI input 'VeskTestHand:out' connected\n", 1), 1u) << said.text();
    const std::size_t before = words.waitFor(0, 0ms).size();
    hand->sendMessage(Bytes{0x93, 0x41, 0x22}.data(), 3);
    early->sendMessage(Bytes{0x81, 0x30, 0x00}.data(), 3);
    std::vector<std::uint32_t> last = words.waitFor(before + 2);
    std::this_thread::sleep_for(200ms);  // time for a second delivery, which must not come
    last = words.waitFor(0, 0ms);
    last.erase(last.begin(), last.begin() + std::ptrdiff_t(before));
    std::sort(last.begin(), last.end());
    EXPECT_EQ(last, (std::vector<std::uint32_t>{0x3081, 0x224193}));
    EXPECT_EQ(said.count(wentAway), 1u) << said.text();
    const std::vector<std::uint32_t> all = words.waitFor(0, 0ms);
    EXPECT_EQ(std::count(all.begin(), all.end(), 0x644590u), 0) << "our own output was connected to the input";
    EXPECT_EQ(said.count("connected\n"), 3u) << said.text();

    input->stop();
    input.reset();
    EXPECT_EQ(said.count("vesk: MIDI input '"), 4u) << said.text();  // three connected, one gone
}

// ---------------------------------------------------------------- the synthesiser, offline

namespace {

std::unique_ptr<FluidSynthOutput> offlineSynth() {
    const std::string soundFont = findSoundFont("");
    if (soundFont.empty()) return nullptr;
    std::string why;
    auto synth = FluidSynthOutput::create(soundFont, SynthAudio::Offline, why);
    EXPECT_TRUE(synth) << why;
    return synth;
}

std::vector<float> render(FluidSynthOutput& synth, double seconds) {
    std::vector<float> left(std::size_t(seconds * synthSampleRate)), right(left.size());
    EXPECT_EQ(synth.render(left, right), left.size());
    return left;
}

double rms(std::span<const float> samples) {
    double sum = 0;
    for (float s : samples) sum += double(s) * s;
    return samples.empty() ? 0 : std::sqrt(sum / double(samples.size()));
}

// The strongest frequency between 300 and 600 Hz, to 1 Hz, by a Goertzel filter per step.
double dominantFrequency(std::span<const float> samples) {
    double best = 0, bestPower = -1;
    for (double f = 300; f <= 600; f += 1) {
        const double coefficient = 2 * std::cos(2 * std::numbers::pi * f / synthSampleRate);
        double s1 = 0, s2 = 0;
        for (float x : samples) {
            const double s = x + coefficient * s1 - s2;
            s2 = s1;
            s1 = s;
        }
        const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
        if (power > bestPower) bestPower = power, best = f;
    }
    return best;
}

// Loud enough to be a note (a piano's A at velocity 100 is near 0.007), and far above the
// synthesiser's own floor after a release (about 1e-8).
constexpr double soundingRms = 1e-3;
constexpr double silentRms = 1e-5;
constexpr std::uint32_t noteOnA440 = 0x644590;  // note 69, velocity 100, channel 0

#define SKIP_WITHOUT_SOUNDFONT(synth)                                                   \
    if (findSoundFont("").empty()) GTEST_SKIP() << "no General MIDI SoundFont installed"; \
    ASSERT_TRUE(synth)

}  // namespace

TEST(EmbeddedSynth, PlaysANoteAtItsPitchAndSurvivesBadMessages) {
    auto synth = offlineSynth();
    SKIP_WITHOUT_SOUNDFONT(synth);
    // Invalid data bytes would otherwise bend the pitch or change the program.
    for (std::uint32_t garbage : {0x0u, 0xFFFFFFFFu, 0xFFFFE0u, 0xFFC0u, 0x7F80B0u, 0x3C45u, 0xF0u})
        synth->sendShort(garbage);
    for (const Bytes& garbage : {Bytes{}, Bytes{0xF0}, Bytes{0xF7}, Bytes{0xF0, 0xF7}, Bytes(4096, 0xFF)})
        synth->sendLong(garbage);
    synth->sendShort(0x00C0);  // program 0, the piano
    synth->sendShort(noteOnA440);
    const std::vector<float> sound = render(*synth, 0.5);
    EXPECT_GT(rms(sound), soundingRms);
    EXPECT_NEAR(dominantFrequency(sound), 440.0, 3.0);
}

TEST(EmbeddedSynth, EveryWayOfEndingANoteEndsInSilence) {
    struct Case {
        const char* what;
        std::vector<std::uint32_t> after;  // sent after the note-on
        bool reset;
        bool silent;
    };
    // The organ (program 19) holds its note for as long as the key is down.
    const Case cases[] = {
        {"key still down", {}, false, false},
        {"note-off", {0x004580}, false, true},
        {"note-on with velocity 0", {0x004590}, false, true},
        {"reset", {}, true, true},
        {"reset with the pedal holding it", {0x7F40B0, 0x004580}, true, true},
        {"reset with sostenuto holding it", {0x7F42B0, 0x004580}, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto synth = offlineSynth();
        SKIP_WITHOUT_SOUNDFONT(synth);
        synth->sendShort(0x13C0);
        synth->sendShort(noteOnA440);
        EXPECT_GT(rms(render(*synth, 0.2)), soundingRms);
        for (std::uint32_t message : c.after) synth->sendShort(message);
        if (c.reset) synth->reset();
        render(*synth, 3.0);  // the release and the reverb's tail
        const double level = rms(render(*synth, 0.25));
        if (c.silent) {
            EXPECT_LT(level, silentRms);
        } else {
            EXPECT_GT(level, soundingRms);
        }
    }
}

TEST(EmbeddedSynth, AResetCutsTheSoundWhereANoteOffLetsItFadeOut) {
    // What is heard in the first 50 ms after each: the organ's release, or only the
    // reverb of what was cut.
    std::vector<double> level;
    for (bool reset : {false, true}) {
        auto synth = offlineSynth();
        SKIP_WITHOUT_SOUNDFONT(synth);
        synth->sendShort(0x13C0);
        synth->sendShort(noteOnA440);
        render(*synth, 0.2);
        if (reset) synth->reset();
        else synth->sendShort(0x004580);
        level.push_back(rms(render(*synth, 0.05)));
    }
    EXPECT_LT(level[1], level[0] / 4) << "note-off " << level[0] << ", reset " << level[1];
}

TEST(EmbeddedSynth, AnAudioDeviceThatFailsDuringPlayIsSaidOnceAndTheSynthPlaysOnSilently) {
    if (findSoundFont("").empty()) GTEST_SKIP() << "no General MIDI SoundFont installed";
    // SDL's file "device" writing to a full disk: its first write fails and SDL takes the
    // device away, as it does when one is unplugged.
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", "/dev/full", 1);
    std::string why;
    auto synth = FluidSynthOutput::create(findSoundFont(""), SynthAudio::Device, why);
    ASSERT_TRUE(synth) << why;
    if (!synth->audible()) GTEST_SKIP() << "this SDL has no disk audio driver: " << synth->describe();

    testing::internal::CaptureStderr();
    const auto deadline = std::chrono::steady_clock::now() + deliveryTimeout;
    while (synth->audible() && std::chrono::steady_clock::now() < deadline) {
        synth->sendShort(noteOnA440);
        std::this_thread::sleep_for(10ms);
    }
    for (int i = 0; i < 100; ++i) synth->sendShort(i % 2 ? 0x004580u : noteOnA440);
    synth->reset();
    synth.reset();
    const std::string said = testing::internal::GetCapturedStderr();
    unsetenv("SDL_AUDIODRIVER");
    unsetenv("SDL_DISKAUDIOFILE");
    const std::string line = "vesk: the synthesiser's audio device has gone away; the performance goes on without sound\n";
    EXPECT_NE(said.find(line), std::string::npos) << said;
    EXPECT_EQ(said.find(line), said.rfind(line)) << said;
}

TEST(EmbeddedSynth, SystemExclusiveReachesTheSynthWithOrWithoutItsFrame) {
    // MIDI Tuning: key 69 of tuning program 0 retuned to 64 (E, 329.6 Hz), then channel 0
    // selects that tuning (registered parameter 3).
    const Bytes body = {0x7F, 0x7F, 0x08, 0x02, 0x00, 0x01, 69, 64, 0x00, 0x00};
    Bytes framed = {0xF0};
    framed.insert(framed.end(), body.begin(), body.end());
    framed.push_back(0xF7);
    for (const Bytes& sysex : {framed, body}) {
        auto synth = offlineSynth();
        SKIP_WITHOUT_SOUNDFONT(synth);
        synth->sendLong(sysex);
        for (std::uint32_t message : {0x0065B0u, 0x0364B0u, 0x0006B0u, 0x00C0u, noteOnA440}) synth->sendShort(message);
        EXPECT_NEAR(dominantFrequency(render(*synth, 0.5)), 329.6, 3.0) << sysex.size() << " bytes";
    }
}

// ---------------------------------------------------------------- the driver table

TEST(MidiDriverTable, UnknownNamesAreRefusedWithTheKnownOnes) {
    struct Case {
        std::string output, input, unknown;
    };
    const Case cases[] = {{"fluid", "auto", "fluid"}, {"auto", "midi", "midi"}, {"", "none", ""}, {"none", "recorder", "recorder"}};
    for (const Case& c : cases) {
        MidiOptions options;
        options.output = c.output;
        options.input = c.input;
        std::string reason;
        EXPECT_FALSE(createMidiPorts(options, reason)) << c.unknown;
        EXPECT_NE(reason.find("\"" + c.unknown + "\""), std::string::npos) << reason;
        EXPECT_NE(reason.find("none, auto"), std::string::npos) << reason;
    }
}

TEST(MidiDriverTable, NoneHasNoDevicesAndTheRecorderIsARecorder) {
    MidiOptions options;
    options.output = "none";
    options.input = "none";
    std::string reason;
    auto none = createMidiPorts(options, reason);
    ASSERT_TRUE(none) << reason;
    EXPECT_FALSE(none->hasOutput());
    EXPECT_FALSE(none->openOutput());
    EXPECT_FALSE(none->openInput());
    EXPECT_EQ(none->describe(), "MIDI output none; input none");

    options.output = "recorder";
    auto recorder = createMidiPorts(options, reason);
    ASSERT_TRUE(recorder) << reason;
    EXPECT_TRUE(recorder->hasOutput());
    auto output = recorder->openOutput();
    EXPECT_TRUE(dynamic_cast<RecordingMidiOutput*>(output.get()));
}

TEST(MidiDriverTable, AutoTakesTheSynthWhenASoundFontIsThereAndPassesOverABadOne) {
    const std::string soundFont = findSoundFont("");
    if (soundFont.empty()) GTEST_SKIP() << "no General MIDI SoundFont installed";
    MidiOptions options;
    options.input = "none";
    std::string reason;
    auto ports = createMidiPorts(options, reason);
    ASSERT_TRUE(ports) << reason;
    EXPECT_TRUE(ports->hasOutput());
    EXPECT_EQ(ports->describe().rfind("MIDI output fluidsynth (" + soundFont + ")", 0), 0u) << ports->describe();
    // Live, whether or not this machine has an audio device to hear it on.
    auto synth = ports->openOutput();
    ASSERT_TRUE(synth) << ports->describe();
    synth->sendShort(noteOnA440);
    synth->reset();

    // A file that is not a SoundFont: named outright, the synth cannot play; under auto
    // the table goes on to the ports and says why it passed the synth over.
    const std::string notSoundFont = std::string(__FILE__);
    options.soundFont = notSoundFont;
    options.output = "fluidsynth";
    auto named = createMidiPorts(options, reason);
    ASSERT_TRUE(named) << reason;
    EXPECT_FALSE(named->hasOutput());
    EXPECT_NE(named->describe().find("is not a SoundFont"), std::string::npos) << named->describe();
    options.output = "auto";
    auto fallback = createMidiPorts(options, reason);
    ASSERT_TRUE(fallback) << reason;
    EXPECT_NE(fallback->describe().find("passed over fluidsynth: " + notSoundFont), std::string::npos)
        << fallback->describe();
}

#ifdef VESK_PROGRAM
// The whole way, as a person plugs in a keyboard while Vesk plays in its window: the source
// is connected as it appears, and the notes played on it are taken by the ticks and grow
// the flake (read back from the run's recorded session, replayed headless).
TEST_F(JackPorts, AKeyboardStartedWhileVeskPlaysGrowsTheFlake) {
    vesk::test::XServer x;
    if (x.display().empty()) GTEST_SKIP() << "Xvfb is not installed";
    const std::string dir = std::filesystem::temp_directory_path() / ("vesk-keys-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string session = dir + "/s.session", trace = dir + "/replay.jsonl";
    // Channel 16 of the demo has no notes: only the keyboard's grow anything.
    vesk::test::Subprocess vesk(VESK_PROGRAM, {VESK_DEMO_PIECE, "--channel", "16", "--windowed",
                                         "--midi-in", "auto", "--record", session},
                          {{"DISPLAY", x.display()}, {"SDL_AUDIODRIVER", "dummy"},
                           // The desktop's D-Bus library keeps what it allocates to the end.
                           {"ASAN_OPTIONS", "detect_leaks=0:abort_on_error=1"}});
    const auto waitUntil = [](auto&& done) {
        for (auto end = std::chrono::steady_clock::now() + 30s; !done() && std::chrono::steady_clock::now() < end;)
            std::this_thread::sleep_for(50ms);
        return done();
    };
    ASSERT_TRUE(waitUntil([&] { return vesk.err().find("vesk: MIDI output") != std::string::npos; })) << vesk.err();
    JackOut keys(new RtMidiOut(RtMidi::UNIX_JACK, "VeskTestKeys"));
    keys->openVirtualPort("keys");
    ASSERT_TRUE(waitUntil([&] { return vesk.err().find("'VeskTestKeys:keys' connected") != std::string::npos; }))
        << vesk.err();
    for (const std::uint8_t note : {60, 64, 67}) {
        keys->sendMessage(Bytes{0x90, note, 0x60}.data(), 3);
        std::this_thread::sleep_for(250ms);
        keys->sendMessage(Bytes{0x80, note, 0x00}.data(), 3);
    }
    // Taken by the ticks, as the session (flushed every second) says; a late tick takes two.
    const auto taken = [&session] {
        std::vector<int> notes;
        std::ifstream lines(session);
        for (std::string line; std::getline(lines, line);) {
            const std::size_t on = line.find("\"on\":[");
            if (line.find("\"ev\":\"take\"") == std::string::npos || on == std::string::npos) continue;
            std::istringstream list(line.substr(on + 6, line.find(']', on) - on - 6));
            for (std::string note; std::getline(list, note, ',');) notes.push_back(std::atoi(note.c_str()));
        }
        return notes;
    };
    waitUntil([&] { return taken().size() >= 3; });
    ::kill(vesk.pid(), SIGTERM);
    ASSERT_EQ(vesk.wait(), 128 + SIGTERM) << vesk.err();
    EXPECT_EQ(taken(), (std::vector<int>{60, 64, 67})) << "each note taken by a tick, in its turn";
    vesk::test::Subprocess replay(VESK_PROGRAM, {"--headless", "--session", session, "--trace", trace});
    ASSERT_EQ(replay.wait(), 0) << replay.err();
    std::string last;
    std::ifstream traced(trace);
    for (std::string line; std::getline(traced, line);)
        if (line.find("\"ev\":\"tick\"") != std::string::npos) last = line;
    EXPECT_NE(last.find("\"segmentCount\":9,"), std::string::npos) << "six seed arms and three notes: " << last;
    std::filesystem::remove_all(dir);
}
#endif
