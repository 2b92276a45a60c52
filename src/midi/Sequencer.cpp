// The sequencer's start, stop, firing and event table. All reads of the file stay before
// its readEnd(); a track cut off by the end of the loaded bytes ends playback there.
#include "midi/Sequencer.h"

#include <limits>

#include "midi/SmfLoading.h"

namespace vesk::midi {

namespace {

constexpr int startTempoBpm = 120;
constexpr std::uint32_t startUsPerQuarter = 500000;
constexpr int setTempoType = 0x51;
constexpr std::int64_t latestDeadlineUs = std::numeric_limits<std::int64_t>::max() / 4;

}  // namespace

Sequencer::Sequencer(SmfFile& file, PerformanceState& state, NoteInbox& inbox,
                     platform::Platform& platform, platform::MidiOutput* output)
    : file_(file), state_(state), inbox_(inbox), platform_(platform), output_(output) {}

Sequencer::~Sequencer() { stopPlayback(); }

void Sequencer::startPlayback(const SetBackground& setBackground) {
    if (playing_) stopPlayback();
    if (!chooseAndLoadSmf(file_, platform_, setBackground)) return;
    startLoaded();
}

void Sequencer::startLoaded() {
    stopPlayback();
    playing_ = true;
    if (const auto error = parseSmfHeader(file_)) {
        showError(platform_.modalUi(), *error);
        return;
    }
    tempoBpm_ = startTempoBpm;
    usPerQuarter_ = startUsPerQuarter;
    elapsedScaled_ = 0;
    sounding_.reset();
    timerPeriodMs_ = unsigned(60000 / (file_.division * startTempoBpm));
    platform::OneShotTimers& timers = platform_.timers();
    if (timerPeriodMs_ < timers.minimumPeriodMs()) {
        showError(platform_.modalUi(), SmfError::TimerTooSlow);
        return;
    }
    // The first delta time is read and ignored.
    int pos = file_.readPos;
    if (!readVariableLength(file_, pos)) return;  // an empty track: nothing to play
    file_.readPos = pos;

    originUs_ = timers.nowUs() + std::int64_t(timerPeriodMs_) * 1000;
    std::uint64_t generation;
    {
        std::lock_guard lock(timerMutex_);
        generation = generation_;
    }
    if (!arm(originUs_, generation)) showError(platform_.modalUi(), SmfError::TimerTooSlow);
}

void Sequencer::stopPlayback() {
    platform::TimerId id;
    {
        std::lock_guard lock(timerMutex_);
        ++generation_;
        id = playTimerId_;
        playTimerId_ = platform::noTimer;
    }
    if (id != platform::noTimer) platform_.timers().kill(id);
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
    const int end = file_.readEnd();
    const bool cutOff = file_.trackEnd > file_.smfLength;
    if (file_.readPos >= end || state_.finaleStarted) {
        if (file_.readPos >= end && cutOff) releaseSoundingNotes();
        stopPlayback();
        return;
    }
    for (;;) {
        const Played played = playEvent();
        if (played == Played::Undefined) {
            // Playback stops where it is; the box belongs to the window thread.
            showErrorOnWindowThread(SmfError::UndefinedEvent);
            return;
        }
        if (played == Played::CutOff || (file_.readPos >= end && cutOff)) {
            releaseSoundingNotes();
            stopPlayback();
            return;
        }
        if (file_.readPos >= end) {
            stopPlayback();
            return;
        }
        int pos = file_.readPos;
        const auto delta = readVariableLength(file_, pos);
        if (!delta) {
            releaseSoundingNotes();
            stopPlayback();
            return;
        }
        file_.readPos = pos;
        // A set-tempo just played already counts for this delta.
        elapsedScaled_ += static_cast<unsigned __int128>(*delta) * usPerQuarter_;
        if (*delta == 0 && file_.readPos < end) continue;  // same tick: same firing

        const unsigned __int128 sinceFirst = elapsedScaled_ / unsigned(file_.division);
        const std::int64_t deadline =
            sinceFirst > static_cast<unsigned __int128>(latestDeadlineUs - originUs_)
                ? latestDeadlineUs
                : originUs_ + std::int64_t(sinceFirst);
        if (!arm(deadline, generation)) showErrorOnWindowThread(SmfError::TimerTooSlow);
        return;
    }
}

Sequencer::Played Sequencer::playEvent() {
    const int end = file_.readEnd();
    const int p = file_.readPos;
    if (p >= end) return Played::CutOff;
    const int status = file_.at(p);
    const int channel = status & 0x0F;
    auto has = [&](int bytes) { return p + bytes <= end; };
    auto data = [&](int k) { return int(file_.at(p + k)); };
    Capture capture{inbox_, state_, output_};

    switch (status >> 4) {
    case 0x8:
    case 0x9: {
        if (!has(3)) return Played::CutOff;
        const int note = data(1), velocity = data(2);
        const bool on = (status >> 4) == 0x9;
        // A note-off goes out with release velocity 0.
        sendShort(status, note, on ? velocity : 0);
        sounding_.set(std::size_t(channel * 128 + (note & 0x7F)), on && velocity > 0);
        if (channel == file_.listenChannel) captureEvent(capture, note, velocity, status);
        file_.readPos = p + 3;
        return Played::Played;
    }
    case 0xA:
    case 0xB:
    case 0xE:
        if (!has(3)) return Played::CutOff;
        sendShort(status, data(1), data(2));
        file_.readPos = p + 3;
        return Played::Played;
    case 0xC:
    case 0xD:
        if (!has(2)) return Played::CutOff;
        sendShort(status, data(1));
        file_.readPos = p + 2;
        return Played::Played;
    default:
        break;
    }

    if (status == 0xF0) {
        // The length field is read past; the message runs to the first 0xF7.
        int q = p + 1;
        if (!readVariableLength(file_, q)) return Played::CutOff;
        int f7 = q;
        while (f7 < end && file_.at(f7) != 0xF7) ++f7;
        if (f7 >= end) return Played::CutOff;
        std::vector<std::uint8_t> message;
        message.reserve(std::size_t(f7 - q + 2));
        message.push_back(0xF0);
        for (int i = q; i <= f7; ++i) message.push_back(file_.at(i));
        sendSysEx(message);
        file_.readPos = f7 + 1;
        return Played::Played;
    }
    if (status == 0xF7 || status == 0xFF) {
        const bool meta = status == 0xFF;
        int q = p + (meta ? 2 : 1);
        if (meta && !has(2)) return Played::CutOff;
        const auto length = readVariableLength(file_, q);
        if (!length || std::int64_t(q) + *length > end) return Played::CutOff;
        if (meta) {
            applyMetaEvent(p + 1, q, *length);
        } else if (*length > 0) {
            sendSysEx(std::span<const std::uint8_t>(file_.smfBuffer.get() + q, *length));
        }
        file_.readPos = q + int(*length);
        return Played::Played;
    }
    // A data byte where a status is due (running status), or a system message that has
    // no place in a file.
    return Played::Undefined;
}

void Sequencer::applyMetaEvent(int typePos, int dataPos, std::uint32_t length) {
    if (file_.at(typePos) != setTempoType || length < 3) return;
    const std::uint32_t usPerQuarter = std::uint32_t(file_.at(dataPos)) << 16 |
                                       std::uint32_t(file_.at(dataPos + 1)) << 8 |
                                       std::uint32_t(file_.at(dataPos + 2));
    // A tempo of 0 would give quarters of no length: the tempo stays as it was.
    if (usPerQuarter == 0) return;
    usPerQuarter_ = usPerQuarter;
    tempoBpm_ = int(60000000u / usPerQuarter);
}

void Sequencer::sendSysEx(std::span<const std::uint8_t> message) {
    if (output_) output_->sendLong(message);
}

void Sequencer::sendShort(int status, int data1, int data2) {
    if (output_) output_->sendShort(std::uint32_t(status) | std::uint32_t(data1) << 8 | std::uint32_t(data2) << 16);
}

void Sequencer::releaseSoundingNotes() {
    for (int channel = 0; channel < 16; ++channel)
        for (int note = 0; note < 128; ++note)
            if (sounding_.test(std::size_t(channel * 128 + note))) sendShort(0x80 | channel, note, 0);
    sounding_.reset();
}

void Sequencer::showErrorOnWindowThread(SmfError code) {
    platform::ModalUi& ui = platform_.modalUi();
    platform_.loop().postCall([&ui, code] { showError(ui, code); });
}

}  // namespace vesk::midi
