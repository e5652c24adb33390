#include "widgets/dialog_units.h"

#include <QFontMetrics>

namespace mc {

namespace {

// The sample over which the average character width is taken, as the
// platform's dialog manager does.
constexpr char kWidthSample[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int kSampleLength = sizeof(kWidthSample) - 1;
constexpr int kDialogPointSize = 8;

// Rounded a * b / c, as the platform converts dialog units.
int mulDiv(int a, int b, int c) {
    return (2 * a * b + c) / (2 * c);
}

} // namespace

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int sampleWidth = metrics.horizontalAdvance(QString::fromLatin1(kWidthSample));
    baseX_ = std::max(1, (sampleWidth / (kSampleLength / 2) + 1) / 2);
    baseY_ = std::max(1, metrics.height());
}

int DialogUnits::x(int units) const {
    return mulDiv(units, baseX_, 4);
}

int DialogUnits::y(int units) const {
    return mulDiv(units, baseY_, 8);
}

QRect DialogUnits::rect(int left, int top, int width, int height) const {
    return {x(left), y(top), x(width), y(height)};
}

QSize DialogUnits::size(int width, int height) const {
    return {x(width), y(height)};
}

QFont dialogFont() {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(kDialogPointSize);
    return font;
}

} // namespace mc
