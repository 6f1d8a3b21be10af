#include "platform/DecimalText.h"

#include <limits>

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

std::optional<qint64> parseSignedDecimal(QStringView text) {
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        text = text.mid(1);
    }
    if (text.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c.unicode() - u'0';
        if (value > (std::numeric_limits<qint64>::max() - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

} // namespace velmora
