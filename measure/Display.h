// The picture of the line ranges on the main window's image and the texts of the 60 line
// boxes. The picture is drawn straight onto the image's canvas; the texts and the
// visibility come back as plain data for the window to apply to its edit boxes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "measure/LineRanges.h"
#include "ui/Image.h"

namespace tc::measure {

// Framework colour values 0x808080, 0x0000FF, 0xFF0000 and 0xFFFFFF (blue in the high
// byte): grey grid, red minima, blue maxima, white background.
inline constexpr ui::Color GridColor = ui::colors::Gray;
inline constexpr ui::Color MinTickColor = ui::colors::Red;
inline constexpr ui::Color MaxTickColor = ui::colors::Blue;
inline constexpr ui::Color BackgroundColor = ui::colors::White;

inline constexpr int GridPenWidth = 3;
inline constexpr int TickPenWidth = 2;

// White over the whole picture.
void ClearImage(ui::Image& image);

// Outline, one vertical line per row strip edge and one horizontal line per column strip
// edge (the far edges are the outline's), then the pen left at the tick width.
void DrawGrid(ui::Image& image, int rows, int columns);

// One tick in the strip of row line `r` (horizontal, at `y`) or of column line `c`
// (vertical, at `x`); lines are 1-based and numbered from the far side, so row line 1 is
// the rightmost strip and column line 1 the bottom one. The tick is W div rowCount (or
// H div columnCount) long. With a count of 0 the strips have no size and nothing is
// drawn, instead of dividing by it.
void DrawLineTick(ui::Image& image, int r, int c, ui::Color color, bool horizontal, int y, int x,
                  int rowCount, int columnCount);

// The picture rebuilt from the record: clear, grid, then the ticks of the values that are
// set: a minimum below 0x0FFF, a maximum above 0. Counts are cut to the record's 30.
void RedrawLineRanges(ui::Image& image, const LineRanges& ranges, int rowCount, int columnCount,
                      std::uint16_t adcFullScale);

// What the 30 row and 30 column boxes show. A text is set for the lines in use only;
// std::nullopt means the box keeps the text it has. The boxes at or beyond the counts are
// hidden.
struct LineBoxes {
    std::array<std::optional<std::string>, MaxLines> rowTexts;
    std::array<std::optional<std::string>, MaxLines> columnTexts;
    std::array<bool, MaxLines> rowVisible{};
    std::array<bool, MaxLines> columnVisible{};
};

// The values form of every line in use and the visibility of every box.
LineBoxes LineBoxesFor(const LineRanges& ranges, int rowCount, int columnCount);

// The ticks of every line in use, set or not, drawn over the current picture (no clear,
// no grid, the pen width as it is), and the boxes' texts and visibility.
LineBoxes ShowLineRanges(ui::Image& image, const LineRanges& ranges, int rowCount, int columnCount,
                         std::uint16_t adcFullScale);

}  // namespace tc::measure
