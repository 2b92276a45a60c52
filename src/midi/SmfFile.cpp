// The file buffer, the header check and variable-length numbers.
#include "midi/SmfFile.h"

#include <algorithm>
#include <new>

namespace vesk::midi {

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
    if (b[9] != 0) return SmfError::Format;
    const int division = b[12] * 256 + b[13];
    if (division >= 0x8000 || division == 0) return SmfError::Format;
    file.division = division;
    const std::uint32_t length = std::uint32_t(b[18]) << 24 | std::uint32_t(b[19]) << 16 |
                                 std::uint32_t(b[20]) << 8 | std::uint32_t(b[21]);
    file.trackEnd = smfHeaderLength + std::int64_t(length);
    file.readPos = smfHeaderLength;
    return std::nullopt;
}

std::optional<std::uint32_t> readVariableLength(const SmfFile& file, int& pos) {
    const int end = file.readEnd();
    int p = pos;
    std::uint32_t value = 0;
    for (;;) {
        if (p < 0 || p >= end) return std::nullopt;
        const std::uint8_t byte = file.at(p++);
        if (!(byte & 0x80)) {
            value += byte;
            break;
        }
        value = (value + (byte - 0x80u)) * 128u;
    }
    pos = p;
    return value;
}

}  // namespace vesk::midi
