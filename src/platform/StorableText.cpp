#include "platform/StorableText.h"

namespace velmora {

QString storableText(const QString &text) {
    QString result;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text.at(i);
        if (!c.isSurrogate())
            continue;
        if (c.isHighSurrogate() && i + 1 < size && text.at(i + 1).isLowSurrogate()) {
            ++i;
            continue;
        }
        if (result.isNull())
            result = text;
        result[i] = QChar::ReplacementCharacter;
    }
    return result.isNull() ? text : result;
}

} // namespace velmora
