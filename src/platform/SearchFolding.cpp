#include "platform/SearchFolding.h"

#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <stdexcept>

namespace velmora {

namespace {

const UChar *utf16(const QString &text) {
    return reinterpret_cast<const UChar *>(text.utf16());
}

// Calls an ICU preflighting function with a buffer of `guess` units, and once more with the size
// it asks for when that was too small.
template <typename Function> QString icuString(qsizetype guess, const Function &function) {
    QString result(std::max<qsizetype>(guess, 1), Qt::Uninitialized);
    UErrorCode status = U_ZERO_ERROR;
    int32_t length =
        function(reinterpret_cast<UChar *>(result.data()), int32_t(result.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        result.resize(length);
        status = U_ZERO_ERROR;
        length =
            function(reinterpret_cast<UChar *>(result.data()), int32_t(result.size()), &status);
    }
    if (U_FAILURE(status))
        throw std::runtime_error(std::string("Unicode folding failed: ") + u_errorName(status));
    result.resize(length);
    return result;
}

} // namespace

QString foldedForSearch(const QString &text) {
    // Most diary text is plain ASCII, where folding is lower-casing.
    if (std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; })) {
        QString result = text;
        for (QChar &c : result) {
            if (c >= u'A' && c <= u'Z')
                c = QChar(c.unicode() + 0x20);
        }
        return result;
    }
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2 *nfd = unorm2_getNFDInstance(&status);
    if (U_FAILURE(status))
        throw std::runtime_error(std::string("Unicode normalisation is unavailable: ") +
                                 u_errorName(status));
    const QString decomposed =
        icuString(text.size() * 2, [&](UChar *out, int32_t capacity, UErrorCode *error) {
            return unorm2_normalize(nfd, utf16(text), int32_t(text.size()), out, capacity, error);
        });

    QString stripped;
    stripped.reserve(decomposed.size());
    const auto *units = utf16(decomposed);
    const int32_t length = int32_t(decomposed.size());
    for (int32_t i = 0; i < length;) {
        const int32_t start = i;
        UChar32 c;
        U16_NEXT(units, i, length, c);
        if (u_charType(c) != U_NON_SPACING_MARK)
            stripped.append(QStringView(decomposed).mid(start, i - start));
    }

    return icuString(stripped.size() + 8, [&](UChar *out, int32_t capacity, UErrorCode *error) {
        return u_strFoldCase(out, capacity, utf16(stripped), int32_t(stripped.size()),
                             U_FOLD_CASE_DEFAULT, error);
    });
}

} // namespace velmora
