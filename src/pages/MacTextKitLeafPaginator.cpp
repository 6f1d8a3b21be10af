#include "pages/MacTextKitLeafPaginator.h"

#include "pages/PagesLogging.h"

#include <QFontMetricsF>
#include <QImage>
#include <QTextBoundaryFinder>
#include <QTextLayout>

#include <unicode/brkiter.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <limits>
#include <memory>

namespace velmora {

namespace {

bool isParagraphSeparator(QChar c) {
    return c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator;
}

// White space that lets a line break. No-break spaces glue their neighbours into one word.
bool isBreakingSpace(QChar c) {
    return c.isSpace() && c != QChar::Nbsp && c != u'\u2007' && c != u'\u202F';
}

double lineFragmentHeight(const QTextLine &line, const ParagraphStyle &style) {
    double height = line.height();
    if (style.minimumLineHeight)
        height = std::max(height, *style.minimumLineHeight);
    if (style.maximumLineHeight)
        height = std::min(height, *style.maximumLineHeight);
    return height;
}

// Boundaries of one kind in text(from, to], ascending; `to` is one. Qt's analysis of a long
// Thai run grows with the square of its length, so the text is analysed in windows of about
// `window` units. Each window opens `context` units before the last boundary the previous one
// vouched for, and vouches only for boundaries at least `context` units before its own end,
// where what follows the window can no longer change them.
QList<qsizetype> boundariesIn(QTextBoundaryFinder::BoundaryType type, const QString &text,
                              qsizetype from, qsizetype to, qsizetype window) {
    constexpr qsizetype context = 64;
    QList<qsizetype> result;
    qsizetype vouched = from;
    while (vouched < to) {
        const qsizetype start = std::max(from, vouched - context);
        for (qsizetype length = std::max(window, context);; length *= 2) {
            const qsizetype end = to - start <= length + context ? to : start + length;
            const qsizetype lastVouchable = end == to ? to : end - context;
            QTextBoundaryFinder finder(type, QStringView(text).sliced(start, end - start));
            finder.setPosition(vouched - start);
            const qsizetype before = vouched;
            for (qsizetype next = finder.toNextBoundary();
                 next > 0 && start + next <= lastVouchable; next = finder.toNextBoundary()) {
                vouched = start + next;
                result.append(vouched);
            }
            // A window with nothing to vouch for (a long run of combining marks) grows.
            if (vouched > before)
                break;
        }
    }
    return result;
}

// Where each grapheme cluster of `text` ends, ascending. ICU draws the clusters as the text
// layout does; inside Thai text QTextBoundaryFinder cuts surrogate pairs and emoji sequences
// apart.
QList<qsizetype> graphemeEnds(const QString &text, qsizetype window) {
    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<icu::BreakIterator> clusters(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || text.size() > std::numeric_limits<int32_t>::max()) {
        qCWarning(lcPages) << "Grapheme clusters are taken from Qt: ICU's analysis is unavailable,"
                           << u_errorName(status);
        return boundariesIn(QTextBoundaryFinder::Grapheme, text, 0, text.size(), window);
    }
    const icu::UnicodeString alias(false, reinterpret_cast<const char16_t *>(text.utf16()),
                                   int32_t(text.size()));
    clusters->setText(alias);
    QList<qsizetype> ends;
    for (int32_t end = clusters->next(); end != icu::BreakIterator::DONE; end = clusters->next())
        ends.append(end);
    return ends;
}

struct LaidOutLine {
    qsizetype start = 0;
    double height = 0;
};

struct TextRun {
    qsizetype start = 0;
    qsizetype end = 0;
};

// Lays text out in one font at 72 dots per inch, on lines of one width.
class LineLayouter {
public:
    // Shorter runs without a break opportunity are cheap enough to leave to the layout.
    static constexpr qsizetype minimumOverlongRun = 64;

    // Lines kept back from the end of a piece and laid out again with the next: only they can
    // feel where the piece was cut.
    static constexpr qsizetype linesLaidOutAgain = 2;

    LineLayouter(const TextAttributes &attributes, double lineWidth, qsizetype pieceLength)
        : m_device(MacTextKitLeafPaginator::pointPaintDevice())
        , m_font(unhinted(attributes.font), &m_device)
        , m_lineWidth(lineWidth)
        , m_style(attributes.paragraphStyle)
        , m_pieceLength(std::max<qsizetype>(pieceLength, minimumOverlongRun)) {}

    // The lines of text[from, to), which holds no paragraph separator; U+2028 breaks a line.
    // QTextLayout grows faster than the text on long paragraphs without spaces (Korean, Thai),
    // so a long paragraph is laid out in pieces cut at line-break opportunities; the lines near
    // each cut are laid out again with the next piece, so the lines are those of one layout.
    // Whether it laid the text out in pieces goes to `inPieces`.
    QList<LaidOutLine> lines(const QString &text, qsizetype from, qsizetype to,
                             QTextOption::WrapMode wrapMode, bool *inPieces = nullptr) const {
        QList<LaidOutLine> result;
        while (wrapMode != QTextOption::WrapAnywhere && to - from > 2 * m_pieceLength) {
            const qsizetype cut = breakOpportunityFrom(text, from + m_pieceLength, to);
            if (cut < 0)
                break;
            QList<LaidOutLine> piece = layoutLines(text, from, cut, wrapMode);
            if (piece.size() <= linesLaidOutAgain)
                break;
            if (inPieces)
                *inPieces = true;
            from = piece[piece.size() - linesLaidOutAgain].start;
            piece.resize(piece.size() - linesLaidOutAgain);
            result += piece;
        }
        result += layoutLines(text, from, to, wrapMode);
        return result;
    }

    // The first line-break opportunity at or after `position` and before `to`, looked for in a
    // window around it; -1 when the window holds none.
    static qsizetype breakOpportunityFrom(const QString &text, qsizetype position, qsizetype to) {
        constexpr qsizetype context = 64;
        constexpr qsizetype window = 1024;
        const qsizetype windowStart = std::max<qsizetype>(position - context, 0);
        const qsizetype windowEnd = std::min(position + window, to);
        const QString part = text.mid(windowStart, windowEnd - windowStart);
        QTextBoundaryFinder breaks(QTextBoundaryFinder::Line, part);
        breaks.setPosition(position - windowStart);
        // The window's own end counts as a boundary; it is none in the text.
        for (qsizetype next = breaks.isAtBoundary() ? position - windowStart
                                                    : breaks.toNextBoundary();
             next > 0 && next < part.size(); next = breaks.toNextBoundary())
            return windowStart + next;
        return -1;
    }

    QList<LaidOutLine> layoutLines(const QString &text, qsizetype from, qsizetype to,
                                   QTextOption::WrapMode wrapMode) const {
        QTextLayout layout(text.mid(from, to - from), m_font, &m_device);
        QTextOption option;
        option.setWrapMode(wrapMode);
        layout.setTextOption(option);
        layout.setCacheEnabled(false);
        QList<LaidOutLine> result;
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(m_lineWidth);
            result.append({from + line.textStart(), lineFragmentHeight(line, m_style)});
        }
        layout.endLayout();
        return result;
    }

    // Where the first line that does not fit in `height` starts when text[from, to) is laid
    // out on its own, as a leaf showing only that text is: each of its paragraphs whole, the
    // first from `from`. `to` when all of it fits.
    qsizetype overflowWhenAlone(const QString &text, qsizetype from, qsizetype to,
                                double height) const {
        double used = 0;
        qsizetype start = from;
        while (start < to) {
            qsizetype end = start;
            while (end < to && !isParagraphSeparator(text[end]))
                ++end;
            for (const LaidOutLine &line :
                 layoutLines(text, start, end, QTextOption::WrapAtWordBoundaryOrAnywhere)) {
                if (used + line.height > height)
                    return line.start;
                used += line.height;
            }
            if (end == to)
                break;
            start = end + (text[end] == u'\r' && end + 1 < to && text[end + 1] == u'\n' ? 2 : 1);
        }
        return to;
    }

    // Runs with no line-break opportunity that are wider than a line. Word wrapping measures
    // such a run again for each of its lines, which grows with the square of its length.
    QList<TextRun> overlongRuns(const QString &text) const {
        QList<TextRun> runs;
        const QFontMetricsF metrics(m_font, &m_device);
        // Only a stretch without breaking white space can hold such a run, and prose has few
        // long ones, so the break analysis runs on those stretches alone.
        qsizetype stretchStart = 0;
        for (qsizetype i = 0; i <= text.size(); ++i) {
            if (i < text.size() && !isBreakingSpace(text[i]))
                continue;
            if (i - stretchStart > minimumOverlongRun)
                appendOverlongRuns(text, stretchStart, i, metrics, runs);
            stretchStart = i + 1;
        }
        return runs;
    }

private:
    void appendOverlongRuns(const QString &text, qsizetype from, qsizetype to,
                            const QFontMetricsF &metrics, QList<TextRun> &runs) const {
        qsizetype previous = from;
        for (const qsizetype next :
             boundariesIn(QTextBoundaryFinder::Line, text, from, to, m_pieceLength)) {
            if (next - previous > minimumOverlongRun &&
                metrics.horizontalAdvance(text.mid(previous, next - previous)) > m_lineWidth)
                runs.append({previous, next});
            previous = next;
        }
    }

    static QFont unhinted(QFont font) {
        font.setHintingPreference(QFont::PreferNoHinting);
        return font;
    }

    QImage m_device;
    QFont m_font;
    double m_lineWidth;
    ParagraphStyle m_style;
    qsizetype m_pieceLength;
};

// Collects leaves while lines are packed into them; every boundary lands between graphemes.
class LeafPacker {
public:
    LeafPacker(const QList<qsizetype> &graphemeEnds, qsizetype count, double containerHeight)
        : m_graphemeEnds(graphemeEnds)
        , m_count(count)
        , m_containerHeight(containerHeight) {}

    void addLine(qsizetype start, qsizetype end, double height) {
        if (height > m_containerHeight) {
            // No container can hold this line, so each leaf takes one grapheme of it.
            closeLeaf(start);
            while (m_leafStart < end)
                closeLeaf(m_leafStart + 1);
            return;
        }
        if (m_linesInLeaf > 0 && m_usedHeight + height > m_containerHeight)
            closeLeaf(start);
        m_usedHeight += height;
        ++m_linesInLeaf;
    }

    QList<UTF16TextRange> finish() {
        closeLeaf(m_count);
        return std::move(m_leaves);
    }

private:
    // Closes the leaf at the first grapheme boundary at or after `end`.
    void closeLeaf(qsizetype end) {
        if (end > 0) {
            const auto boundary =
                std::lower_bound(m_graphemeEnds.cbegin(), m_graphemeEnds.cend(), end);
            end = boundary == m_graphemeEnds.cend() ? m_count : *boundary;
        }
        if (end > m_leafStart) {
            m_leaves.append(UTF16TextRange{m_leafStart, end - m_leafStart});
            m_leafStart = end;
        }
        m_usedHeight = 0;
        m_linesInLeaf = 0;
    }

    // Where each grapheme cluster ends, ascending.
    const QList<qsizetype> &m_graphemeEnds;
    qsizetype m_count;
    double m_containerHeight;
    QList<UTF16TextRange> m_leaves;
    qsizetype m_leafStart = 0;
    double m_usedHeight = 0;
    int m_linesInLeaf = 0;
};

// Whether a leaf boundary at `position` cuts a word, whose glyphs are shaped with what follows.
bool cutsAWord(const QString &text, qsizetype position) {
    return position > 0 && position < text.size() && !isParagraphSeparator(text[position - 1]) &&
           !isBreakingSpace(text[position - 1]);
}

// A leaf is shown laid out on its own, from its first character. Where its lines came from
// paragraphs laid out in pieces or runs laid out apart, or where it begins or ends inside a word,
// it can break a little differently alone (shaping across a cut, another script's rules at its
// start); such a leaf is laid out alone as well, and if it does not fit it gives its last lines
// to the next. Leaves of whole paragraphs cut between words are their lines exactly.
QList<UTF16TextRange> fitEachLeafAlone(const QString &text, const QList<UTF16TextRange> &packed,
                                       const QList<TextRun> &laidOutApart,
                                       const LineLayouter &layouter, double containerHeight,
                                       const QList<qsizetype> &graphemeEnds) {
    const qsizetype count = text.size();
    QList<UTF16TextRange> leaves;
    qsizetype start = 0;
    qsizetype proposal = 0;
    qsizetype apart = 0;
    while (start < count) {
        while (packed[proposal].location + packed[proposal].length <= start)
            ++proposal;
        qsizetype end = packed[proposal].location + packed[proposal].length;
        while (apart < laidOutApart.size() && laidOutApart[apart].end <= start)
            ++apart;
        const bool exact = start == packed[proposal].location && !cutsAWord(text, start) &&
                           !cutsAWord(text, end) &&
                           (apart == laidOutApart.size() || laidOutApart[apart].start >= end);
        while (!exact) {
            const qsizetype overflow =
                layouter.overflowWhenAlone(text, start, end, containerHeight);
            if (overflow >= end)
                break;
            // The last grapheme boundary at or before the overflowing line; a leaf too short for
            // a single line keeps one grapheme.
            const auto after =
                std::upper_bound(graphemeEnds.cbegin(), graphemeEnds.cend(), overflow);
            const qsizetype cut = after == graphemeEnds.cbegin() ? 0 : *std::prev(after);
            if (cut <= start) {
                const auto next =
                    std::upper_bound(graphemeEnds.cbegin(), graphemeEnds.cend(), start);
                end = next == graphemeEnds.cend() ? count : std::min(*next, end);
                break;
            }
            end = cut;
        }
        leaves.append(UTF16TextRange{start, end - start});
        start = end;
    }
    return leaves;
}

} // namespace

QImage MacTextKitLeafPaginator::pointPaintDevice() {
    QImage device(1, 1, QImage::Format_ARGB32_Premultiplied);
    const int dotsPerMeter = qRound(72 / 0.0254);
    device.setDotsPerMeterX(dotsPerMeter);
    device.setDotsPerMeterY(dotsPerMeter);
    return device;
}

QList<UTF16TextRange> MacTextKitLeafPaginator::leafRanges(const QString &text,
                                                          const TextAttributes &attributes,
                                                          double width, double height,
                                                          double horizontalInset,
                                                          double verticalInset) const {
    const qsizetype count = text.size();
    if (count < 1)
        return {UTF16TextRange{0, 0}};

    const LineLayouter layouter(attributes, std::max(width - 2 * horizontalInset, 1.0),
                                m_pieceLength);
    const QList<TextRun> overlong = layouter.overlongRuns(text);
    qsizetype nextOverlong = 0;
    const double containerHeight = std::max(height - 2 * verticalInset, 1.0);
    const QList<qsizetype> graphemes = graphemeEnds(text, m_pieceLength);
    LeafPacker packer(graphemes, count, containerHeight);
    // The paragraphs whose lines did not come from one layout of the whole paragraph.
    QList<TextRun> laidOutApart;
    qsizetype start = 0;
    while (start < count) {
        qsizetype end = start;
        while (end < count && !isParagraphSeparator(text[end]))
            ++end;
        qsizetype separatorLength = 0;
        if (end < count)
            separatorLength =
                text[end] == u'\r' && end + 1 < count && text[end + 1] == u'\n' ? 2 : 1;

        QList<LaidOutLine> lines;
        qsizetype from = start;
        bool apart = false;
        for (; nextOverlong < overlong.size() && overlong[nextOverlong].start < end;
             ++nextOverlong) {
            apart = true;
            // Such a run starts a line of its own and is broken between graphemes. Laid out
            // apart, it costs no rescans; its last line goes on with the text after it.
            const TextRun run = overlong[nextOverlong];
            if (run.start > from)
                lines += layouter.lines(text, from, run.start,
                                        QTextOption::WrapAtWordBoundaryOrAnywhere, &apart);
            QList<LaidOutLine> runLines =
                layouter.lines(text, run.start, run.end, QTextOption::WrapAnywhere);
            from = runLines.takeLast().start;
            lines += runLines;
        }
        lines += layouter.lines(text, from, end, QTextOption::WrapAtWordBoundaryOrAnywhere, &apart);
        if (apart)
            laidOutApart.append({start, end});
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const qsizetype lineEnd =
                i + 1 < lines.size() ? lines[i + 1].start : end + separatorLength;
            packer.addLine(lines[i].start, lineEnd, lines[i].height);
        }
        start = end + separatorLength;
    }
    return fitEachLeafAlone(text, packer.finish(), laidOutApart, layouter, containerHeight,
                            graphemes);
}

} // namespace velmora
