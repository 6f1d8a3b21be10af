#pragma once

#include <QString>

namespace velmora {

// The shortest plain decimal (no exponent) that reads back as exactly this double, always with
// a fractional part: 40 is "40.0", 730000000.25 is "730000000.25". Keys and fingerprints are made
// of it, so equal values always give equal text.
QString shortestDecimalText(double value);

} // namespace velmora
