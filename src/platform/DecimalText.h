#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace velmora {

// The shortest plain decimal (no exponent) that reads back as exactly this double, always with
// a fractional part: 40 is "40.0", 730000000.25 is "730000000.25". Keys and fingerprints are made
// of it, so equal values always give equal text.
QString shortestDecimalText(double value);

// A decimal integer with an optional sign and nothing else (no spaces, no other digits); none
// when the text is anything else or the value does not fit in 64 bits.
std::optional<qint64> parseSignedDecimal(QStringView text);

} // namespace velmora
