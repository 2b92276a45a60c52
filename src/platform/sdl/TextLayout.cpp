// Line breaking and dialog-unit arithmetic for the SDL backend's boxes and dialogs. The
// break rules are the small part of Japanese line breaking that the system's texts need.
#include "platform/sdl/TextLayout.h"

#include <algorithm>
#include <cmath>

namespace vesk::platform::sdl {

namespace {

constexpr char32_t replacementCharacter = 0xFFFD;
// From the CJK radicals on, through kana, ideographs and the full-width forms: text
// without spaces between its words, which may break between any two characters.
constexpr char32_t firstEastAsian = 0x2E80;

bool isBreakingSpace(char32_t c) { return c == U' ' || c == U'\t'; }

// Characters that close a phrase and so never begin a line.
bool closesPhrase(char32_t c) {
    switch (c) {
    case U'、': case U'。': case U'，': case U'．': case U'！': case U'？': case U'）':
    case U'」': case U'』': case U'ー': case U'!': case U'?': case U')': case U'.':
    case U',': case U':': case U';':
        return true;
    default:
        return false;
    }
}

bool canBreakBetween(char32_t before, char32_t after) {
    if (closesPhrase(after)) return false;
    if (isBreakingSpace(before)) return !isBreakingSpace(after);
    return before >= firstEastAsian || after >= firstEastAsian;
}

// Where a line that starts at `lineStart` ends (before any spaces are trimmed), where the
// next one starts, and the line's width.
struct LineEnd {
    std::size_t end = 0;
    std::size_t next = 0;
    float width = 0;
    bool lineFeed = false;  // ended by one, not by the width or the text's end
};

LineEnd findLineEnd(std::string_view text, std::size_t lineStart, float maxWidth,
                    const Advance& advance) {
    float width = 0;
    std::size_t breakAt = lineStart;  // the last place this line may end (none yet)
    float widthAtBreak = 0;
    char32_t previous = 0;
    for (std::size_t i = lineStart; i < text.size();) {
        char32_t cp;
        const std::size_t length = decodeUtf8(text, i, cp);
        if (cp == U'\r') {  // a CR LF line end counts as its LF
            i += length;
            continue;
        }
        if (cp == U'\n') return {i, i + length, width, true};
        if (previous != 0 && canBreakBetween(previous, cp)) {
            breakAt = i;
            widthAtBreak = width;
        }
        const float w = advance(cp);
        const bool overflows = width + w > maxWidth && i > lineStart && !isBreakingSpace(cp);
        if (overflows && breakAt > lineStart) return {breakAt, breakAt, widthAtBreak, false};
        // Nowhere earlier to break: a closing mark hangs past the edge instead, anything
        // else goes to the next line.
        if (overflows && !closesPhrase(cp)) return {i, i, width, false};
        width += w;
        previous = cp;
        i += length;
    }
    return {text.size(), text.size(), width, false};
}

}  // namespace

std::size_t decodeUtf8(std::string_view text, std::size_t at, char32_t& codePoint) {
    codePoint = replacementCharacter;
    if (at >= text.size()) return 0;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned lead = byte(at);
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    std::size_t length;
    char32_t value;
    char32_t smallest;  // overlong forms below this are malformed
    if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, smallest = 0x10000;
    } else {
        return 1;
    }
    if (text.size() - at < length) return 1;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 1;
        value = value << 6 | (byte(at + i) & 0x3F);
    }
    if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 1;
    codePoint = value;
    return length;
}

std::vector<TextLine> wrapText(std::string_view text, float maxWidth, const Advance& advance) {
    std::vector<TextLine> lines;
    for (std::size_t pos = 0; pos < text.size();) {
        LineEnd line = findLineEnd(text, pos, maxWidth, advance);
        // Spaces where a line was broken belong to neither line.
        while (line.end > pos && isBreakingSpace(char32_t(text[line.end - 1]))) {
            --line.end;
            line.width -= advance(char32_t(text[line.end]));
        }
        // After a line feed the next line keeps its leading spaces.
        if (!line.lineFeed)
            while (line.next < text.size() && isBreakingSpace(char32_t(text[line.next])))
                ++line.next;
        lines.push_back({pos, line.end, std::max(line.width, 0.0f)});
        pos = line.next;
    }
    return lines;
}

DialogUnits dialogUnits(float averageCharWidth, float fontHeight) {
    // A font too small to measure still gives units a control can be seen with.
    return {std::max(averageCharWidth, 1.0f) / 4.0f, std::max(fontHeight, 1.0f) / 8.0f};
}

PixelRect toPixels(DialogUnits units, int x, int y, int width, int height) {
    return {std::round(float(x) * units.x), std::round(float(y) * units.y),
            std::round(float(std::max(width, 0)) * units.x),
            std::round(float(std::max(height, 0)) * units.y)};
}

std::vector<LinePlacement> placeLines(const std::vector<TextLine>& lines, float lineHeight,
                                      PixelRect rect, HorizontalAlign horizontal,
                                      VerticalAlign vertical) {
    std::vector<LinePlacement> placed;
    placed.reserve(lines.size());
    const float total = lineHeight * float(lines.size());
    float y = rect.y;
    if (vertical == VerticalAlign::Centre) y += std::floor((rect.height - total) / 2.0f);
    for (const TextLine& line : lines) {
        float x = rect.x;
        if (horizontal == HorizontalAlign::Centre) x += std::floor((rect.width - line.width) / 2.0f);
        placed.push_back({x, y});
        y += lineHeight;
    }
    return placed;
}

}  // namespace vesk::platform::sdl
