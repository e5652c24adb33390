#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

namespace mc {

// Converts the dialog-unit coordinates of the console's layout into pixels
// with the base units of the dialog font: a horizontal unit is a quarter of
// the font's average character width, a vertical unit an eighth of its height.
// Laying every window out through one converter keeps the layout's
// proportions (controls neither overlap nor clip their texts) whatever font
// the platform substitutes.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    [[nodiscard]] int x(int units) const;
    [[nodiscard]] int y(int units) const;
    [[nodiscard]] QRect rect(int left, int top, int width, int height) const;
    [[nodiscard]] QSize size(int width, int height) const;

    [[nodiscard]] int baseX() const { return baseX_; }
    [[nodiscard]] int baseY() const { return baseY_; }

private:
    int baseX_;
    int baseY_;
};

// The font every window of the console is laid out with: 8 pt sans serif.
QFont dialogFont();

} // namespace mc
