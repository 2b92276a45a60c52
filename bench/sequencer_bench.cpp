// Playback timing: a dense file (sixteenth-note chords for two minutes, the tempo changing
// every bar to values with no whole number of beats per minute) played in real time, once
// by our sequencer on the real timer thread into a recorder, once by FluidSynth's own MIDI
// file player, whose event times come from its playback callback. Each event's time is
// compared with the file's ideal timeline from the first event on; prints the median, p99
// and largest error and the drift of the last event. It measures, it never fails.
// Usage: vesk_bench_sequencer [seconds per run, default 120]
#include <fluidsynth.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "../tests/support/SmfBuilder.h"
#include "midi/Sequencer.h"
#include "platform/headless/HeadlessPlatform.h"
#include "platform/midi/RecordingMidiOutput.h"

using namespace vesk;

namespace {

struct DenseFile {
    test::Bytes bytes;
    std::vector<double> idealUs;  // of every channel event, from the first one
};

// Sixteenths of a three-note chord (each chord released as the next sounds), with the
// tempo changed at the start of every bar.
DenseFile makeDenseFile(int division, int seconds) {
    const std::uint32_t tempos[] = {500000, 428571, 600000, 545454, 461538};
    const int sixteenth = division / 4;
    test::SmfBuilder smf(division);
    DenseFile out;
    double nowUs = 0;
    std::uint32_t usPerQuarter = tempos[0];
    int previous[3] = {-1, -1, -1};
    for (int step = 0; nowUs < seconds * 1e6; ++step) {
        std::uint32_t delta = step == 0 ? 0 : std::uint32_t(sixteenth);
        nowUs += double(delta) * usPerQuarter / division;
        if (step % 16 == 0) {
            usPerQuarter = tempos[(step / 16) % 5];
            smf.tempo(delta, usPerQuarter);
            delta = 0;
        }
        for (int v = 0; v < 3; ++v) {
            if (previous[v] >= 0) {
                smf.event(delta, {std::uint8_t(0x80 | v), std::uint8_t(previous[v]), 0});
                out.idealUs.push_back(nowUs);
                delta = 0;
            }
        }
        for (int v = 0; v < 3; ++v) {
            previous[v] = 48 + v * 7 + (step * 5 + v * 3) % 12;
            smf.event(delta, {std::uint8_t(0x90 | v), std::uint8_t(previous[v]), 80});
            out.idealUs.push_back(nowUs);
            delta = 0;
        }
    }
    smf.endOfTrack(std::uint32_t(sixteenth));
    out.bytes = smf.bytes();
    const double first = out.idealUs.front();
    for (double& t : out.idealUs) t -= first;
    return out;
}

struct Errors {
    double median, p99, max, endDrift;
    std::size_t events;
};

// `actualUs` against the ideal timeline from `origin` (when the first event was due; for a
// player that does not say, when its first event came).
Errors compare(const std::vector<double>& idealUs, const std::vector<double>& actualUs,
               std::optional<double> originUs = std::nullopt) {
    const std::size_t n = std::min(idealUs.size(), actualUs.size());
    std::vector<double> errors;
    const double origin = originUs ? *originUs : actualUs.empty() ? 0 : actualUs.front();
    for (std::size_t i = 0; i < n; ++i) errors.push_back(std::fabs(actualUs[i] - origin - idealUs[i]));
    if (errors.empty()) return {0, 0, 0, 0, 0};
    const double endDrift = actualUs[n - 1] - origin - idealUs[n - 1];
    std::sort(errors.begin(), errors.end());
    return {errors[n / 2], errors[std::min(n - 1, std::size_t(double(n) * 0.99))], errors.back(),
            endDrift, n};
}

std::vector<double> playWithOurSequencer(const test::Bytes& bytes, double& originUs) {
    platform::headless::HeadlessPlatform platform(8, 8, platform::headless::HeadlessClock::Real);
    platform::midi::RecordingMidiOutput recorder([&platform] { return platform.timers().nowUs(); });
    midi::SmfFile file;
    midi::allocSmfBuffer(file);
    std::memcpy(file.smfBuffer.get(), bytes.data(), bytes.size());
    file.smfLength = int(bytes.size());
    file.listenChannel = 15;
    PerformanceState state;
    midi::NoteInbox inbox;
    midi::Sequencer sequencer(file, state, inbox, platform, &recorder);
    sequencer.startLoaded();
    originUs = double(sequencer.lastDeadlineUs());  // the first event's deadline
    while (sequencer.playing()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::vector<double> times;
    for (const auto& m : recorder.entries()) times.push_back(double(m.timeUs));
    return times;
}

struct PlayerRun {
    std::mutex mutex;
    std::vector<double> times;
    std::chrono::steady_clock::time_point epoch = std::chrono::steady_clock::now();
};

int onPlayerEvent(void* data, fluid_midi_event_t* event) {
    auto* run = static_cast<PlayerRun*>(data);
    const int type = fluid_midi_event_get_type(event);
    if (type != 0x80 && type != 0x90) return FLUID_OK;
    const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - run->epoch).count();
    std::lock_guard lock(run->mutex);
    run->times.push_back(us);
    return FLUID_OK;
}

std::vector<double> playWithFluidSynthPlayer(const test::Bytes& bytes) {
    const std::string path = test::writeTestFile("dense.mid", bytes);
    fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
    fluid_settings_t* settings = new_fluid_settings();
    // No sound card here: the player runs on the system clock, as it would without audio.
    fluid_settings_setstr(settings, "player.timing-source", "system");
    fluid_synth_t* synth = new_fluid_synth(settings);
    fluid_player_t* player = new_fluid_player(synth);
    PlayerRun run;
    fluid_player_set_playback_callback(player, onPlayerEvent, &run);
    fluid_player_add(player, path.c_str());
    fluid_player_play(player);
    fluid_player_join(player);
    delete_fluid_player(player);
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);
    return run.times;
}

void print(const char* who, int division, const Errors& e) {
    std::printf("  %-22s division %3d: %zu events, error median %.3f ms, p99 %.3f ms, max %.3f ms, "
                "end drift %+.3f ms\n",
                who, division, e.events, e.median / 1000, e.p99 / 1000, e.max / 1000, e.endDrift / 1000);
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 120;
    std::printf("Playback timing against the file's ideal timeline (%d s of sixteenth chords, "
                "tempo changing every bar)\n", seconds);
    for (int division : {96, 480}) {
        const DenseFile file = makeDenseFile(division, seconds);
        double origin = 0;
        const std::vector<double> played = playWithOurSequencer(file.bytes, origin);
        const Errors ours = compare(file.idealUs, played, origin);
        print("vesk sequencer", division, ours);
        const Errors theirs = compare(file.idealUs, playWithFluidSynthPlayer(file.bytes));
        print("FluidSynth file player", division, theirs);
        std::printf("  p99 ratio (FluidSynth / vesk): %.1f\n", theirs.p99 / std::max(ours.p99, 1.0));
    }
    return 0;
}
