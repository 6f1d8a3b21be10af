#include "platform/StorableText.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velmora {

namespace {

bool isSurrogate(char16_t unit) {
    return (unit & 0xf800) == 0xd800;
}

// Where the first surrogate is, or `size`: every save passes its whole text through here, and
// nearly all texts hold none, so eight units are checked at a time.
qsizetype firstSurrogate(const char16_t *units, qsizetype size) {
    qsizetype i = 0;
#if defined(__SSE2__)
    const __m128i mask = _mm_set1_epi16(short(0xf800));
    const __m128i surrogate = _mm_set1_epi16(short(0xd800));
    for (; i + 8 <= size; i += 8) {
        const __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i *>(units + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(eight, mask), surrogate)))
            break;
    }
#endif
    while (i < size && !isSurrogate(units[i]))
        ++i;
    return i;
}

} // namespace

QString storableText(const QString &text) {
    const qsizetype size = text.size();
    const qsizetype first = firstSurrogate(reinterpret_cast<const char16_t *>(text.utf16()), size);
    if (first == size)
        return text;
    QString result;
    for (qsizetype i = first; i < size; ++i) {
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
