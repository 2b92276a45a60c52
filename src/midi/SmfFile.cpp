// The file buffer, the header check and variable-length numbers.
#include "midi/SmfFile.h"

#include <algorithm>
#include <new>

namespace vesk::midi {

namespace {

// Where the header keeps what is checked: the format's low byte (its high byte is not
// looked at), the division (big-endian, top bit set for SMPTE time), and the first track
// chunk's length (big-endian), which ends the header.
constexpr int formatLowByteAt = 9;
constexpr int divisionAt = 12;
constexpr int trackLengthAt = 18;
constexpr int smpteDivisionFrom = 0x8000;
constexpr int byteValues = 256;
// A variable-length number: seven bits a byte, the top bit set on every byte but the last.
constexpr std::uint8_t moreBytesFlag = 0x80;
constexpr std::uint32_t valuesPerByte = 128;

}  // namespace

int SmfFile::readEnd() const {
    if (!smfBuffer) return 0;
    return int(std::min<std::int64_t>(trackEnd, smfLength));
}

bool allocSmfBuffer(SmfFile& file) {
    file.smfBuffer.reset(new (std::nothrow) std::uint8_t[smfBufferSize]());
    return file.smfBuffer != nullptr;
}

void freeSmfBuffer(SmfFile& file) {
    file.smfBuffer.reset();
    file.smfLength = 0;
}

std::optional<SmfError> parseSmfHeader(SmfFile& file) {
    if (!file.smfBuffer || file.smfLength < smfHeaderLength) return SmfError::Format;
    const std::uint8_t* b = file.smfBuffer.get();
    if (b[formatLowByteAt] != 0) return SmfError::Format;
    const int division = b[divisionAt] * byteValues + b[divisionAt + 1];
    if (division >= smpteDivisionFrom || division == 0) return SmfError::Format;
    file.division = division;
    std::uint32_t length = 0;
    for (int i = trackLengthAt; i < smfHeaderLength; ++i) length = length * byteValues + b[i];
    file.trackEnd = smfHeaderLength + std::int64_t(length);
    file.readPos = smfHeaderLength;
    return std::nullopt;
}

std::string headerProblem(const SmfFile& file) {
    if (!file.smfBuffer || file.smfLength < smfHeaderLength) return "it is too short to hold a header";
    const std::uint8_t* b = file.smfBuffer.get();
    if (b[formatLowByteAt] != 0) return "it is format " + std::to_string(b[formatLowByteAt]) + ", not 0";
    const int division = b[divisionAt] * byteValues + b[divisionAt + 1];
    if (division >= smpteDivisionFrom) return "its division counts SMPTE frames, not ticks per quarter note";
    if (division == 0) return "its division is 0 ticks per quarter note";
    return {};
}

std::optional<std::uint32_t> readVariableLength(const SmfFile& file, int& pos) {
    const int end = file.readEnd();
    int p = pos;
    std::uint32_t value = 0;
    for (;;) {
        if (p < 0 || p >= end) return std::nullopt;
        const std::uint8_t byte = file.at(p++);
        if (!(byte & moreBytesFlag)) {
            value += byte;
            break;
        }
        value = (value + (byte - moreBytesFlag)) * valuesPerByte;
    }
    pos = p;
    return value;
}

}  // namespace vesk::midi
