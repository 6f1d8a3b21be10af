#pragma once

#include <QColor>
#include <QDateTime>
#include <QFont>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QTimeZone>

#include <optional>

namespace velmora {

// A colour from hexadecimal digits: "RRGGBB", "AARRGGBB" or "RGB", with any surrounding
// non-alphanumeric characters ignored. Any other length gives opaque black.
QColor colorFromHex(const QString &hex);

// Whether the book is drawn for a light or a dark desktop. The shell decides it from the user's
// "appAppearance" and the desktop setting; the views only receive it.
enum class DiaryColorScheme { light, dark };

enum class DiaryNamedColor { leather, paper, ruledLine, accent, ink };

// One named colour in one scheme, made once and shared for the run.
const QColor &diaryNamedColor(DiaryNamedColor name, DiaryColorScheme scheme);

// The light values, which text layout and the stored attributes use.
const QColor &diaryLeatherColor();
const QColor &diaryPaperColor();
const QColor &diaryRuledLineColor();
const QColor &diaryAccentColor();
const QColor &diaryInkColor();

// The gold of the cover's tooling and the ornament, the same in both schemes.
const QColor &diaryGoldColor();

// What every painted element of the book is drawn with.
struct DiaryTheme {
    DiaryColorScheme colorScheme = DiaryColorScheme::light;

    const QColor &leather() const { return diaryNamedColor(DiaryNamedColor::leather, colorScheme); }
    const QColor &paper() const { return diaryNamedColor(DiaryNamedColor::paper, colorScheme); }
    const QColor &ruledLine() const {
        return diaryNamedColor(DiaryNamedColor::ruledLine, colorScheme);
    }
    const QColor &accent() const { return diaryNamedColor(DiaryNamedColor::accent, colorScheme); }
    const QColor &ink() const { return diaryNamedColor(DiaryNamedColor::ink, colorScheme); }

    friend bool operator==(const DiaryTheme &, const DiaryTheme &) = default;
};

// The colour at the given opacity times its own.
QColor withOpacity(const QColor &color, double opacity);

// A date formatter fixed to the locale, calendar and time zone current when it was made, as
// the shared formatters below are made once and kept for the run.
class DiaryDateFormatter {
public:
    explicit DiaryDateFormatter(const QString &format);
    DiaryDateFormatter(QLocale::FormatType dateStyle, QLocale::FormatType timeStyle);

    // The moment as a civil time in the formatter's time zone.
    QString string(const QDateTime &moment) const;
    // A civil day as it stands (for day keys, which carry no zone).
    QString string(QDate day) const;
    const QString &format() const { return m_format; }

private:
    QLocale m_locale;
    QTimeZone m_timeZone;
    QString m_format;
};

const DiaryDateFormatter &yearFormatter();          // "yyyy"
const DiaryDateFormatter &longDateFormatter();      // "MMMM d, yyyy"
const DiaryDateFormatter &weekdayFormatter();       // the full weekday name
const DiaryDateFormatter &shortMonthFormatter();    // "MMM"
const DiaryDateFormatter &monthYearFormatter();     // "MMMM yyyy"
const DiaryDateFormatter &shortDateTimeFormatter(); // short date, short time

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
