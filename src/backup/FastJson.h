#pragma once

#include "platform/DiaryError.h"

#include <QByteArray>
#include <QJsonValue>

#include <stop_token>
#include <string_view>

namespace velmora {

// Reading needed more memory than the process could have: the file may be perfectly good.
class InsufficientMemoryError : public DiaryError {
public:
    InsufficientMemoryError();
    QString message() const override;
};

// Room a large text keeps after its end (QByteArray::reserve) so that parseJsonFast need not
// copy it.
inline constexpr qsizetype fastJsonPadding = 64;

// Parses bytes as one JSON value, like parseJson, an order of magnitude faster on strings with
// escapes, which every diary entry has. Fails as corrupted data at the root, as parseJson does;
// text that is not valid UTF-8, holds raw control characters in strings or nests deeper than
// maximumJsonNesting is refused. Its buffers are about six times the text; when they cannot be
// had it throws InsufficientMemoryError, never a decoding error.
// The string values of `unreadStringKey`, at any depth, are checked as strings and read as empty,
// for callers that validate a document without keeping its long texts. Once `stop` is asked, it
// ends with CancellationError at the next element of an array.
QJsonValue parseJsonFast(const QByteArray &bytes, std::string_view unreadStringKey = {},
                         std::stop_token stop = {});

} // namespace velmora
