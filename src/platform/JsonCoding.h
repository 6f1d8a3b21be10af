#pragma once

#include "platform/DiaryError.h"
#include "platform/RawValueEnum.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>

namespace velmora {

// How a format writes moments. Every encoding keeps millisecond precision.
enum class JsonDateEncoding {
    millisecondsSince1970,     // a number: backups
    iso8601,                   // text "2024-01-05T10:00:00Z", ".123" added when there are ms
    secondsSince1970,          // a number: sync files
    secondsSinceReferenceDate, // a number of seconds since 2001-01-01 00:00:00 UTC: migration files
};

// A decoding failure with its kind, the coding path of the value and a description.
class JsonDecodingError : public DiaryError {
public:
    enum class Kind { keyNotFound, valueNotFound, typeMismatch, dataCorrupted };

    JsonDecodingError(Kind kind, QStringList codingPath, QString debugDescription);

    Kind kind() const { return m_kind; }
    const QStringList &codingPath() const { return m_codingPath; }
    const QString &debugDescription() const { return m_debugDescription; }
    QString codingPathText() const { return m_codingPath.join(QLatin1Char('.')); }

    QString message() const override;

private:
    Kind m_kind;
    QStringList m_codingPath;
    QString m_debugDescription;
};

class JsonEncodingError : public DiaryError {
public:
    explicit JsonEncodingError(QString description);
    QString message() const override;

private:
    QString m_description;
};

// How deeply arrays and objects may nest in any JSON the program reads. Deeper text is refused
// as corrupted data by every reader, so a hostile file can neither exhaust the stack nor read
// in one reader and not another. Qt's parser (parseJson, the handwriting index) stops at this
// same depth of its own accord.
inline constexpr int maximumJsonNesting = 1024;

// Parses bytes as one JSON value; malformed text, or text nested deeper than
// maximumJsonNesting, is corrupted data at the root.
QJsonValue parseJson(const QByteArray &bytes);

struct JsonWriteOptions {
    bool escapeSlashes = false;
    bool prettyPrinted = false;
};

// The one canonical writer: keys sorted, integers exact, doubles in their shortest round-trip
// form, non-ASCII written as UTF-8, and "/" optionally escaped as "\/".
QByteArray writeJson(const QJsonValue &value, JsonWriteOptions options = {});
// Appends one string value exactly as writeJson writes it, quotes included, for writers that
// place long texts into a line without copying them through a JSON value first.
void appendJsonString(QByteArray &out, const QString &text, JsonWriteOptions options = {});

QJsonValue encodeDate(const QDateTime &moment, JsonDateEncoding encoding);

// Decoders of single values. Each throws JsonDecodingError at the given coding path.
namespace json {

QString string(const QJsonValue &value, const QStringList &path);
qint64 int64(const QJsonValue &value, const QStringList &path);
double number(const QJsonValue &value, const QStringList &path);
bool boolean(const QJsonValue &value, const QStringList &path);
QUuid uuid(const QJsonValue &value, const QStringList &path);
QByteArray base64Data(const QJsonValue &value, const QStringList &path);
QDateTime date(const QJsonValue &value, JsonDateEncoding encoding, const QStringList &path);
QJsonObject object(const QJsonValue &value, const QStringList &path);
QJsonArray array(const QJsonValue &value, const QStringList &path);
[[noreturn]] void throwCorrupted(const QStringList &path, const QString &description);

template <typename E> E rawValueEnum(const QJsonValue &value, const QStringList &path) {
    const QString text = string(value, path);
    if (auto parsed = fromRawValue<E>(text))
        return *parsed;
    throwCorrupted(path, QStringLiteral("Cannot initialize %1 from invalid String value %2")
                             .arg(QLatin1StringView(EnumRawValues<E>::typeName.data(),
                                                    qsizetype(EnumRawValues<E>::typeName.size())),
                                  text));
}

template <typename T, typename Decode>
QList<T> list(const QJsonValue &value, const QStringList &path, Decode decodeElement) {
    const QJsonArray elements = array(value, path);
    QList<T> result;
    result.reserve(elements.size());
    for (qsizetype i = 0; i < elements.size(); ++i)
        result.append(
            decodeElement(elements.at(i), path + QStringList{QStringLiteral("Index %1").arg(i)}));
    return result;
}

} // namespace json

// Reads the members of one JSON object, with the object's coding path. Missing members fail as
// key-not-found and null members as value-not-found; optional members read null as absent.
class JsonObjectReader {
public:
    JsonObjectReader(const QJsonValue &value, QStringList codingPath = {});

    const QStringList &codingPath() const { return m_path; }
    QStringList pathOf(const QString &key) const { return m_path + QStringList{key}; }
    bool hasValue(const QString &key) const;

    QJsonValue required(const QString &key) const;
    std::optional<QJsonValue> optional(const QString &key) const;

    QString string(const QString &key) const { return json::string(required(key), pathOf(key)); }
    qint64 int64(const QString &key) const { return json::int64(required(key), pathOf(key)); }
    double number(const QString &key) const { return json::number(required(key), pathOf(key)); }
    bool boolean(const QString &key) const { return json::boolean(required(key), pathOf(key)); }
    QUuid uuid(const QString &key) const { return json::uuid(required(key), pathOf(key)); }
    QByteArray base64Data(const QString &key) const {
        return json::base64Data(required(key), pathOf(key));
    }
    QDateTime date(const QString &key, JsonDateEncoding encoding) const {
        return json::date(required(key), encoding, pathOf(key));
    }
    template <typename E> E rawValueEnum(const QString &key) const {
        return json::rawValueEnum<E>(required(key), pathOf(key));
    }
    template <typename T, typename Decode>
    QList<T> list(const QString &key, Decode decodeElement) const {
        return json::list<T>(required(key), pathOf(key), decodeElement);
    }

    // A member read by its own type's decoder, which is handed the member's coding path.
    template <typename Decode> auto decode(const QString &key, Decode decodeValue) const {
        return decodeValue(required(key), pathOf(key));
    }
    template <typename Decode>
    auto optionalDecode(const QString &key, Decode decodeValue) const
        -> std::optional<decltype(decodeValue(QJsonValue(), QStringList()))> {
        if (auto value = optional(key))
            return decodeValue(*value, pathOf(key));
        return std::nullopt;
    }

    std::optional<QString> optionalString(const QString &key) const;
    std::optional<QUuid> optionalUuid(const QString &key) const;
    std::optional<QDateTime> optionalDate(const QString &key, JsonDateEncoding encoding) const;

private:
    QJsonObject m_object;
    QStringList m_path;
};

} // namespace velmora
