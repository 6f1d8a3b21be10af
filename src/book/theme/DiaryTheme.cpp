#include "book/theme/DiaryTheme.h"

#include <QFontDatabase>
#include <QHash>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace velmora {

namespace {

int graphemeCount(const QString &text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

int hexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// Reads hexadecimal digits from the start, after an optional "0x", up to the first other
// character; nothing readable gives 0.
quint64 scanHex(const QString &text) {
    qsizetype i = 0;
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X') &&
        hexDigit(text[2]) >= 0)
        i = 2;
    quint64 value = 0;
    for (; i < text.size() && hexDigit(text[i]) >= 0; ++i)
        value = value * 16 + quint64(hexDigit(text[i]));
    return value;
}

QColor sharedColor(const char *hex) {
    return colorFromHex(QString::fromLatin1(hex));
}

// Each writing font's stand-in among the families scripts/setup installs.
const QHash<QString, QString> &substitutes() {
    static const QHash<QString, QString> table{
        {QStringLiteral("Georgia"), QStringLiteral("TeX Gyre Schola")},
        {QStringLiteral("Palatino"), QStringLiteral("TeX Gyre Pagella")},
        {QStringLiteral("Baskerville"), QStringLiteral("Caladea")},
        {QStringLiteral("Garamond"), QStringLiteral("EB Garamond 12")},
        {QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif")},
        {QStringLiteral("New York"), QStringLiteral("C059")},
        {QStringLiteral("Charter"), QStringLiteral("TeX Gyre Bonum")},
        {QStringLiteral("Iowan Old Style"), QStringLiteral("P052")},
        {QStringLiteral("Avenir"), QStringLiteral("TeX Gyre Adventor")},
        {QStringLiteral("Helvetica Neue"), QStringLiteral("TeX Gyre Heros")},
        {QStringLiteral("SF Pro Text"), QStringLiteral("DejaVu Sans")},
        {QStringLiteral("American Typewriter"), QStringLiteral("TeX Gyre Cursor")},
        {QStringLiteral("Courier New"), QStringLiteral("Liberation Mono")},
        {QStringLiteral("Cochin"), QStringLiteral("URW Bookman")},
    };
    return table;
}

QFont regularFont(const QString &family, double size) {
    QFont font(family);
    font.setPointSizeF(size);
    font.setWeight(QFont::Normal);
    font.setStyle(QFont::StyleNormal);
    return font;
}

// QFont would silently substitute any family; only the font database knows what is installed.
std::optional<QFont> installedFont(const QString &family, double size) {
    if (family.isEmpty() || !QFontDatabase::hasFamily(family))
        return std::nullopt;
    return regularFont(family, size);
}

} // namespace

QColor colorFromHex(const QString &hex) {
    qsizetype begin = 0;
    qsizetype end = hex.size();
    while (begin < end && !hex[begin].isLetterOrNumber())
        ++begin;
    while (end > begin && !hex[end - 1].isLetterOrNumber())
        --end;
    const QString trimmed = hex.mid(begin, end - begin);
    const quint64 value = scanHex(trimmed);
    int alpha = 255;
    int red = 0;
    int green = 0;
    int blue = 0;
    switch (graphemeCount(trimmed)) {
    case 8:
        alpha = int((value >> 24) & 255);
        red = int((value >> 16) & 255);
        green = int((value >> 8) & 255);
        blue = int(value & 255);
        break;
    case 6:
        red = int((value >> 16) & 255);
        green = int((value >> 8) & 255);
        blue = int(value & 255);
        break;
    case 3:
        red = int((value >> 8) & 15) * 17;
        green = int((value >> 4) & 15) * 17;
        blue = int(value & 15) * 17;
        break;
    default:
        break;
    }
    return QColor::fromRgb(red, green, blue, alpha);
}

const QColor &diaryNamedColor(DiaryNamedColor name, DiaryColorScheme scheme) {
    // In the dark the book stays a book: the page dims like paper under a lamp instead of
    // inverting, because the saved note and the cards write DiaryInk on fixed cream.
    static const QColor light[] = {sharedColor("5E1520"), sharedColor("FBF6EC"),
                                   sharedColor("D9CDB8"), sharedColor("C9A96E"),
                                   sharedColor("2B2320")};
    static const QColor dark[] = {sharedColor("7A2331"), sharedColor("E6DCC8"),
                                  sharedColor("C4B69D"), sharedColor("B8955A"),
                                  sharedColor("1E1815")};
    const auto index = std::size_t(name);
    return scheme == DiaryColorScheme::dark ? dark[index] : light[index];
}

const QColor &diaryLeatherColor() {
    return diaryNamedColor(DiaryNamedColor::leather, DiaryColorScheme::light);
}

const QColor &diaryPaperColor() {
    return diaryNamedColor(DiaryNamedColor::paper, DiaryColorScheme::light);
}

const QColor &diaryRuledLineColor() {
    return diaryNamedColor(DiaryNamedColor::ruledLine, DiaryColorScheme::light);
}

const QColor &diaryAccentColor() {
    return diaryNamedColor(DiaryNamedColor::accent, DiaryColorScheme::light);
}

const QColor &diaryInkColor() {
    return diaryNamedColor(DiaryNamedColor::ink, DiaryColorScheme::light);
}

const QColor &diaryGoldColor() {
    static const QColor color = sharedColor("C9A86A");
    return color;
}

QColor withOpacity(const QColor &color, double opacity) {
    QColor result = color;
    result.setAlphaF(float(color.alphaF() * std::clamp(opacity, 0.0, 1.0)));
    return result;
}

DiaryDateFormatter::DiaryDateFormatter(const QString &format)
    : m_timeZone(QTimeZone::systemTimeZone())
    , m_format(format) {}

DiaryDateFormatter::DiaryDateFormatter(QLocale::FormatType dateStyle, QLocale::FormatType timeStyle)
    : m_timeZone(QTimeZone::systemTimeZone())
    , m_format(m_locale.dateFormat(dateStyle) + QStringLiteral(", ") +
               m_locale.timeFormat(timeStyle)) {}

QString DiaryDateFormatter::string(const QDateTime &moment) const {
    return m_locale.toString(moment.toTimeZone(m_timeZone), m_format);
}

QString DiaryDateFormatter::string(QDate day) const {
    return m_locale.toString(day, m_format);
}

const DiaryDateFormatter &yearFormatter() {
    static const DiaryDateFormatter formatter(QStringLiteral("yyyy"));
    return formatter;
}

const DiaryDateFormatter &longDateFormatter() {
    static const DiaryDateFormatter formatter(QStringLiteral("MMMM d, yyyy"));
    return formatter;
}

const DiaryDateFormatter &weekdayFormatter() {
    static const DiaryDateFormatter formatter(QStringLiteral("dddd"));
    return formatter;
}

const DiaryDateFormatter &shortMonthFormatter() {
    static const DiaryDateFormatter formatter(QStringLiteral("MMM"));
    return formatter;
}

const DiaryDateFormatter &monthYearFormatter() {
    static const DiaryDateFormatter formatter(QStringLiteral("MMMM yyyy"));
    return formatter;
}

const DiaryDateFormatter &shortDateTimeFormatter() {
    static const DiaryDateFormatter formatter(QLocale::ShortFormat, QLocale::ShortFormat);
    return formatter;
}

const QStringList &diaryFontNames() {
    static const QStringList names{
        QStringLiteral("Georgia"),         QStringLiteral("Palatino"),
        QStringLiteral("Baskerville"),     QStringLiteral("Garamond"),
        QStringLiteral("Times New Roman"), QStringLiteral("New York"),
        QStringLiteral("Charter"),         QStringLiteral("Iowan Old Style"),
        QStringLiteral("Avenir"),          QStringLiteral("Helvetica Neue"),
        QStringLiteral("SF Pro Text"),     QStringLiteral("American Typewriter"),
        QStringLiteral("Courier New"),     QStringLiteral("Cochin"),
    };
    return names;
}

QString resolvedFontName(const QString &name) {
    const QString trimmed = name.trimmed();
    if (!trimmed.isEmpty() && diaryFontNames().contains(trimmed))
        return trimmed;
    return defaultDiaryFontName;
}

QString substituteFontFamily(const QString &name) {
    return substitutes().value(name);
}

QFont diarySystemFont(double size) {
    if (auto font = installedFont(substituteFontFamily(QStringLiteral("SF Pro Text")), size))
        return *font;
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSizeF(size);
    return font;
}

QFont resolveDiaryFont(const QString &name, double size) {
    const double points = size >= 1 ? size : 1;
    if (name == u"SF Pro Text")
        return diarySystemFont(points);
    // The stand-in comes first so that a machine that happens to carry the original family lays
    // out the same leaves as every other.
    for (const QString &family :
         {substituteFontFamily(name), name, substituteFontFamily(defaultDiaryFontName),
          defaultDiaryFontName}) {
        if (auto font = installedFont(family, points))
            return *font;
    }
    return diarySystemFont(points);
}

TextAttributes makeRuledTextAttributes(const QFont &font, double lineHeight) {
    return {font, diaryInkColor(), ParagraphStyle{lineHeight, lineHeight}};
}

} // namespace velmora
