#include "backup/FastJson.h"

#include "platform/JsonCoding.h"

#include <QJsonArray>
#include <QJsonObject>

#include <simdjson.h>

namespace velmora {

namespace {

QString text(std::string_view view) {
    return QString::fromUtf8(view.data(), qsizetype(view.size()));
}

QJsonValue toJsonValue(simdjson::dom::element element, std::string_view unread) {
    using Type = simdjson::dom::element_type;
    switch (element.type()) {
    case Type::OBJECT: {
        QJsonObject object;
        for (const simdjson::dom::key_value_pair field : simdjson::dom::object(element)) {
            if (!unread.empty() && field.key == unread && field.value.is_string())
                object.insert(text(field.key), QString());
            else
                object.insert(text(field.key), toJsonValue(field.value, unread));
        }
        return object;
    }
    case Type::ARRAY: {
        QJsonArray array;
        for (const simdjson::dom::element value : simdjson::dom::array(element))
            array.append(toJsonValue(value, unread));
        return array;
    }
    case Type::STRING:
        return text(element.get_string().value_unsafe());
    case Type::INT64:
        return QJsonValue(qint64(element.get_int64().value_unsafe()));
    case Type::UINT64:
        return QJsonValue(double(element.get_uint64().value_unsafe()));
    case Type::DOUBLE:
        return QJsonValue(element.get_double().value_unsafe());
    case Type::BOOL:
        return QJsonValue(element.get_bool().value_unsafe());
    case Type::NULL_VALUE:
        break;
    }
    return QJsonValue(QJsonValue::Null);
}

} // namespace

QJsonValue parseJsonFast(const QByteArray &bytes, std::string_view unreadStringKey) {
    // A parser keeps its buffers between documents; one per thread, since runs of lines are
    // read side by side.
    thread_local simdjson::dom::parser parser;
    simdjson::dom::element root;
    const auto error = parser.parse(bytes.constData(), size_t(bytes.size()), true).get(root);
    if (error != simdjson::SUCCESS)
        throw JsonDecodingError(JsonDecodingError::Kind::dataCorrupted, {},
                                QStringLiteral("The given data was not valid JSON."));
    return toJsonValue(root, unreadStringKey);
}

} // namespace velmora
