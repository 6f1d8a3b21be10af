#include "platform/DecimalText.h"

#include <array>
#include <charconv>
#include <cmath>

namespace velmora {

QString shortestDecimalText(double value) {
    if (!std::isfinite(value))
        return std::isnan(value) ? QStringLiteral("nan")
                                 : (value > 0 ? QStringLiteral("inf") : QStringLiteral("-inf"));
    // Fixed notation of the largest doubles needs over 300 digits.
    std::array<char, 400> buffer{};
    const auto written = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                       std::chars_format::fixed);
    QString text = QString::fromLatin1(buffer.data(), written.ptr - buffer.data());
    if (!text.contains(QLatin1Char('.')))
        text += QStringLiteral(".0");
    return text;
}

} // namespace velmora
