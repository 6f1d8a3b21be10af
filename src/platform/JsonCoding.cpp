#include "platform/JsonCoding.h"

#include "platform/UuidText.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QLocale>
#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace velmora {

namespace {

// Seconds from 1970-01-01 to 2001-01-01, both UTC.
constexpr qint64 referenceDateOffsetMs = 978307200000;

QString typeName(const QJsonValue &value) {
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("a boolean");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a string");
    case QJsonValue::Array:
        return QStringLiteral("an array");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("nothing");
}

[[noreturn]] void throwMismatch(const QJsonValue &value, const QStringList &path,
                                const QString &expected) {
    if (value.isNull() || value.isUndefined())
        throw JsonDecodingError(
            JsonDecodingError::Kind::valueNotFound, path,
            QStringLiteral("Expected %1 value but found null instead.").arg(expected));
    throw JsonDecodingError(JsonDecodingError::Kind::typeMismatch, path,
                            QStringLiteral("Expected to decode %1 but found %2 instead.")
                                .arg(expected, typeName(value)));
}

// Whether any of eight bytes may need escaping: a control character, a quote, a backslash or,
// when asked, a slash. Exact for the usual words; a false alarm only costs a byte-wise look.
bool wordMayNeedEscape(quint64 word, bool escapeSlashes) {
    constexpr quint64 ones = 0x0101010101010101ULL;
    constexpr quint64 highs = 0x8080808080808080ULL;
    const auto hasByteBelow = [](quint64 v, quint64 n) { return (v - ones * n) & ~v & highs; };
    const auto hasZeroByte = [](quint64 v) { return (v - ones) & ~v & highs; };
    quint64 found = hasByteBelow(word, 0x20) | hasZeroByte(word ^ (ones * '"')) |
                    hasZeroByte(word ^ (ones * '\\'));
    if (escapeSlashes)
        found |= hasZeroByte(word ^ (ones * '/'));
    return found != 0;
}

void appendEscapedString(QByteArray &out, const QString &text, bool escapeSlashes) {
    out.append('"');
    const QByteArray utf8 = text.toUtf8();
    const char *data = utf8.constData();
    const qsizetype size = utf8.size();
    // Plain runs go out in one piece, passed over eight bytes at a time; only the bytes that
    // need escaping are handled one by one.
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < size; ++i) {
        for (quint64 word; i + 8 <= size; i += 8) {
            std::memcpy(&word, data + i, sizeof word);
            if (wordMayNeedEscape(word, escapeSlashes))
                break;
        }
        if (i >= size)
            break;
        const auto c = static_cast<unsigned char>(data[i]);
        const bool plain = c >= 0x20 && c != '"' && c != '\\' && (c != '/' || !escapeSlashes);
        if (plain)
            continue;
        out.append(data + runStart, i - runStart);
        runStart = i + 1;
        switch (c) {
        case '"':
            out.append("\\\"");
            break;
        case '\\':
            out.append("\\\\");
            break;
        case '/':
            out.append("\\/");
            break;
        case '\n':
            out.append("\\n");
            break;
        case '\r':
            out.append("\\r");
            break;
        case '\t':
            out.append("\\t");
            break;
        case '\b':
            out.append("\\b");
            break;
        case '\f':
            out.append("\\f");
            break;
        default: {
            static constexpr char digits[] = "0123456789abcdef";
            out.append("\\u00");
            out.append(digits[c >> 4]);
            out.append(digits[c & 0xF]);
        }
        }
    }
    out.append(data + runStart, size - runStart);
    out.append('"');
}

void appendNumber(QByteArray &out, const QJsonValue &value) {
    const double d = value.toDouble();
    if (!std::isfinite(d))
        throw JsonEncodingError(QStringLiteral("A number that is not finite cannot be written."));
    // Whole numbers (integers parsed or built as qint64 among them) keep every digit; other
    // doubles take their shortest round-trip form.
    const qint64 asInteger = value.toInteger(0);
    if (asInteger == value.toInteger(1)) {
        out.append(QByteArray::number(asInteger));
        return;
    }
    out.append(QByteArray::number(d, 'g', QLocale::FloatingPointShortest));
}

void appendIndent(QByteArray &out, int depth) {
    out.append('\n');
    out.append(QByteArray(depth * 2, ' '));
}

void appendValue(QByteArray &out, const QJsonValue &value, const JsonWriteOptions &options,
                 int depth) {
    switch (value.type()) {
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        out.append("null");
        return;
    case QJsonValue::Bool:
        out.append(value.toBool() ? "true" : "false");
        return;
    case QJsonValue::Double:
        appendNumber(out, value);
        return;
    case QJsonValue::String:
        appendEscapedString(out, value.toString(), options.escapeSlashes);
        return;
    case QJsonValue::Array: {
        const QJsonArray array = value.toArray();
        out.append('[');
        for (qsizetype i = 0; i < array.size(); ++i) {
            if (i > 0)
                out.append(',');
            if (options.prettyPrinted)
                appendIndent(out, depth + 1);
            appendValue(out, array.at(i), options, depth + 1);
        }
        if (options.prettyPrinted && !array.isEmpty())
            appendIndent(out, depth);
        out.append(']');
        return;
    }
    case QJsonValue::Object: {
        const QJsonObject object = value.toObject();
        QStringList keys = object.keys();
        std::sort(keys.begin(), keys.end());
        out.append('{');
        bool first = true;
        for (const QString &key : keys) {
            if (!first)
                out.append(',');
            first = false;
            if (options.prettyPrinted)
                appendIndent(out, depth + 1);
            appendEscapedString(out, key, options.escapeSlashes);
            out.append(options.prettyPrinted ? " : " : ":");
            appendValue(out, object.value(key), options, depth + 1);
        }
        if (options.prettyPrinted && !keys.isEmpty())
            appendIndent(out, depth);
        out.append('}');
        return;
    }
    }
}

QDateTime dateFromMilliseconds(double milliseconds, const QStringList &path) {
    if (!std::isfinite(milliseconds) || std::fabs(milliseconds) > 8.64e18)
        json::throwCorrupted(path, QStringLiteral("The date is out of range."));
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(milliseconds)), QTimeZone::utc());
}

} // namespace

JsonDecodingError::JsonDecodingError(Kind kind, QStringList codingPath, QString debugDescription)
    : m_kind(kind)
    , m_codingPath(std::move(codingPath))
    , m_debugDescription(std::move(debugDescription)) {}

QString JsonDecodingError::message() const {
    switch (m_kind) {
    case Kind::keyNotFound:
    case Kind::valueNotFound:
        return QCoreApplication::translate("JsonDecodingError",
                                           "The data couldn’t be read because it is missing.");
    case Kind::typeMismatch:
    case Kind::dataCorrupted:
        break;
    }
    return QCoreApplication::translate(
        "JsonDecodingError", "The data couldn’t be read because it isn’t in the correct format.");
}

JsonEncodingError::JsonEncodingError(QString description)
    : m_description(std::move(description)) {}

QString JsonEncodingError::message() const {
    return m_description;
}

QJsonValue parseJson(const QByteArray &bytes) {
    const auto corrupted = [] {
        return JsonDecodingError(JsonDecodingError::Kind::dataCorrupted, {},
                                 QStringLiteral("The given data was not valid JSON."));
    };
    QJsonParseError error;
    const qsizetype first =
        std::find_if(bytes.begin(), bytes.end(),
                     [](char c) { return c != ' ' && c != '\t' && c != '\n' && c != '\r'; }) -
        bytes.begin();
    if (first < bytes.size() && (bytes.at(first) == '{' || bytes.at(first) == '[')) {
        // Parsed as it is: a wrapper would count as one more level of nesting.
        const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
        if (error.error != QJsonParseError::NoError)
            throw corrupted();
        return document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array());
    }
    // Wrapping lets a top-level scalar through the document parser.
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray("[") + bytes + QByteArray("]"), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray() ||
        document.array().size() != 1)
        throw corrupted();
    return document.array().at(0);
}

QByteArray writeJson(const QJsonValue &value, JsonWriteOptions options) {
    QByteArray out;
    appendValue(out, value, options, 0);
    return out;
}

void appendJsonString(QByteArray &out, const QString &text, JsonWriteOptions options) {
    appendEscapedString(out, text, options.escapeSlashes);
}

QJsonValue encodeDate(const QDateTime &moment, JsonDateEncoding encoding) {
    const qint64 ms = moment.toMSecsSinceEpoch();
    switch (encoding) {
    case JsonDateEncoding::millisecondsSince1970:
        return QJsonValue(ms);
    case JsonDateEncoding::secondsSince1970:
        return QJsonValue(double(ms) / 1000.0);
    case JsonDateEncoding::secondsSinceReferenceDate:
        return QJsonValue(double(ms - referenceDateOffsetMs) / 1000.0);
    case JsonDateEncoding::iso8601: {
        const QDateTime utc = moment.toUTC();
        const QString format = utc.time().msec() != 0 ? QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ")
                                                      : QStringLiteral("yyyy-MM-ddTHH:mm:ssZ");
        return QJsonValue(utc.toString(format));
    }
    }
    return {};
}

namespace json {

void throwCorrupted(const QStringList &path, const QString &description) {
    throw JsonDecodingError(JsonDecodingError::Kind::dataCorrupted, path, description);
}

QString string(const QJsonValue &value, const QStringList &path) {
    if (!value.isString())
        throwMismatch(value, path, QStringLiteral("String"));
    return value.toString();
}

qint64 int64(const QJsonValue &value, const QStringList &path) {
    if (!value.isDouble())
        throwMismatch(value, path, QStringLiteral("Int64"));
    const qint64 a = value.toInteger(0);
    const qint64 b = value.toInteger(1);
    if (a != b)
        throwCorrupted(
            path,
            QStringLiteral("Parsed JSON number <%1> does not fit in Int64.").arg(value.toDouble()));
    return a;
}

double number(const QJsonValue &value, const QStringList &path) {
    if (!value.isDouble())
        throwMismatch(value, path, QStringLiteral("Double"));
    return value.toDouble();
}

bool boolean(const QJsonValue &value, const QStringList &path) {
    if (!value.isBool())
        throwMismatch(value, path, QStringLiteral("Bool"));
    return value.toBool();
}

QUuid uuid(const QJsonValue &value, const QStringList &path) {
    const QString text = string(value, path);
    if (auto parsed = uuidFromText(text))
        return *parsed;
    throwCorrupted(path, QStringLiteral("Attempted to decode UUID from invalid UUID string."));
}

QByteArray base64Data(const QJsonValue &value, const QStringList &path) {
    const QString text = string(value, path);
    auto decoded =
        QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    bool latin1 = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
    if (!decoded || !latin1 || text.size() % 4 != 0)
        throwCorrupted(path, QStringLiteral("Encountered Data is not valid Base64."));
    return *decoded;
}

QDateTime date(const QJsonValue &value, JsonDateEncoding encoding, const QStringList &path) {
    switch (encoding) {
    case JsonDateEncoding::millisecondsSince1970:
        return dateFromMilliseconds(number(value, path), path);
    case JsonDateEncoding::secondsSince1970:
        return dateFromMilliseconds(number(value, path) * 1000.0, path);
    case JsonDateEncoding::secondsSinceReferenceDate:
        return dateFromMilliseconds(number(value, path) * 1000.0 + double(referenceDateOffsetMs),
                                    path);
    case JsonDateEncoding::iso8601: {
        static const QRegularExpression shape(QStringLiteral(
            R"(^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}(\.\d{1,9})?(Z|[+-]\d{2}:?\d{2})$)"));
        const QString text = string(value, path);
        QDateTime parsed;
        if (shape.match(text).hasMatch())
            parsed = QDateTime::fromString(text, Qt::ISODateWithMs);
        if (!parsed.isValid())
            throwCorrupted(path, QStringLiteral("Expected date string to be ISO8601-formatted."));
        return parsed.toUTC();
    }
    }
    throwCorrupted(path, QStringLiteral("Unknown date encoding."));
}

QJsonObject object(const QJsonValue &value, const QStringList &path) {
    if (!value.isObject())
        throwMismatch(value, path, QStringLiteral("a keyed container"));
    return value.toObject();
}

QJsonArray array(const QJsonValue &value, const QStringList &path) {
    if (!value.isArray())
        throwMismatch(value, path, QStringLiteral("an unkeyed container"));
    return value.toArray();
}

} // namespace json

JsonObjectReader::JsonObjectReader(const QJsonValue &value, QStringList codingPath)
    : m_object(json::object(value, codingPath))
    , m_path(std::move(codingPath)) {}

bool JsonObjectReader::hasValue(const QString &key) const {
    const auto it = m_object.constFind(key);
    return it != m_object.constEnd() && !it->isNull();
}

QJsonValue JsonObjectReader::required(const QString &key) const {
    const auto it = m_object.constFind(key);
    if (it == m_object.constEnd())
        throw JsonDecodingError(JsonDecodingError::Kind::keyNotFound, m_path,
                                QStringLiteral("No value associated with key \"%1\".").arg(key));
    if (it->isNull())
        throw JsonDecodingError(
            JsonDecodingError::Kind::valueNotFound, pathOf(key),
            QStringLiteral("Expected a value for key \"%1\" but found null.").arg(key));
    return *it;
}

std::optional<QJsonValue> JsonObjectReader::optional(const QString &key) const {
    if (!hasValue(key))
        return std::nullopt;
    return m_object.value(key);
}

std::optional<QString> JsonObjectReader::optionalString(const QString &key) const {
    return optionalDecode(key, &json::string);
}

std::optional<QUuid> JsonObjectReader::optionalUuid(const QString &key) const {
    return optionalDecode(key, &json::uuid);
}

std::optional<QDateTime> JsonObjectReader::optionalDate(const QString &key,
                                                        JsonDateEncoding encoding) const {
    if (auto value = optional(key))
        return json::date(*value, encoding, pathOf(key));
    return std::nullopt;
}

} // namespace velmora
