#include "platform/SearchFolding.h"

#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <array>
#include <climits>
#include <stdexcept>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velmora {

namespace {

[[noreturn]] void fail(const char *what, UErrorCode status) {
    throw std::runtime_error(std::string(what) + u_errorName(status));
}

// The folded text as it is written, unit by unit, into a buffer that grows when asked for room.
class FoldedText {
public:
    explicit FoldedText(qsizetype capacity)
        : m_text(std::max<qsizetype>(capacity, 16), Qt::Uninitialized) {}

    // Room for `count` units after what was written; valid until the next call.
    UChar *room(qsizetype count) {
        if (m_size + count > m_text.size())
            m_text.resize(std::max(m_text.size() * 2, m_size + count));
        return reinterpret_cast<UChar *>(m_text.data()) + m_size;
    }
    void wrote(qsizetype count) { m_size += count; }
    QString take() {
        m_text.resize(m_size);
        return std::move(m_text);
    }

private:
    QString m_text;
    qsizetype m_size = 0;
};

// Calls an ICU preflighting function with room for `guess` units first, and once more with the
// room it asks for when that was too small; returns the units written.
template <typename Room, typename Function>
int32_t preflighted(const Room &room, int32_t guess, const Function &function) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = function(room(guess), guess, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        status = U_ZERO_ERROR;
        length = function(room(length), length, &status);
    }
    if (U_FAILURE(status))
        fail("Unicode folding failed: ", status);
    return length;
}

// Folds one stretch of text onto `out`: decomposed, its non-spacing marks dropped, case folded
// in full.
void foldThroughIcu(const UNormalizer2 *nfd, const UChar *run, int32_t length,
                    std::vector<UChar> &scratch, FoldedText &out) {
    const auto scratchRoom = [&](int32_t count) {
        scratch.resize(std::size_t(std::max(count, 1)));
        return scratch.data();
    };
    const int32_t decomposed =
        preflighted(scratchRoom, int32_t(std::min<qint64>(qint64(length) * 3, INT32_MAX)),
                    [&](UChar *to, int32_t capacity, UErrorCode *error) {
                        return unorm2_normalize(nfd, run, length, to, capacity, error);
                    });
    int32_t kept = 0;
    for (int32_t i = 0; i < decomposed;) {
        const int32_t start = i;
        UChar32 c;
        U16_NEXT(scratch.data(), i, decomposed, c);
        // Kept units move down in place: `kept` never passes `start`.
        if (u_charType(c) != U_NON_SPACING_MARK)
            for (int32_t k = start; k < i; ++k)
                scratch[std::size_t(kept++)] = scratch[std::size_t(k)];
    }
    const auto outRoom = [&](int32_t count) { return out.room(count); };
    out.wrote(preflighted(outRoom, kept + 8, [&](UChar *to, int32_t capacity, UErrorCode *error) {
        return u_strFoldCase(to, capacity, scratch.data(), kept, U_FOLD_CASE_DEFAULT, error);
    }));
}

// The letters of the alphabetic scripts up to the end of Cyrillic, each folded once with the ICU
// calls above. A stretch of letters whose decompositions all begin with a character of combining
// class 0 folds letter by letter, since no mark is reordered across such a character: the text
// of most diaries then never reaches ICU at all.
constexpr char16_t tableEnd = 0x0530;

struct FoldedLetter {
    std::array<UChar, 4> units{};
    quint8 size = 0;
    bool usable = false;
};

using LetterTable = std::array<FoldedLetter, tableEnd>;

LetterTable makeLetterTable(const UNormalizer2 *nfd) {
    LetterTable table;
    std::vector<UChar> scratch;
    for (char16_t c = 0x80; c < tableEnd; ++c) {
        UChar decomposition[8];
        UErrorCode status = U_ZERO_ERROR;
        const int32_t length = unorm2_getDecomposition(nfd, c, decomposition, 8, &status);
        UChar32 first = c;
        if (U_SUCCESS(status) && length > 0)
            U16_GET(decomposition, 0, 0, length, first);
        if (U_FAILURE(status) || unorm2_getCombiningClass(nfd, first) != 0)
            continue;
        const UChar unit = c;
        FoldedText folded(8);
        foldThroughIcu(nfd, &unit, 1, scratch, folded);
        const QString units = folded.take();
        FoldedLetter &letter = table[c];
        if (units.size() > qsizetype(letter.units.size()))
            continue;
        std::copy(units.utf16(), units.utf16() + units.size(), letter.units.begin());
        letter.size = quint8(units.size());
        letter.usable = true;
    }
    return table;
}

// Folds the stretch from the table, or returns false when one of its units is not there.
bool foldThroughTable(const LetterTable &table, const UChar *run, qsizetype length,
                      FoldedText &out) {
    for (qsizetype i = 0; i < length; ++i)
        if (run[i] >= tableEnd || !table[run[i]].usable)
            return false;
    UChar *to = out.room(length * qsizetype(FoldedLetter().units.size()));
    UChar *const start = to;
    for (qsizetype i = 0; i < length; ++i) {
        const FoldedLetter &letter = table[run[i]];
        to = std::copy(letter.units.begin(), letter.units.begin() + letter.size, to);
    }
    out.wrote(to - start);
    return true;
}

UChar lowered(UChar unit) {
    return unit >= u'A' && unit <= u'Z' ? UChar(unit + 0x20) : unit;
}

// Lower-cases the ASCII at the start of `from` into `to`, eight units at a time where it can;
// returns how many units that was.
qsizetype lowerAscii(const UChar *from, qsizetype size, UChar *to) {
    qsizetype i = 0;
#if defined(__SSE2__)
    const __m128i nonAscii = _mm_set1_epi16(short(0xff80));
    const __m128i beforeA = _mm_set1_epi16(u'A' - 1);
    const __m128i afterZ = _mm_set1_epi16(u'Z' + 1);
    const __m128i toLower = _mm_set1_epi16(0x20);
    for (; i + 8 <= size; i += 8) {
        const __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + i));
        if (_mm_movemask_epi8(
                _mm_cmpeq_epi16(_mm_and_si128(eight, nonAscii), _mm_setzero_si128())) != 0xffff)
            break;
        const __m128i upper =
            _mm_and_si128(_mm_cmpgt_epi16(eight, beforeA), _mm_cmplt_epi16(eight, afterZ));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(to + i),
                         _mm_add_epi16(eight, _mm_and_si128(upper, toLower)));
    }
#endif
    for (; i < size && from[i] < 0x80; ++i)
        to[i] = lowered(from[i]);
    return i;
}

} // namespace

QString foldedForSearch(const QString &text) {
    // ASCII is never decomposed, carries no marks and folds by lower-casing, and no mark moves
    // across it when text is decomposed: folding the stretches between ASCII characters one by
    // one gives what folding the text whole would.
    const auto *units = reinterpret_cast<const UChar *>(text.utf16());
    const qsizetype size = text.size();
    FoldedText out(size + 16);
    qsizetype i = lowerAscii(units, size, out.room(size));
    out.wrote(i);
    if (i == size)
        return out.take();

    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2 *nfd = unorm2_getNFDInstance(&status);
    if (U_FAILURE(status))
        fail("Unicode normalisation is unavailable: ", status);
    static const LetterTable letters = makeLetterTable(nfd);
    std::vector<UChar> scratch;
    while (i < size) {
        const qsizetype start = i;
        while (i < size && units[i] >= 0x80)
            ++i;
        if (!foldThroughTable(letters, units + start, i - start, out))
            foldThroughIcu(nfd, units + start, int32_t(i - start), scratch, out);
        const qsizetype ascii = lowerAscii(units + i, size - i, out.room(size - i));
        out.wrote(ascii);
        i += ascii;
    }
    return out.take();
}

} // namespace velmora
