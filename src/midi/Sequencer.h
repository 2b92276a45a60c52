// The sequencer: plays the first track of the loaded file through the MIDI output, event
// by event, on one-shot timers, and hands the listened channel's notes to capture. Every
// event is scheduled at its exact time on the file's timeline (ticks accumulated from the
// first event, microseconds per quarter from the set-tempo events) and each timer is
// armed for that absolute deadline, so a file keeps its tempo and nothing drifts.
#pragma once

#include <atomic>
#include <bitset>
#include <cstdint>
#include <iterator>
#include <mutex>
#include <span>

#include "midi/NoteCapture.h"
#include "midi/SceneBackground.h"
#include "midi/SmfFile.h"
#include "platform/MidiMessage.h"
#include "platform/Platform.h"

namespace vesk::midi {

class SmfSource;

// The pedals that hold notes after their note-off; a playback that stops lifts those it pressed.
constexpr int heldPedals[] = {platform::sustainController, platform::sostenutoController};
constexpr int heldPedalCount = int(std::size(heldPedals));

// Until a file sets its tempo it plays at 120 quarters a minute.
constexpr int startTempoBpm = 120;
constexpr std::uint32_t startUsPerQuarter = 500000;

class Sequencer {
public:
    // Nothing here may be destroyed before the sequencer.
    Sequencer(SmfFile& file, PerformanceState& state, NoteInbox& inbox, platform::Platform& platform,
              platform::MidiOutput* output);
    ~Sequencer();
    Sequencer(const Sequencer&) = delete;
    Sequencer& operator=(const Sequencer&) = delete;

    // Window thread, once per performance: stops what plays, asks for the file, loads and
    // checks it and arms the first timer, which plays the first event one timer period
    // from now whatever its delta time. The load sets the background through `setBackground`.
    void startPlayback(const SetBackground& setBackground);
    // Plays what the buffer holds now, loaded by other means (offline runs, fuzzing): the
    // header check and everything after it, as startPlayback does once the file is loaded.
    void startLoaded();
    // Either thread. No firing of this playback runs or follows once it has returned
    // (from a firing itself: none follows). Whatever ends it, the notes the file left
    // sounding are released and the pedals it left down are lifted.
    void stopPlayback();

    // The output the file plays on (null: none). Window thread, while nothing plays: the
    // devices open after the sequencer exists and close before it goes.
    void setOutput(platform::MidiOutput* output) { output_ = output; }
    // Where each performance's file comes from (null: the dialog asks every time). Window
    // thread; it must outlive the sequencer's playbacks.
    void setSource(SmfSource* source) { source_ = source; }

    // Quarter notes per minute, whole, as the set-tempo events give it; 120 at the start.
    int tempoBpm() const { return tempoBpm_; }
    // One file tick at 120 per minute in whole milliseconds: the timers' resolution.
    unsigned timerPeriodMs() const { return timerPeriodMs_; }
    // Set from a load until stopPlayback; still set after an event that could not be played.
    bool playing() const { return playing_; }
    // The deadline of the last timer armed, in the timers' microseconds.
    std::int64_t lastDeadlineUs() const { return lastDeadlineUs_; }

private:
    enum class Played { Played, Undefined, CutOff };
    // What the firing does after an event: play the next one (same tick), wait for the
    // next deadline, or nothing more (playback has ended or stopped on an error).
    enum class Next { SameTick, Wait, Done };

    void onPlayTimer(std::uint64_t generation);
    // Plays the event at the read position and reads the delta time after it.
    Next playAndAdvance();
    void armNextEvent(std::uint64_t generation);

    Played playEvent();
    Played playChannelMessage(int pos, int status);
    void playNote(int status, int note, int velocity);
    void notePedal(int channel, int controller, int value);
    Played playSysEx(int pos);
    Played playEscapeOrMeta(int pos, int status);
    void applyMetaEvent(int typePos, int dataPos, std::uint32_t length);
    void sendSysEx(std::span<const std::uint8_t> message);
    void sendShort(int status, int data1, int data2 = 0);
    // False when the timers refused it.
    bool arm(std::int64_t deadlineUs, std::uint64_t generation);
    // After the last firing: the pedals the file left down are lifted and the notes it
    // left sounding released, on every channel.
    void releaseWhatSounds();
    void showErrorOnWindowThread(SmfError code);

    SmfFile& file_;
    PerformanceState& state_;
    NoteInbox& inbox_;
    platform::Platform& platform_;
    platform::MidiOutput* output_;
    SmfSource* source_ = nullptr;

    std::atomic<int> tempoBpm_{startTempoBpm};
    unsigned timerPeriodMs_ = 0;
    std::atomic<bool> playing_{false};
    std::atomic<std::int64_t> lastDeadlineUs_{0};

    // The timeline: the first event's time, and the time since it as the sum of each
    // delta times the microseconds per quarter then in force (divided by the division
    // only when a deadline is taken, so no rounding accumulates).
    std::int64_t originUs_ = 0;
    unsigned __int128 elapsedScaled_ = 0;
    std::uint32_t usPerQuarter_ = startUsPerQuarter;
    // channel * 128 + note, as the file left them
    std::bitset<platform::channelCount * platform::noteNumberCount> sounding_;
    // channel * heldPedalCount + the pedal's place in heldPedals
    std::bitset<platform::channelCount * heldPedalCount> pedalsDown_;

    std::mutex timerMutex_;  // guards generation_ and playTimerId_ between the two threads
    std::uint64_t generation_ = 0;
    platform::TimerId playTimerId_ = platform::noTimer;
};

}  // namespace vesk::midi
