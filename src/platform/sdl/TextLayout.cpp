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
    const std::size_t n = text.size();
    std::size_t pos = 0;
    while (pos < n) {
        const std::size_t lineStart = pos;
        float width = 0;
        std::size_t breakAt = lineStart;  // the last place this line may end (none yet)
        float widthAtBreak = 0;
        char32_t previous = 0;
        std::size_t i = lineStart;
        std::size_t end = n;
        std::size_t next = n;
        float lineWidth = 0;
        bool broken = false;
        bool lineFeed = false;
        while (i < n) {
            char32_t cp;
            const std::size_t length = decodeUtf8(text, i, cp);
            if (cp == U'\r') {  // a CR LF line end counts as its LF
                i += length;
                continue;
            }
            if (cp == U'\n') {
                end = i;
                next = i + length;
                lineWidth = width;
                broken = lineFeed = true;
                break;
            }
            if (previous != 0 && canBreakBetween(previous, cp)) {
                breakAt = i;
                widthAtBreak = width;
            }
            const float w = advance(cp);
            if (width + w > maxWidth && i > lineStart && !isBreakingSpace(cp)) {
                if (breakAt > lineStart) {
                    end = next = breakAt;
                    lineWidth = widthAtBreak;
                } else if (closesPhrase(cp)) {
                    // Nowhere earlier to break: the mark hangs past the edge instead.
                    width += w;
                    previous = cp;
                    i += length;
                    continue;
                } else {
                    end = next = i;
                    lineWidth = width;
                }
                broken = true;
                break;
            }
            width += w;
            previous = cp;
            i += length;
        }
        if (!broken) {
            end = next = n;
            lineWidth = width;
        }
        // Spaces where a line was broken belong to neither line.
        while (end > lineStart && isBreakingSpace(char32_t(text[end - 1]))) {
            --end;
            lineWidth -= advance(char32_t(text[end]));
        }
        if (broken && !lineFeed)
            while (next < n && isBreakingSpace(char32_t(text[next]))) ++next;
        lines.push_back({lineStart, end, std::max(lineWidth, 0.0f)});
        pos = next;
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
