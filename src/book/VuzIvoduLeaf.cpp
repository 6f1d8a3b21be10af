#include "book/VuzIvoduLeaf.h"

#include "book/DiaryGlyphs.h"
#include "book/MacTextures.h"
#include "book/VuzIvoduLeafAccessible.h"

#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>

namespace velmora {

namespace {

const QChar noBreakSpace(0x00A0);

QFont georgia(double size, bool italic = false) {
    QFont font = resolveDiaryFont(QStringLiteral("Georgia"), size);
    font.setItalic(italic);
    return font;
}

QFont systemFont(double size, QFont::Weight weight = QFont::Normal) {
    QFont font = diarySystemFont(size);
    font.setWeight(weight);
    return font;
}

double textWidth(const QFont &font, const QString &text) {
    return QFontMetricsF(font).horizontalAdvance(text);
}

// Where the header's texts go: weekday and comma, the long date (shrunk to 0.75 of its size
// rather than wrapped), and the sealed mark, on one first-text baseline.
struct HeaderLayout {
    QFont weekdayFont = georgia(24);
    QString weekday;
    QFont dateFont = georgia(18);
    QString date;
    QFont sealFont = systemFont(12, QFont::Medium);
    QString sealedTitle = VuzIvoduLeaf::tr("Sealed");
    double baseline = 0;
    double weekdayX = 0;
    double dateX = 0;
    // Only on a sealed leaf.
    QRectF glyph;

    static constexpr double glyphSize = 12;

    HeaderLayout(const QRectF &band, const VuzIvoduLeafContent &content)
        : weekday(weekdayFormatter().string(content.date))
        , date(longDateFormatter().string(content.date)) {
        baseline = band.top() + 6 + QFontMetricsF(weekdayFont).ascent();
        weekdayX = band.left();
        dateX = weekdayX + textWidth(weekdayFont, weekday + QLatin1Char(',')) + 8;
        const double sealWidth =
            content.isSealed ? 8 + glyphSize + 4 + textWidth(sealFont, sealedTitle) : 0;
        const double room = band.right() - dateX - sealWidth;
        const double natural = textWidth(dateFont, date);
        if (natural > room && natural > 0)
            dateFont.setPointSizeF(18 * std::max(0.75, room / natural));
        if (content.isSealed)
            glyph = QRectF(dateX + textWidth(dateFont, date) + 8, baseline - glyphSize + 1,
                           glyphSize, glyphSize);
    }

    // A text's box on the baseline.
    QRectF box(double x, const QFont &font, const QString &text) const {
        const QFontMetricsF metrics(font);
        return QRectF(x, baseline - metrics.ascent(), textWidth(font, text), metrics.height());
    }
};

void paintHeader(QPainter &painter, const QRectF &band, const VuzIvoduLeafContent &content,
                 const DiaryTheme &theme) {
    const HeaderLayout header(band, content);
    painter.setFont(header.weekdayFont);
    painter.setPen(theme.ink());
    painter.drawText(QPointF(header.weekdayX, header.baseline), header.weekday + QLatin1Char(','));
    painter.setFont(header.dateFont);
    painter.setPen(withOpacity(theme.ink(), 0.7));
    painter.drawText(QPointF(header.dateX, header.baseline), header.date);
    if (!content.isSealed)
        return;
    DiaryGlyph(DiaryGlyphSymbol::lockFill, DiaryGlyphWeight::medium)
        .paint(painter, header.glyph, theme.leather());
    painter.setFont(header.sealFont);
    painter.setPen(theme.leather());
    painter.drawText(QPointF(header.glyph.right() + 4, header.baseline), header.sealedTitle);
}

// Lays out the quotation line at most two lines deep; a longer one ends its second line with an
// ellipsis. Returns the height drawn.
double paintQuote(QPainter &painter, const QPointF &origin, double width,
                  const VuzIvoduLeafContent::Quote &quote, const DiaryTheme &theme) {
    const QString quoted = VuzIvoduLeaf::tr("“%1”").arg(quote.text);
    const QString line = leafQuoteLine(quote);
    QTextCharFormat quoteFormat;
    quoteFormat.setFontItalic(true);
    quoteFormat.setForeground(withOpacity(theme.ink(), 0.7));
    QTextCharFormat authorFormat;
    authorFormat.setForeground(withOpacity(theme.ink(), 0.4));
    const QList<QTextLayout::FormatRange> formats{
        {0, int(quoted.size()), quoteFormat},
        {int(quoted.size()), int(line.size() - quoted.size()), authorFormat}};

    const QFont font = georgia(13);
    QTextLayout layout(line, font);
    layout.setFormats(formats);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    double y = 0;
    QList<QTextLine> lines;
    for (QTextLine textLine = layout.createLine(); textLine.isValid();
         textLine = layout.createLine()) {
        textLine.setLineWidth(width);
        textLine.setPosition(QPointF(0, y));
        y += textLine.height();
        lines.append(textLine);
    }
    layout.endLayout();
    painter.setPen(withOpacity(theme.ink(), 0.7));
    if (lines.size() <= 2) {
        layout.draw(&painter, origin);
        return y;
    }

    // The first line as laid out; the rest cut to what fits before the ellipsis.
    const QTextLine first = lines.at(0);
    first.draw(&painter, origin);
    const int tailStart = lines.at(1).textStart();
    const QString ellipsis = QStringLiteral("…");
    const double ellipsisWidth = textWidth(font, ellipsis);
    QTextLayout tail(line.mid(tailStart), font);
    QList<QTextLayout::FormatRange> tailFormats;
    for (const auto &range : formats) {
        const int start = std::max(range.start - tailStart, 0);
        const int end = range.start + range.length - tailStart;
        if (end > start)
            tailFormats.append({start, end - start, range.format});
    }
    tail.setFormats(tailFormats);
    tail.beginLayout();
    QTextLine tailLine = tail.createLine();
    tailLine.setNumColumns(int(line.size() - tailStart));
    tail.endLayout();
    const int keep = tailLine.xToCursor(width - ellipsisWidth, QTextLine::CursorOnCharacter);
    const double keptWidth = tailLine.cursorToX(keep);
    const QPointF secondOrigin = origin + QPointF(0, first.height());
    painter.save();
    painter.setClipRect(QRectF(secondOrigin, QSizeF(keptWidth, lines.at(1).height())));
    tail.draw(&painter, secondOrigin);
    painter.restore();
    painter.setFont(font);
    painter.setPen(withOpacity(theme.ink(), keep + tailStart > quoted.size() ? 0.4 : 0.7));
    painter.drawText(secondOrigin + QPointF(keptWidth, tailLine.ascent()), ellipsis);
    return first.height() + lines.at(1).height();
}

double quoteHeight(double width, const VuzIvoduLeafContent::Quote &quote) {
    QTextLayout layout(leafQuoteLine(quote), georgia(13));
    layout.beginLayout();
    double height = 0;
    int count = 0;
    for (QTextLine line = layout.createLine(); line.isValid() && count < 2;
         line = layout.createLine(), ++count) {
        line.setLineWidth(width);
        height += line.height();
    }
    layout.endLayout();
    return height;
}

// Where the footer's lines go: the quotation, then the status line with the centred page count
// and the leading save note; the stack is centred in the band.
struct FooterLayout {
    QRectF quote;
    QRectF status;

    FooterLayout(const QRectF &band, const VuzIvoduLeafContent &content) {
        const double quoteWidth = band.width() - 64;
        const double statusHeight = 14;
        const double height = content.quote ? quoteHeight(quoteWidth, *content.quote) : 0;
        const double quoteBlock = content.quote ? height + 4 : 0;
        const double y = band.top() + (band.height() - quoteBlock - statusHeight) / 2;
        quote = QRectF(band.left(), y, quoteWidth, height);
        status = QRectF(band.left(), y + quoteBlock, band.width(), statusHeight);
    }
};

bool showsPageCount(const VuzIvoduLeafContent &content) {
    return content.pageCount && content.pageCount->total >= 2;
}

QString pageCountText(const VuzIvoduLeafContent::PageCount &count) {
    return VuzIvoduLeaf::tr("Page %1 of %2").arg(count.number).arg(count.total);
}

void paintFooter(QPainter &painter, const QRectF &band, const VuzIvoduLeafContent &content,
                 const DiaryTheme &theme) {
    const FooterLayout footer(band, content);
    if (content.quote)
        paintQuote(painter, footer.quote.topLeft(), footer.quote.width(), *content.quote, theme);
    painter.setPen(withOpacity(theme.ink(), 0.7));
    if (showsPageCount(content)) {
        painter.setFont(georgia(12, true));
        painter.drawText(footer.status, Qt::AlignCenter, pageCountText(*content.pageCount));
    }
    if (content.footerNote) {
        painter.setFont(systemFont(11));
        painter.drawText(footer.status, Qt::AlignLeft | Qt::AlignVCenter, *content.footerNote);
    }
}

QRectF headerBand(const QRectF &rect, const VuzIvoduLeafContent &content) {
    const double inset = VuzIvoduLeafGeometry::inset;
    return QRectF(rect.left() + inset, rect.top(),
                  rect.width() - 2 * inset - content.headerTrailingClearance,
                  VuzIvoduLeafGeometry::headerHeight);
}

QRectF footerBand(const QRectF &rect) {
    const double inset = VuzIvoduLeafGeometry::inset;
    return QRectF(rect.left() + inset,
                  rect.top() + VuzIvoduLeafGeometry::headerHeight +
                      VuzIvoduLeafGeometry::writingArea.height(),
                  rect.width() - 2 * inset, VuzIvoduLeafGeometry::footerHeight);
}

} // namespace

QString leafQuoteLine(const VuzIvoduLeafContent::Quote &quote) {
    QString author = quote.author;
    author.replace(QLatin1Char(' '), noBreakSpace);
    return VuzIvoduLeaf::tr("“%1”").arg(quote.text) + noBreakSpace + noBreakSpace + QChar(0x2014) +
           noBreakSpace + author;
}

void paintLeafFrame(QPainter &painter, const QRectF &rect, const VuzIvoduLeafContent &content,
                    const DiaryTheme &theme) {
    painter.save();
    painter.setClipRect(rect);
    painter.fillRect(rect, theme.paper());
    paintPaperTexture(painter, rect);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setRenderHint(QPainter::Antialiasing);
    paintHeader(painter, headerBand(rect, content), content, theme);
    paintFooter(painter, footerBand(rect), content, theme);
    painter.restore();
}

QList<VuzIvoduLeafElement> leafFrameElements(const QRectF &rect,
                                             const VuzIvoduLeafContent &content) {
    using Kind = VuzIvoduLeafElement::Kind;
    QList<VuzIvoduLeafElement> elements;
    const HeaderLayout header(headerBand(rect, content), content);
    // The comma after the weekday is punctuation for the eye only.
    elements.append({Kind::weekday, header.weekday,
                     header.box(header.weekdayX, header.weekdayFont, header.weekday)});
    elements.append(
        {Kind::date, header.date, header.box(header.dateX, header.dateFont, header.date)});
    if (content.isSealed) {
        const QRectF title =
            header.box(header.glyph.right() + 4, header.sealFont, header.sealedTitle);
        elements.append(
            {Kind::sealed, VuzIvoduLeaf::tr("This page is sealed"), header.glyph.united(title)});
    }
    const FooterLayout footer(footerBand(rect), content);
    if (content.quote)
        elements.append({Kind::quote,
                         VuzIvoduLeaf::tr("Quote of the day: %1, by %2")
                             .arg(content.quote->text, content.quote->author),
                         footer.quote});
    if (showsPageCount(content)) {
        const QString text = pageCountText(*content.pageCount);
        const double width = textWidth(georgia(12, true), text);
        elements.append({Kind::pageCount, text,
                         QRectF(footer.status.center().x() - width / 2, footer.status.top(), width,
                                footer.status.height())});
    }
    if (content.footerNote)
        elements.append(
            {Kind::saveState, *content.footerNote,
             QRectF(footer.status.topLeft(), QSizeF(textWidth(systemFont(11), *content.footerNote),
                                                    footer.status.height()))});
    return elements;
}

QString VuzIvoduLeafElement::identifier(Kind kind) {
    switch (kind) {
    case Kind::weekday:
        return {};
    case Kind::date:
        return QStringLiteral("diary-page-date");
    case Kind::sealed:
        return QStringLiteral("diary-page-locked");
    case Kind::quote:
        return QStringLiteral("diary-quote");
    case Kind::pageCount:
        return QStringLiteral("diary-page-count");
    case Kind::saveState:
        return QStringLiteral("diary-save-state");
    }
    return {};
}

VuzIvoduLeaf::VuzIvoduLeaf(QWidget *parent)
    : QWidget(parent) {
    setFixedSize(int(VuzIvoduLeafGeometry::width), int(VuzIvoduLeafGeometry::height));
    setObjectName(QStringLiteral("diary-leaf"));
    installLeafAccessibility(this);
}

void VuzIvoduLeaf::setContent(const VuzIvoduLeafContent &content) {
    if (m_content == content)
        return;
    m_content = content;
    setAccessibleName(longDateFormatter().string(content.date));
    setAccessibleDescription(content.isSealed ? tr("This page is sealed") : QString());
    update();
}

void VuzIvoduLeaf::setTheme(const DiaryTheme &theme) {
    if (m_theme == theme)
        return;
    m_theme = theme;
    update();
}

void VuzIvoduLeaf::setWriting(QWidget *writing) {
    if (m_writing == writing)
        return;
    delete m_writing;
    m_writing = writing;
    if (!writing)
        return;
    writing->setParent(this);
    writing->setGeometry(VuzIvoduLeafGeometry::writingArea.toRect());
    writing->show();
}

QSize VuzIvoduLeaf::sizeHint() const {
    return {int(VuzIvoduLeafGeometry::width), int(VuzIvoduLeafGeometry::height)};
}

void VuzIvoduLeaf::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    paintLeafFrame(painter, QRectF(rect()), m_content, m_theme);
}

} // namespace velmora
