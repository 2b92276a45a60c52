// The loaded Standard MIDI File: the buffer allocated once for the whole run, what the
// last load put in it, the header's division and the first track's bounds, and reading
// the variable-length numbers of its events. Every read is bounded by the bytes loaded.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace vesk::midi {

// 0x30000: a file of this size or more is refused, not cut short.
constexpr int smfBufferSize = 196608;
constexpr int smfHeaderLength = 22;  // header chunk of length 6 plus the track chunk's head

// The numbered errors of the file's path and what the user reads for each.
enum class SmfError {
    Memory = 1001,
    FileOpen = 1002,
    FileSize = 1003,
    Format = 1004,
    TimerTooSlow = 1007,
    UndefinedEvent = 1008,
};

struct SmfFile {
    std::unique_ptr<std::uint8_t[]> smfBuffer;  // null when it could not be allocated
    int smfLength = 0;                          // bytes read by the last load
    std::string smfPath;                        // as typed in the dialog
    int listenChannel = 0;                      // 0-based
    int loadCount = 0;                          // files opened with a valid channel, whole run
    int division = 0;                           // ticks per quarter note
    int readPos = 0;
    std::int64_t trackEnd = 0;                  // may lie past the loaded bytes

    // Where reading must stop: the track's end or the loaded bytes, whichever comes first.
    int readEnd() const;
    // The byte at `pos`, which the caller has checked lies before readEnd().
    std::uint8_t at(int pos) const { return smfBuffer[std::size_t(pos)]; }
};

// False (and no buffer) when the memory cannot be had.
bool allocSmfBuffer(SmfFile& file);
void freeSmfBuffer(SmfFile& file);

// Checks the header of what was loaded and places the read position on the first event.
// Refused as an unsupported format: a format other than 0 (the low byte at offset 9), an
// SMPTE division (top bit set), a division of 0 (no tick has a length), and a file too
// short to hold the header at all.
std::optional<SmfError> parseSmfHeader(SmfFile& file);
// Which of those rules the loaded header breaks, in a phrase for a person ("it is format
// 1"); empty when it breaks none.
std::string headerProblem(const SmfFile& file);

// The variable-length number at `pos` (7 bits a byte, the top bit says another follows),
// in unsigned 32-bit arithmetic however many bytes it runs to; `pos` moves past it. None,
// with `pos` unchanged, when it is cut off by readEnd().
std::optional<std::uint32_t> readVariableLength(const SmfFile& file, int& pos);

}  // namespace vesk::midi
