#pragma once

#include "platform/GregorianCalendar.h"
#include "platform/RawValueEnum.h"

#include <QDateTime>
#include <QHashFunctions>
#include <QJsonValue>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include <compare>
#include <limits>
#include <optional>

namespace velmora {

// One civil day, named by its text "yyyy-MM-dd". Every valid key has the same fixed-width form,
// so text order is calendar order and a day range is a text range.
class DayKey {
public:
    // An empty key that names no day; only for containers and signals that need a default.
    DayKey() = default;

    // Exactly ten characters, "-" at positions 5 and 8, ASCII digits elsewhere, and a day that
    // survives a round trip through the Gregorian calendar at UTC. Never throws.
    static std::optional<DayKey> fromRawValue(const QString &rawValue);

    // The civil day that contains the moment, in the calendar's own time zone.
    static DayKey fromDate(const QDateTime &moment, const GregorianCalendar &calendar);

    // The day for a civil date, formatted "%04d-%02d-%02d".
    static DayKey fromCivilDate(int year, int month, int day);

    // The first moment of the day in the calendar, or nothing when the key names no day there.
    std::optional<QDateTime> date(const GregorianCalendar &calendar) const;

    const QString &rawValue() const { return m_rawValue; }
    const QString &description() const { return m_rawValue; }
    bool isEmpty() const { return m_rawValue.isEmpty(); }

    QJsonValue toJson() const { return QJsonValue(m_rawValue); }
    // Fails as a type mismatch for non-text and as corrupted data for text that is no key.
    static DayKey fromJson(const QJsonValue &value, const QStringList &codingPath = {});

    friend bool operator==(const DayKey &a, const DayKey &b) {
        return a.m_rawValue == b.m_rawValue;
    }
    friend std::strong_ordering operator<=>(const DayKey &a, const DayKey &b) {
        const int order = QString::compare(a.m_rawValue, b.m_rawValue, Qt::CaseSensitive);
        return order < 0
                   ? std::strong_ordering::less
                   : (order > 0 ? std::strong_ordering::greater : std::strong_ordering::equal);
    }

private:
    explicit DayKey(QString rawValue)
        : m_rawValue(std::move(rawValue)) {}

    QString m_rawValue;
};

inline size_t qHash(const DayKey &key, size_t seed = 0) {
    return ::qHash(key.rawValue(), seed);
}

// The stored revision of an entry: 0 for a draft of a day with no stored entry, 1 when the entry
// is created, one more with each stored change. Never negative; never wraps.
struct DiaryRevision {
    static constexpr qint64 maximum = std::numeric_limits<qint64>::max();

    qint64 rawValue = 0;

    static std::optional<DiaryRevision> fromRawValue(qint64 rawValue) {
        if (rawValue < 0)
            return std::nullopt;
        return DiaryRevision{rawValue};
    }

    QJsonValue toJson() const { return QJsonValue(rawValue); }
    static DiaryRevision fromJson(const QJsonValue &value, const QStringList &codingPath = {});

    friend auto operator<=>(const DiaryRevision &, const DiaryRevision &) = default;
};

inline size_t qHash(const DiaryRevision &revision, size_t seed = 0) {
    return ::qHash(revision.rawValue, seed);
}

enum class DiaryEntryStatus { draft, sealed };
VELMORA_RAW_VALUES(DiaryEntryStatus, "draft", "sealed");

} // namespace velmora

Q_DECLARE_METATYPE(velmora::DayKey)
