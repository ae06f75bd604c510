#include "measure/Display.h"

namespace tc::measure {

namespace {

int widthOf(const ui::Image& image) {
    return image.rect().width;
}

int heightOf(const ui::Image& image) {
    return image.rect().height;
}

enum class Which { All, SetOnly };

void drawTicks(ui::Image& image, const LineRanges& ranges, int rowCount, int columnCount,
               std::uint16_t fullScale, Which which) {
    const int rows = ClampLineCount(rowCount);
    const int columns = ClampLineCount(columnCount);
    const int w = widthOf(image);
    const int h = heightOf(image);
    const bool all = which == Which::All;
    for (int i = 0; i < rows; ++i) {
        const int r = i + 1;
        if (all || ranges.RowMin[i] < UnmeasuredMin)
            DrawLineTick(image, r, r, MinTickColor, true,
                         ScaleToExtent(ranges.RowMin[i], h, fullScale), 0, rows, columns);
        if (all || ranges.RowMax[i] > UnmeasuredMax)
            DrawLineTick(image, r, r, MaxTickColor, true,
                         ScaleToExtent(ranges.RowMax[i], h, fullScale), 0, rows, columns);
    }
    for (int j = 0; j < columns; ++j) {
        const int c = j + 1;
        if (all || ranges.ColMin[j] < UnmeasuredMin)
            DrawLineTick(image, c, c, MinTickColor, false, 0,
                         ScaleToExtent(ranges.ColMin[j], w, fullScale), rows, columns);
        if (all || ranges.ColMax[j] > UnmeasuredMax)
            DrawLineTick(image, c, c, MaxTickColor, false, 0,
                         ScaleToExtent(ranges.ColMax[j], w, fullScale), rows, columns);
    }
}

}  // namespace

void ClearImage(ui::Image& image) {
    image.brushColor = BackgroundColor;
    image.fillRect({0, 0, widthOf(image), heightOf(image)});
}

void DrawGrid(ui::Image& image, int rows, int columns) {
    const int w = widthOf(image);
    const int h = heightOf(image);
    image.penWidth = GridPenWidth;
    image.penColor = GridColor;
    image.frameRect({0, 0, w, h});
    for (int i = 0; i < rows; ++i) {
        const int x = i * w / rows;
        image.moveTo(x, 0);
        image.lineTo(x, h);
    }
    for (int i = 0; i < columns; ++i) {
        const int y = i * h / columns;
        image.moveTo(0, y);
        image.lineTo(w, y);
    }
    image.penWidth = TickPenWidth;
}

void DrawLineTick(ui::Image& image, int r, int c, ui::Color color, bool horizontal, int y, int x,
                  int rowCount, int columnCount) {
    // Only the strip the tick lies in is computed: a row tick must not depend on a
    // column count of 0, nor a column tick on a row count of 0.
    const int count = horizontal ? rowCount : columnCount;
    if (count <= 0) return;
    image.penColor = color;
    if (horizontal) {
        const int w = widthOf(image);
        const int a = rowCount + 1 - r;
        const int left = w * (a - 1) / rowCount;
        image.moveTo(left, y);
        image.lineTo(left + w / rowCount, y);
    } else {
        const int h = heightOf(image);
        const int b = columnCount + 1 - c;
        const int top = h * (b - 1) / columnCount;
        image.moveTo(x, top);
        image.lineTo(x, top + h / columnCount);
    }
}

void RedrawLineRanges(ui::Image& image, const LineRanges& ranges, int rowCount, int columnCount,
                      std::uint16_t adcFullScale) {
    const int rows = ClampLineCount(rowCount);
    const int columns = ClampLineCount(columnCount);
    ClearImage(image);
    DrawGrid(image, rows, columns);
    drawTicks(image, ranges, rows, columns, adcFullScale, Which::SetOnly);
}

LineBoxes LineBoxesFor(const LineRanges& ranges, int rowCount, int columnCount) {
    const int rows = ClampLineCount(rowCount);
    const int columns = ClampLineCount(columnCount);
    LineBoxes boxes;
    for (int i = 0; i < MaxLines; ++i) {
        boxes.rowVisible[i] = i < rows;
        boxes.columnVisible[i] = i < columns;
        if (i < rows) boxes.rowTexts[i] = RowRangeText(i, ranges.RowMin[i], ranges.RowMax[i]);
        if (i < columns)
            boxes.columnTexts[i] = ColumnRangeText(i, ranges.ColMin[i], ranges.ColMax[i]);
    }
    return boxes;
}

LineBoxes ShowLineRanges(ui::Image& image, const LineRanges& ranges, int rowCount, int columnCount,
                         std::uint16_t adcFullScale) {
    LineBoxes boxes = LineBoxesFor(ranges, rowCount, columnCount);
    drawTicks(image, ranges, rowCount, columnCount, adcFullScale, Which::All);
    return boxes;
}

}  // namespace tc::measure
