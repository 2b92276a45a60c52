// The bytes of a MIDI message as a file or a port carries them: the status of each kind
// of channel message (high nibble; the low nibble is the channel), the system bytes a
// file uses, the ranges of channels and data bytes, and the controller numbers the
// system reacts to. Everything that builds or reads a message takes them from here.
#pragma once

#include <cstdint>

namespace vesk::platform {

// Channel messages: the kind in the high nibble of the status byte.
constexpr int noteOffStatus = 0x80;
constexpr int noteOnStatus = 0x90;
constexpr int keyPressureStatus = 0xA0;
constexpr int controlChangeStatus = 0xB0;
constexpr int programChangeStatus = 0xC0;
constexpr int channelPressureStatus = 0xD0;
constexpr int pitchBendStatus = 0xE0;
constexpr int statusKindMask = 0xF0;
constexpr int channelMask = 0x0F;
constexpr int channelCount = 16;

// System messages. In a file, 0xF7 also opens an escape (bytes sent as they are) and 0xFF
// a meta event, which never reaches a port.
constexpr int sysExStatus = 0xF0;
constexpr int timeCodeQuarterFrameStatus = 0xF1;
constexpr int songPositionStatus = 0xF2;
constexpr int songSelectStatus = 0xF3;
constexpr int sysExEnd = 0xF7;
constexpr int escapeStatus = sysExEnd;
constexpr int metaStatus = 0xFF;

// Data bytes carry seven bits: note numbers, velocities and controller values 0..127.
constexpr int dataMask = 0x7F;
constexpr int noteNumberCount = 128;
constexpr int highestNoteNumber = noteNumberCount - 1;
constexpr int controllerFull = 0x7F;

// The sustain pedal: values from 64 on press it, lower ones release it. Sostenuto holds
// the notes down when it is pressed, the same way.
constexpr int sustainController = 64;
constexpr int sostenutoController = 66;
constexpr int switchOnFrom = 64;
// Channel mode messages: every sound cut at once, every note released.
constexpr int allSoundOffController = 120;
constexpr int allNotesOffController = 123;

// A message packed into one word as MidiOutput::sendShort takes it: status in the low
// byte, then the first data byte, then the second.
constexpr int firstDataShift = 8;
constexpr int secondDataShift = 16;
constexpr std::uint32_t byteMask = 0xFF;

constexpr int statusKind(int status) { return status & statusKindMask; }
constexpr int statusChannel(int status) { return status & channelMask; }

}  // namespace vesk::platform
