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

namespace {

// Whether the character would break the message's line, end its text early or turn the
// direction of the words around it.
bool needsEscape(char16_t unit) {
    return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) || unit == 0x2028 || unit == 0x2029 ||
           (unit >= 0x202A && unit <= 0x202E) || (unit >= 0x2066 && unit <= 0x2069);
}

// Among right-to-left letters an escape's backslash would stand at its far side ("u202E\"):
// an LRM before it keeps it with the letters it leads.
void appendEscaped(QString &shown, QStringView part, bool amongRightToLeft) {
    for (const QChar character : part) {
        const char16_t unit = character.unicode();
        if (!needsEscape(unit)) {
            shown += character;
            continue;
        }
        if (amongRightToLeft)
            shown += QChar(0x200E);
        if (unit == u'\n') {
            shown += QLatin1StringView("\\n");
        } else if (unit == u'\r') {
            shown += QLatin1StringView("\\r");
        } else if (unit == u'\t') {
            shown += QLatin1StringView("\\t");
        } else {
            shown += QLatin1StringView("\\u");
            shown += QString::number(unit, 16).toUpper().rightJustified(4, u'0');
        }
    }
}

bool holdsRightToLeft(QStringView text) {
    for (qsizetype at = 0; at < text.size(); ++at) {
        char32_t point = text.at(at).unicode();
        if (QChar::isHighSurrogate(point) && at + 1 < text.size() &&
            text.at(at + 1).isLowSurrogate()) {
            point = QChar::surrogateToUcs4(text.at(at), text.at(at + 1));
            ++at;
        }
        const QChar::Direction direction = QChar::direction(point);
        if (direction == QChar::DirR || direction == QChar::DirAL || direction == QChar::DirAN)
            return true;
    }
    return false;
}

} // namespace

QString shownExcerpt(const QString &value) {
    constexpr qsizetype kept = 60; // characters at each end
    QStringView head = value;
    QStringView tail;
    if (value.size() > 2 * kept + 1) {
        // Neither end splits a character written as two UTF-16 units.
        qsizetype headEnd = kept;
        if (value.at(headEnd - 1).isHighSurrogate())
            --headEnd;
        qsizetype tailStart = value.size() - kept;
        if (value.at(tailStart).isLowSurrogate())
            ++tailStart;
        head = QStringView(value).first(headEnd);
        tail = QStringView(value).sliced(tailStart);
    }
    // What is escaped has no direction of its own: only what stays decides.
    const bool rightToLeft = holdsRightToLeft(head) || holdsRightToLeft(tail);
    QString shown;
    if (rightToLeft)
        shown += QChar(0x2068);
    appendEscaped(shown, head, rightToLeft);
    if (!tail.isNull()) {
        shown += QChar(0x2026);
        appendEscaped(shown, tail, rightToLeft);
    }
    if (rightToLeft)
        shown += QChar(0x2069);
    return shown;
}

} // namespace velmora
