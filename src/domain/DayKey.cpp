#include "domain/DayKey.h"

#include "platform/JsonCoding.h"

namespace velmora {

namespace {

const QString invalidDayKeyDescription = QStringLiteral("Expected a valid yyyy-MM-dd day key.");

bool isAsciiDigit(QChar c) {
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

int digitsValue(const QString &text, int from, int count) {
    int value = 0;
    for (int i = from; i < from + count; ++i)
        value = value * 10 + (text[i].unicode() - u'0');
    return value;
}

} // namespace

std::optional<DayKey> DayKey::fromRawValue(const QString &rawValue) {
    if (rawValue.size() != 10)
        return std::nullopt;
    if (rawValue[4] != u'-' || rawValue[7] != u'-')
        return std::nullopt;
    for (int i : {0, 1, 2, 3, 5, 6, 8, 9}) {
        if (!isAsciiDigit(rawValue[i]))
            return std::nullopt;
    }
    const int year = digitsValue(rawValue, 0, 4);
    const int month = digitsValue(rawValue, 5, 2);
    const int day = digitsValue(rawValue, 8, 2);
    if (month < 1 || month > 12 || day < 1 || day > 31)
        return std::nullopt;
    // The round trip through the Gregorian calendar refuses days that do not exist (2023-02-29).
    const QDate civil(year, month, day);
    if (!civil.isValid() || civil.year() != year || civil.month() != month || civil.day() != day)
        return std::nullopt;
    return DayKey(rawValue);
}

DayKey DayKey::fromDate(const QDateTime &moment, const GregorianCalendar &calendar) {
    const auto components = calendar.components(moment);
    return fromCivilDate(components.year, components.month, components.day);
}

DayKey DayKey::fromCivilDate(int year, int month, int day) {
    return DayKey(QString::asprintf("%04d-%02d-%02d", year, month, day));
}

std::optional<QDateTime> DayKey::date(const GregorianCalendar &calendar) const {
    QList<int> numbers;
    for (const QString &piece : m_rawValue.split(QLatin1Char('-'), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int number = piece.toInt(&ok, 10);
        if (ok)
            numbers.append(number);
    }
    if (numbers.size() != 3)
        return std::nullopt;
    const auto start = calendar.date(numbers[0], numbers[1], numbers[2]);
    if (!start)
        return std::nullopt;
    if (fromDate(*start, calendar).rawValue() != m_rawValue)
        return std::nullopt;
    return start;
}

DayKey DayKey::fromJson(const QJsonValue &value, const QStringList &codingPath) {
    const QString text = json::string(value, codingPath);
    if (auto key = fromRawValue(text))
        return *key;
    json::throwCorrupted(codingPath, invalidDayKeyDescription);
}

DiaryRevision DiaryRevision::fromJson(const QJsonValue &value, const QStringList &codingPath) {
    const qint64 number = json::int64(value, codingPath);
    if (auto revision = fromRawValue(number))
        return *revision;
    json::throwCorrupted(codingPath, QStringLiteral("A diary revision cannot be negative."));
}

} // namespace velmora
