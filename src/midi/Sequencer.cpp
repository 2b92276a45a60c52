// The sequencer's start, stop, firing and event table. All reads of the file stay before
// its readEnd(); a track cut off by the end of the loaded bytes ends playback there.
#include "midi/Sequencer.h"

#include <limits>

#include "midi/SmfLoading.h"

namespace vesk::midi {

namespace {

using namespace platform;  // the message bytes

constexpr int setTempoType = 0x51;
constexpr std::int64_t latestDeadlineUs = std::numeric_limits<std::int64_t>::max() / 4;
constexpr std::int64_t msPerMinute = 60000;
constexpr std::uint32_t usPerMinute = 60000000u;
constexpr int usPerMs = 1000;
// A meta event's length follows its status and type bytes; an escape's, its status byte.
constexpr int metaHeadLength = 2;
constexpr int escapeHeadLength = 1;
// Program change and channel pressure carry one data byte; the second goes out as 0.
constexpr int statusAndOneDataByte = 2;

}  // namespace

Sequencer::Sequencer(SmfFile& file, PerformanceState& state, NoteInbox& inbox,
                     platform::Platform& platform, platform::MidiOutput* output)
    : file_(file), state_(state), inbox_(inbox), platform_(platform), output_(output) {}

Sequencer::~Sequencer() { stopPlayback(); }

void Sequencer::startPlayback(const SetBackground& setBackground) {
    if (playing_) stopPlayback();
    const bool loaded = source_ ? chooseAndLoadSmf(file_, platform_, setBackground, *source_)
                                : chooseAndLoadSmf(file_, platform_, setBackground);
    if (!loaded) return;
    startLoaded();
}

void Sequencer::startLoaded() {
    stopPlayback();
    playing_ = true;
    if (const auto error = parseSmfHeader(file_)) {
        showError(platform_.modalUi(), *error, file_);
        return;
    }
    tempoBpm_ = startTempoBpm;
    usPerQuarter_ = startUsPerQuarter;
    elapsedScaled_ = 0;
    timerPeriodMs_ = unsigned(msPerMinute / (file_.division * startTempoBpm));
    platform::OneShotTimers& timers = platform_.timers();
    if (timerPeriodMs_ < timers.minimumPeriodMs()) {
        showError(platform_.modalUi(), SmfError::TimerTooSlow, file_);
        return;
    }
    // The first delta time is read and ignored.
    int pos = file_.readPos;
    if (!readVariableLength(file_, pos)) return;  // an empty track: nothing to play
    file_.readPos = pos;

    originUs_ = timers.nowUs() + std::int64_t(timerPeriodMs_) * usPerMs;
    std::uint64_t generation;
    {
        std::lock_guard lock(timerMutex_);
        generation = generation_;
    }
    if (!arm(originUs_, generation)) showError(platform_.modalUi(), SmfError::TimerTooSlow, file_);
}

void Sequencer::stopPlayback() {
    platform::TimerId id;
    {
        std::lock_guard lock(timerMutex_);
        ++generation_;
        id = playTimerId_;
        playTimerId_ = platform::noTimer;
    }
    // Killed even without a pending timer: the kill also waits for a firing still running
    // on the timer thread, whose notes are released here only once it has finished.
    platform_.timers().kill(id);
    releaseWhatSounds();
    playing_ = false;
}

bool Sequencer::arm(std::int64_t deadlineUs, std::uint64_t generation) {
    std::lock_guard lock(timerMutex_);
    if (generation != generation_) return true;  // stopped meanwhile: nothing more to play
    lastDeadlineUs_ = deadlineUs;
    playTimerId_ = platform_.timers().startAt(deadlineUs, timerPeriodMs_,
                                              [this, generation] { onPlayTimer(generation); });
    return playTimerId_ != platform::noTimer;
}

void Sequencer::onPlayTimer(std::uint64_t generation) {
    {
        std::lock_guard lock(timerMutex_);
        if (generation != generation_) return;  // a firing of a playback that was stopped
    }
    if (file_.readPos >= file_.readEnd() || state_.finaleStarted) {
        stopPlayback();
        return;
    }
    Next next;
    do next = playAndAdvance();
    while (next == Next::SameTick);
    if (next == Next::Wait) armNextEvent(generation);
}

Sequencer::Next Sequencer::playAndAdvance() {
    const int end = file_.readEnd();
    const Played played = playEvent();
    if (played == Played::Undefined) {
        // Playback stops where it is, and nothing it played is left sounding; the box
        // belongs to the window thread.
        releaseWhatSounds();
        showErrorOnWindowThread(SmfError::UndefinedEvent);
        return Next::Done;
    }
    if (played == Played::CutOff || file_.readPos >= end) {
        stopPlayback();
        return Next::Done;
    }
    int pos = file_.readPos;
    const auto delta = readVariableLength(file_, pos);
    if (!delta) {
        stopPlayback();
        return Next::Done;
    }
    file_.readPos = pos;
    // A set-tempo just played already counts for this delta.
    elapsedScaled_ += static_cast<unsigned __int128>(*delta) * usPerQuarter_;
    return *delta == 0 && file_.readPos < end ? Next::SameTick : Next::Wait;
}

void Sequencer::armNextEvent(std::uint64_t generation) {
    const unsigned __int128 sinceFirst = elapsedScaled_ / unsigned(file_.division);
    const std::int64_t deadline =
        sinceFirst > static_cast<unsigned __int128>(latestDeadlineUs - originUs_)
            ? latestDeadlineUs
            : originUs_ + std::int64_t(sinceFirst);
    if (!arm(deadline, generation)) showErrorOnWindowThread(SmfError::TimerTooSlow);
}

Sequencer::Played Sequencer::playEvent() {
    const int p = file_.readPos;
    if (p >= file_.readEnd()) return Played::CutOff;
    const int status = file_.at(p);
    if (status >= noteOffStatus && status < sysExStatus) return playChannelMessage(p, status);
    if (status == sysExStatus) return playSysEx(p);
    if (status == escapeStatus || status == metaStatus) return playEscapeOrMeta(p, status);
    // A data byte where a status is due (running status), or a system message that has
    // no place in a file.
    return Played::Undefined;
}

Sequencer::Played Sequencer::playChannelMessage(int p, int status) {
    const int length = shortMessageLength(std::uint8_t(status));
    if (p + length > file_.readEnd()) return Played::CutOff;
    const int data1 = file_.at(p + 1);
    const int data2 = length > statusAndOneDataByte ? file_.at(p + 2) : 0;
    const int kind = statusKind(status);
    if (kind == noteOnStatus || kind == noteOffStatus) {
        playNote(status, data1, data2);
    } else {
        sendShort(status, data1, data2);
        if (kind == controlChangeStatus) notePedal(statusChannel(status), data1, data2);
    }
    file_.readPos = p + length;
    return Played::Played;
}

void Sequencer::playNote(int status, int note, int velocity) {
    const int channel = statusChannel(status);
    const bool on = statusKind(status) == noteOnStatus;
    // A note-off goes out with release velocity 0.
    sendShort(status, note, on ? velocity : 0);
    sounding_.set(std::size_t(channel * noteNumberCount + (note & dataMask)), on && velocity > 0);
    if (channel != file_.listenChannel) return;
    Capture capture{inbox_, state_, output_};
    captureEvent(capture, note, velocity, status);
}

void Sequencer::notePedal(int channel, int controller, int value) {
    for (int k = 0; k < heldPedalCount; ++k)
        if (controller == heldPedals[k])
            pedalsDown_.set(std::size_t(channel * heldPedalCount + k), value >= switchOnFrom);
}

Sequencer::Played Sequencer::playSysEx(int p) {
    const int end = file_.readEnd();
    // The length field is read past; the message runs to the first end byte.
    int q = p + 1;
    if (!readVariableLength(file_, q)) return Played::CutOff;
    int last = q;
    while (last < end && file_.at(last) != sysExEnd) ++last;
    if (last >= end) return Played::CutOff;
    std::vector<std::uint8_t> message;
    message.reserve(std::size_t(last - q + 2));
    message.push_back(std::uint8_t(sysExStatus));
    for (int i = q; i <= last; ++i) message.push_back(file_.at(i));
    sendSysEx(message);
    file_.readPos = last + 1;
    return Played::Played;
}

Sequencer::Played Sequencer::playEscapeOrMeta(int p, int status) {
    const bool meta = status == metaStatus;
    const int headLength = meta ? metaHeadLength : escapeHeadLength;
    if (p + headLength > file_.readEnd()) return Played::CutOff;
    int q = p + headLength;
    const auto length = readVariableLength(file_, q);
    if (!length || std::int64_t(q) + *length > file_.readEnd()) return Played::CutOff;
    if (meta) {
        applyMetaEvent(p + 1, q, *length);
    } else if (*length > 0) {
        sendSysEx(std::span<const std::uint8_t>(file_.smfBuffer.get() + q, *length));
    }
    file_.readPos = q + int(*length);
    return Played::Played;
}

void Sequencer::applyMetaEvent(int typePos, int dataPos, std::uint32_t length) {
    if (file_.at(typePos) != setTempoType || length < 3) return;
    const std::uint32_t usPerQuarter = std::uint32_t(file_.at(dataPos)) << 16 |
                                       std::uint32_t(file_.at(dataPos + 1)) << 8 |
                                       std::uint32_t(file_.at(dataPos + 2));
    // A tempo of 0 would give quarters of no length: the tempo stays as it was.
    if (usPerQuarter == 0) return;
    usPerQuarter_ = usPerQuarter;
    tempoBpm_ = int(usPerMinute / usPerQuarter);
}

void Sequencer::sendSysEx(std::span<const std::uint8_t> message) {
    if (output_) output_->sendLong(message);
}

void Sequencer::sendShort(int status, int data1, int data2) {
    if (output_)
        output_->sendShort(std::uint32_t(status) | std::uint32_t(data1) << firstDataShift |
                           std::uint32_t(data2) << secondDataShift);
}

void Sequencer::releaseWhatSounds() {
    // The pedals first: a note-off under a pedal that is still down would go on sounding.
    for (int channel = 0; channel < channelCount; ++channel)
        for (int k = 0; k < heldPedalCount; ++k)
            if (pedalsDown_.test(std::size_t(channel * heldPedalCount + k)))
                sendShort(controlChangeStatus | channel, heldPedals[k], 0);
    pedalsDown_.reset();
    for (int channel = 0; channel < channelCount; ++channel)
        for (int note = 0; note < noteNumberCount; ++note)
            if (sounding_.test(std::size_t(channel * noteNumberCount + note)))
                sendShort(noteOffStatus | channel, note, 0);
    sounding_.reset();
}

void Sequencer::showErrorOnWindowThread(SmfError code) {
    platform::ModalUi& ui = platform_.modalUi();
    platform_.loop().postCall([&ui, report = describeError(code, file_)] { showError(ui, report); });
}

}  // namespace vesk::midi
