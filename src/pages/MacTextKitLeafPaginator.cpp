#include "pages/MacTextKitLeafPaginator.h"

#include <QImage>
#include <QTextBoundaryFinder>
#include <QTextLayout>

#include <algorithm>

namespace velmora {

namespace {

// Layout measures in points: a device of 72 dots per inch makes one point one unit.
QImage pointDevice() {
    QImage device(1, 1, QImage::Format_ARGB32_Premultiplied);
    const int dotsPerMeter = qRound(72 / 0.0254);
    device.setDotsPerMeterX(dotsPerMeter);
    device.setDotsPerMeterY(dotsPerMeter);
    return device;
}

bool isParagraphSeparator(QChar c) {
    return c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator;
}

double lineFragmentHeight(const QTextLine &line, const ParagraphStyle &style) {
    double height = line.height();
    if (style.minimumLineHeight)
        height = std::max(height, *style.minimumLineHeight);
    if (style.maximumLineHeight)
        height = std::min(height, *style.maximumLineHeight);
    return height;
}

// Collects leaves while lines are packed into them; every boundary lands between graphemes.
class LeafPacker {
public:
    LeafPacker(const QString &text, double containerHeight)
        : m_graphemes(QTextBoundaryFinder::Grapheme, text)
        , m_count(text.size())
        , m_containerHeight(containerHeight) {}

    void addLine(qsizetype start, qsizetype end, double height) {
        if (height > m_containerHeight) {
            // No container can hold this line, so each leaf takes one grapheme of it.
            closeLeaf(start);
            while (m_leafStart < end) {
                m_graphemes.setPosition(m_leafStart);
                const qsizetype next = m_graphemes.toNextBoundary();
                closeLeaf(next < 0 ? m_count : next);
            }
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
    void closeLeaf(qsizetype end) {
        m_graphemes.setPosition(std::min(end, m_count));
        if (!m_graphemes.isAtBoundary())
            end = m_graphemes.toNextBoundary();
        if (end > m_leafStart) {
            m_leaves.append(UTF16TextRange{m_leafStart, end - m_leafStart});
            m_leafStart = end;
        }
        m_usedHeight = 0;
        m_linesInLeaf = 0;
    }

    QTextBoundaryFinder m_graphemes;
    qsizetype m_count;
    double m_containerHeight;
    QList<UTF16TextRange> m_leaves;
    qsizetype m_leafStart = 0;
    double m_usedHeight = 0;
    int m_linesInLeaf = 0;
};

} // namespace

QList<UTF16TextRange> MacTextKitLeafPaginator::leafRanges(const QString &text,
                                                          const TextAttributes &attributes,
                                                          double width, double height,
                                                          double horizontalInset,
                                                          double verticalInset) const {
    const qsizetype count = text.size();
    if (count < 1)
        return {UTF16TextRange{0, 0}};

    const double lineWidth = std::max(width - 2 * horizontalInset, 1.0);
    const double containerHeight = std::max(height - 2 * verticalInset, 1.0);
    const QImage device = pointDevice();
    QFont unhinted = attributes.font;
    unhinted.setHintingPreference(QFont::PreferNoHinting);
    const QFont font(unhinted, &device);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);

    LeafPacker packer(text, containerHeight);
    qsizetype start = 0;
    while (start < count) {
        qsizetype end = start;
        while (end < count && !isParagraphSeparator(text[end]))
            ++end;
        qsizetype separatorLength = 0;
        if (end < count)
            separatorLength =
                text[end] == u'\r' && end + 1 < count && text[end + 1] == u'\n' ? 2 : 1;

        // U+2028 stays inside its paragraph, where the layout breaks the line at it.
        QTextLayout layout(text.mid(start, end - start), font, &device);
        layout.setTextOption(option);
        layout.setCacheEnabled(false);
        layout.beginLayout();
        QList<QTextLine> lines;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(lineWidth);
            lines.append(line);
        }
        layout.endLayout();
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QTextLine &line = lines[i];
            const qsizetype lineStart = start + line.textStart();
            const qsizetype lineEnd =
                i + 1 < lines.size() ? start + lines[i + 1].textStart() : end + separatorLength;
            packer.addLine(lineStart, lineEnd, lineFragmentHeight(line, attributes.paragraphStyle));
        }
        start = end + separatorLength;
    }
    return packer.finish();
}

} // namespace velmora
