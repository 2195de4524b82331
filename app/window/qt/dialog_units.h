// Dialog templates give positions in dialog units, which scale with the
// dialog's font: a horizontal unit is a quarter of the font's average
// character width, a vertical unit an eighth of its height.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace zelk::app::qt {

// The font a dialog template names ("MS Shell Dlg" at `pointSize`), or the
// system's sans font at that size where that family is not installed.
QFont DialogFont(double pointSize);

class DialogUnits {
  public:
    // The average character width is measured the way Windows does: the
    // width of the 52 Latin letters over 26, rounded half up, halved.
    explicit DialogUnits(const QFont& font);
    DialogUnits(int averageCharWidth, int charHeight)
        : averageCharWidth_(averageCharWidth), charHeight_(charHeight) {}

    int X(int units) const { return Scale(units, averageCharWidth_, 4); }
    int Y(int units) const { return Scale(units, charHeight_, 8); }
    QRect Rect(int x, int y, int width, int height) const {
        return {X(x), Y(y), X(width), Y(height)};
    }
    QSize Size(int width, int height) const { return {X(width), Y(height)}; }

    int AverageCharWidth() const { return averageCharWidth_; }
    int CharHeight() const { return charHeight_; }

  private:
    // units * base / divisor, rounded to the nearest pixel.
    static int Scale(int units, int base, int divisor) {
        return (units * base + divisor / 2) / divisor;
    }

    int averageCharWidth_;
    int charHeight_;
};

}  // namespace zelk::app::qt
