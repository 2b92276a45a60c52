// Where the texts of boxes and dialogs go: lines broken to a width (Japanese breaks between
// any two characters, Latin text at spaces) and dialog units turned into pixels from the
// font's base units. Pure arithmetic over a measuring function, so it needs no window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace vesk::platform::sdl {

// The code point at byte `at` of `text` and the bytes it takes; a malformed or cut sequence
// gives U+FFFD for one byte, so a scan always moves on and never reads past the end.
std::size_t decodeUtf8(std::string_view text, std::size_t at, char32_t& codePoint);

// One line of a broken text: bytes [begin, end) of the text, never inside a character.
struct TextLine {
    std::size_t begin = 0;
    std::size_t end = 0;
    float width = 0;
};

// Pixels a code point advances the pen by.
using Advance = std::function<float(char32_t)>;

// Breaks `text` into lines no wider than `maxWidth` where it can: at line feeds, after
// spaces (dropped at the break), and between characters of which one is not ASCII. Closing
// punctuation (。、！？ and their ASCII kin) never starts a line; a run with no break in it
// that is still too wide is cut between characters.
std::vector<TextLine> wrapText(std::string_view text, float maxWidth, const Advance& advance);

// A dialog's base units: a horizontal unit is a quarter of the font's average character
// width, a vertical unit an eighth of its height.
struct DialogUnits {
    float x = 1;
    float y = 1;
};
DialogUnits dialogUnits(float averageCharWidth, float fontHeight);

struct PixelRect {
    float x = 0, y = 0, width = 0, height = 0;
};
PixelRect toPixels(DialogUnits units, int x, int y, int width, int height);

enum class HorizontalAlign { Left, Centre };
enum class VerticalAlign { Top, Centre };

// The top-left corner of each line of a static text laid into `rect`.
struct LinePlacement {
    float x = 0;
    float y = 0;
};
std::vector<LinePlacement> placeLines(const std::vector<TextLine>& lines, float lineHeight,
                                      PixelRect rect, HorizontalAlign horizontal,
                                      VerticalAlign vertical);

}  // namespace vesk::platform::sdl
