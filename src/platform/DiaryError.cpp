#include "platform/DiaryError.h"

namespace velmora {

const char *DiaryError::what() const noexcept {
    try {
        m_what = message().toUtf8();
    } catch (...) {
        return "velmora::DiaryError";
    }
    return m_what.constData();
}

QString shownExcerpt(const QString &value) {
    constexpr qsizetype kept = 60; // characters at each end
    if (value.size() <= 2 * kept + 1)
        return value;
    // Neither end splits a character written as two UTF-16 units.
    qsizetype headEnd = kept;
    if (value.at(headEnd - 1).isHighSurrogate())
        --headEnd;
    qsizetype tailStart = value.size() - kept;
    if (value.at(tailStart).isLowSurrogate())
        ++tailStart;
    return value.first(headEnd) + QChar(0x2026) + value.sliced(tailStart);
}

} // namespace velmora
