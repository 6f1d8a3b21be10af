#include "pages/PageDescriptor.h"

#include "platform/JsonCoding.h"

namespace velmora {

namespace {

// Feeds a presence marker first, so that an absent value never hashes like a present one.
template <typename T> size_t hashOptional(const std::optional<T> &value, size_t seed) {
    if (!value)
        return qHashMulti(seed, 0);
    return qHashMulti(seed, 1, *value);
}

// qHash(double) already folds -0.0 onto 0.0, so values that compare equal hash alike.
size_t hashDouble(double value, size_t seed) {
    return ::qHash(value, seed);
}

} // namespace

size_t qHash(const LeafLayoutMetrics &metrics, size_t seed) {
    for (double value : {metrics.width, metrics.height, metrics.horizontalInset,
                         metrics.verticalInset, metrics.lineSpacing, metrics.readingScale})
        seed = QtPrivate::QHashCombine()(seed, hashDouble(value, 0));
    return seed;
}

size_t qHash(const PageLayoutKey &key, size_t seed) {
    return qHashMulti(seed, key.dayKey, key.entryID, key.revision, key.fontName,
                      hashDouble(key.bodyPointSize, 0), key.metrics);
}

size_t qHash(const UTF16TextRange &range, size_t seed) {
    return qHashMulti(seed, range.location, range.length);
}

size_t qHash(const PageDescriptorID &id, size_t seed) {
    return qHashMulti(seed, id.dayKey, hashOptional(id.revision, 0), id.leafIndex);
}

size_t qHash(const PageDescriptor &descriptor, size_t seed) {
    return qHashMulti(seed, descriptor.id, hashOptional(descriptor.entryID, 0), descriptor.dayKey,
                      descriptor.leafIndex, descriptor.leafCount, descriptor.contentRange,
                      descriptor.content, descriptor.fontName,
                      hashDouble(descriptor.bodyPointSize, 0), descriptor.kind,
                      descriptor.originTimeZone, hashOptional(descriptor.createdAt, 0),
                      hashOptional(descriptor.sealedAt, 0));
}

QJsonObject UTF16TextRange::toJson() const {
    return {{QStringLiteral("location"), location}, {QStringLiteral("length"), length}};
}

UTF16TextRange UTF16TextRange::fromJson(const QJsonValue &value, const QStringList &codingPath) {
    const JsonObjectReader reader(value, codingPath);
    return {reader.int64(QStringLiteral("location")), reader.int64(QStringLiteral("length"))};
}

QJsonObject PageDescriptorID::toJson() const {
    QJsonObject object{{QStringLiteral("dayKey"), dayKey.toJson()},
                       {QStringLiteral("leafIndex"), leafIndex}};
    if (revision)
        object.insert(QStringLiteral("revision"), revision->toJson());
    return object;
}

PageDescriptorID PageDescriptorID::fromJson(const QJsonValue &value,
                                            const QStringList &codingPath) {
    const JsonObjectReader reader(value, codingPath);
    PageDescriptorID id;
    id.dayKey = reader.decode(QStringLiteral("dayKey"), &DayKey::fromJson);
    id.revision = reader.optionalDecode(QStringLiteral("revision"), &DiaryRevision::fromJson);
    id.leafIndex = reader.int64(QStringLiteral("leafIndex"));
    return id;
}

} // namespace velmora
