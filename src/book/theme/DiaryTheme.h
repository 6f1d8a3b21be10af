#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>

#include <optional>

namespace velmora {

// A colour from hexadecimal digits: "RRGGBB", "AARRGGBB" or "RGB", with any surrounding
// non-alphanumeric characters ignored. Any other length gives opaque black.
QColor colorFromHex(const QString &hex);

// The book's named colours, each made once and shared for the run.
const QColor &diaryLeatherColor();
const QColor &diaryPaperColor();
const QColor &diaryRuledLineColor();
const QColor &diaryAccentColor();
const QColor &diaryInkColor();

// The 14 writing fonts the diary offers, in the order the settings list them.
const QStringList &diaryFontNames();
inline const QString defaultDiaryFontName = QStringLiteral("Georgia");

// The trimmed name when it is one of diaryFontNames(), else "Georgia".
QString resolvedFontName(const QString &name);

// The free family installed on every machine that stands in for a writing font the platform
// lacks, so text lays out alike everywhere; empty when the name has none.
QString substituteFontFamily(const QString &name);

// The font every resolution falls back to.
QFont diarySystemFont(double size);

// A regular-weight font for a supported name at max(size, 1) points. Never fails: a name that
// no installed font answers gives Georgia's stand-in, then the system font.
QFont resolveDiaryFont(const QString &name, double size);

// What the ruled writing surface applies to all of its text. Line heights bound each line
// fragment; absent bounds leave the font's natural height.
struct ParagraphStyle {
    std::optional<double> minimumLineHeight;
    std::optional<double> maximumLineHeight;

    friend bool operator==(const ParagraphStyle &, const ParagraphStyle &) = default;
};

struct TextAttributes {
    QFont font;
    QColor foregroundColor;
    ParagraphStyle paragraphStyle;
};

TextAttributes makeRuledTextAttributes(const QFont &font, double lineHeight);

} // namespace velmora
