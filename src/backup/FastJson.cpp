#include "backup/FastJson.h"

#include "platform/Cancellation.h"
#include "platform/JsonCoding.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonObject>

#include <simdjson.h>

#include <memory>
#include <optional>

namespace velmora {

namespace {

namespace ondemand = simdjson::ondemand;
using simdjson::error_code;

static_assert(fastJsonPadding == qsizetype(simdjson::SIMDJSON_PADDING));

// Larger documents get a parser of their own, released afterwards: its buffers are a few times
// the document's size.
constexpr size_t keptParserCapacity = 1024 * 1024;

QString text(std::string_view view) {
    return QString::fromUtf8(view.data(), qsizetype(view.size()));
}

// The parser's own depth checks (in debug builds) count the outermost value as 1 and need room
// for the deepest container a reader takes.
constexpr size_t parserDepth = size_t(maximumJsonNesting) + 1;

// Reads the value whole (every member and element, so that all of it is checked) into `out`.
// `depth` is the number of containers around the value; one nested deeper than the limit is
// refused before it is entered.
template <typename Value>
error_code toJsonValue(Value &value, std::string_view unread, const std::stop_token &stop,
                       int depth, QJsonValue &out) {
    ondemand::json_type type;
    if (const error_code error = value.type().get(type))
        return error;
    if ((type == ondemand::json_type::object || type == ondemand::json_type::array) &&
        depth >= maximumJsonNesting)
        return simdjson::DEPTH_ERROR;
    switch (type) {
    case ondemand::json_type::object: {
        ondemand::object object;
        if (const error_code error = value.get_object().get(object))
            return error;
        QJsonObject result;
        for (auto member : object) {
            ondemand::field field;
            std::string_view key;
            if (const error_code error = std::move(member).get(field))
                return error;
            if (const error_code error = field.unescaped_key().get(key))
                return error;
            ondemand::value &child = field.value();
            QJsonValue converted;
            ondemand::json_type childType;
            if (const error_code error = child.type().get(childType))
                return error;
            if (!unread.empty() && key == unread && childType == ondemand::json_type::string) {
                std::string_view ignored;
                if (const error_code error = child.get_string().get(ignored))
                    return error;
                converted = QString();
            } else if (const error_code error =
                           toJsonValue(child, unread, stop, depth + 1, converted)) {
                return error;
            }
            result.insert(text(key), converted);
        }
        out = result;
        return simdjson::SUCCESS;
    }
    case ondemand::json_type::array: {
        ondemand::array array;
        if (const error_code error = value.get_array().get(array))
            return error;
        QJsonArray result;
        for (auto element : array) {
            if (stop.stop_requested())
                throw CancellationError();
            ondemand::value child;
            if (const error_code error = std::move(element).get(child))
                return error;
            QJsonValue converted;
            if (const error_code error = toJsonValue(child, unread, stop, depth + 1, converted))
                return error;
            result.append(converted);
        }
        out = result;
        return simdjson::SUCCESS;
    }
    case ondemand::json_type::string: {
        std::string_view string;
        if (const error_code error = value.get_string().get(string))
            return error;
        out = text(string);
        return simdjson::SUCCESS;
    }
    case ondemand::json_type::number: {
        ondemand::number_type kind;
        if (const error_code error = value.get_number_type().get(kind))
            return error;
        if (kind == ondemand::number_type::signed_integer) {
            int64_t number = 0;
            const error_code error = value.get_int64().get(number);
            out = QJsonValue(qint64(number));
            return error;
        }
        if (kind == ondemand::number_type::unsigned_integer) {
            uint64_t number = 0;
            const error_code error = value.get_uint64().get(number);
            out = QJsonValue(double(number));
            return error;
        }
        double number = 0;
        const error_code error = value.get_double().get(number);
        out = QJsonValue(number);
        return error;
    }
    case ondemand::json_type::boolean: {
        bool flag = false;
        const error_code error = value.get_bool().get(flag);
        out = QJsonValue(flag);
        return error;
    }
    case ondemand::json_type::null: {
        bool isNull = false;
        if (const error_code error = value.is_null().get(isNull))
            return error;
        out = QJsonValue(QJsonValue::Null);
        return isNull ? simdjson::SUCCESS : simdjson::INCORRECT_TYPE;
    }
    }
    return simdjson::INCORRECT_TYPE;
}

error_code parse(ondemand::parser &parser, simdjson::padded_string_view input,
                 std::string_view unread, const std::stop_token &stop, QJsonValue &out) {
    ondemand::document document;
    if (const error_code error = parser.iterate(input).get(document))
        return error;
    bool scalar = false;
    if (const error_code error = document.is_scalar().get(scalar))
        return error;
    if (scalar) {
        if (const error_code error = toJsonValue(document, unread, stop, 0, out))
            return error;
    } else {
        ondemand::value root;
        if (const error_code error = document.get_value().get(root))
            return error;
        if (const error_code error = toJsonValue(root, unread, stop, 0, out))
            return error;
    }
    // Anything after the value makes the text no JSON; at the end there is no location left.
    const char *after = nullptr;
    return document.current_location().get(after) == simdjson::OUT_OF_BOUNDS
               ? simdjson::SUCCESS
               : simdjson::TRAILING_CONTENT;
}

} // namespace

InsufficientMemoryError::InsufficientMemoryError() = default;

QString InsufficientMemoryError::message() const {
    return QCoreApplication::translate("InsufficientMemoryError",
                                       "There is not enough memory to read the file.");
}

QJsonValue parseJsonFast(const QByteArray &bytes, std::string_view unreadStringKey,
                         std::stop_token stop) {
    const size_t length = size_t(bytes.size());
    // The parser reads a little past the end. The text is copied only when its buffer has no
    // room for that; callers with large texts reserve it (fastJsonPadding).
    std::optional<simdjson::padded_string> copy;
    simdjson::padded_string_view input(bytes.constData(), length, size_t(bytes.capacity()));
    if (size_t(bytes.capacity()) < length + simdjson::SIMDJSON_PADDING) {
        copy.emplace(bytes.constData(), length);
        if (copy->data() == nullptr)
            throw InsufficientMemoryError();
        input =
            simdjson::padded_string_view(copy->data(), length, length + simdjson::SIMDJSON_PADDING);
    }

    // A parser keeps its buffers between documents; one per thread, since runs of lines are
    // read side by side.
    thread_local ondemand::parser keptParser;
    std::unique_ptr<ondemand::parser> ownParser;
    if (length > keptParserCapacity)
        ownParser = std::make_unique<ondemand::parser>();
    ondemand::parser &parser = ownParser ? *ownParser : keptParser;

    if (parser.max_depth() != parserDepth &&
        parser.allocate(length, parserDepth) != simdjson::SUCCESS)
        throw InsufficientMemoryError();

    QJsonValue root;
    const error_code error = parse(parser, input, unreadStringKey, stop, root);
    if (error == simdjson::MEMALLOC)
        throw InsufficientMemoryError();
    if (error != simdjson::SUCCESS)
        throw JsonDecodingError(JsonDecodingError::Kind::dataCorrupted, {},
                                QStringLiteral("The given data was not valid JSON."));
    return root;
}

} // namespace velmora
