#pragma once

#include <QString>
#include <QStringView>
#include <QUuid>

#include <optional>

namespace velmora {

// A UUID as the diary writes it: 36 characters, upper case, 8-4-4-4-12.
QString uuidText(const QUuid &uuid);

// Reads exactly the 8-4-4-4-12 form, in either case; braces, URNs and other spellings are refused.
std::optional<QUuid> uuidFromText(QStringView text);

} // namespace velmora
