#pragma once

#include "domain/DayKey.h"
#include "platform/RawValueEnum.h"

#include <QDateTime>
#include <QHashFunctions>
#include <QJsonObject>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>

namespace velmora {

// The geometry a day is laid out for, in points except the scale.
struct LeafLayoutMetrics {
    double width = 0;
    double height = 0;
    double horizontalInset = 0;
    double verticalInset = 0;
    // Compared and hashed so that it keys layouts, though pagination ignores it.
    double lineSpacing = 0;
    double readingScale = 1;

    friend bool operator==(const LeafLayoutMetrics &, const LeafLayoutMetrics &) = default;
};

size_t qHash(const LeafLayoutMetrics &metrics, size_t seed = 0);

// The identity of one layout of a sealed entry. The font name is the stored one, unresolved.
struct PageLayoutKey {
    DayKey dayKey;
    QUuid entryID;
    DiaryRevision revision;
    QString fontName;
    double bodyPointSize = 0;
    LeafLayoutMetrics metrics;

    friend bool operator==(const PageLayoutKey &, const PageLayoutKey &) = default;
};

size_t qHash(const PageLayoutKey &key, size_t seed = 0);

// A part of an entry's text, in UTF-16 code units.
struct UTF16TextRange {
    qint64 location = 0;
    qint64 length = 0;

    qint64 end() const { return location + length; }

    QJsonObject toJson() const;
    static UTF16TextRange fromJson(const QJsonValue &value, const QStringList &codingPath = {});

    friend bool operator==(const UTF16TextRange &, const UTF16TextRange &) = default;
};

size_t qHash(const UTF16TextRange &range, size_t seed = 0);

enum class PageKind { blank, draft, sealed };
VELMORA_RAW_VALUES(PageKind, "blank", "draft", "sealed");

inline size_t qHash(PageKind kind, size_t seed = 0) {
    return ::qHash(rawValue(kind), seed);
}

// The identity of one leaf. A blank day's leaf has no revision, which is not revision 0.
struct PageDescriptorID {
    DayKey dayKey;
    std::optional<DiaryRevision> revision;
    qint64 leafIndex = 0;

    QJsonObject toJson() const;
    static PageDescriptorID fromJson(const QJsonValue &value, const QStringList &codingPath = {});

    friend bool operator==(const PageDescriptorID &, const PageDescriptorID &) = default;
};

size_t qHash(const PageDescriptorID &id, size_t seed = 0);

// One leaf of a day: its part of the entry's text and what the leaf views show with it.
struct PageDescriptor {
    PageDescriptorID id;
    std::optional<QUuid> entryID;
    DayKey dayKey;
    qint64 leafIndex = 0;
    qint64 leafCount = 1;
    UTF16TextRange contentRange;
    QString content;
    QString fontName;
    double bodyPointSize = 0;
    PageKind kind = PageKind::blank;
    QString originTimeZone;
    std::optional<QDateTime> createdAt;
    std::optional<QDateTime> sealedAt;

    friend bool operator==(const PageDescriptor &, const PageDescriptor &) = default;
};

size_t qHash(const PageDescriptor &descriptor, size_t seed = 0);

} // namespace velmora

Q_DECLARE_METATYPE(velmora::PageDescriptor)
