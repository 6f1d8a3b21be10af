#include "book/VuzIvoduLeaf.h"

#include "book/DiaryGlyphs.h"
#include "book/MacTextures.h"

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

// The header: weekday and comma, the long date (shrunk to 0.75 of its size rather than
// wrapped), and the sealed mark, on one first-text baseline.
void paintHeader(QPainter &painter, const QRectF &band, const VuzIvoduLeafContent &content,
                 const DiaryTheme &theme) {
    const QFont weekdayFont = georgia(24);
    const QString weekday = weekdayFormatter().string(content.date) + QLatin1Char(',');
    const double baseline = band.top() + 6 + QFontMetricsF(weekdayFont).ascent();
    double x = band.left();
    painter.setFont(weekdayFont);
    painter.setPen(theme.ink());
    painter.drawText(QPointF(x, baseline), weekday);
    x += textWidth(weekdayFont, weekday) + 8;

    QFont sealFont = systemFont(12, QFont::Medium);
    const QString sealedTitle = VuzIvoduLeaf::tr("Sealed");
    const double glyphSize = 12;
    const double sealWidth =
        content.isSealed ? 8 + glyphSize + 4 + textWidth(sealFont, sealedTitle) : 0;

    QFont dateFont = georgia(18);
    const QString date = longDateFormatter().string(content.date);
    const double room = band.right() - x - sealWidth;
    const double natural = textWidth(dateFont, date);
    if (natural > room && natural > 0)
        dateFont.setPointSizeF(18 * std::max(0.75, room / natural));
    painter.setFont(dateFont);
    painter.setPen(withOpacity(theme.ink(), 0.7));
    painter.drawText(QPointF(x, baseline), date);
    x += textWidth(dateFont, date);

    if (!content.isSealed)
        return;
    x += 8;
    const QRectF glyphRect(x, baseline - glyphSize + 1, glyphSize, glyphSize);
    DiaryGlyph(DiaryGlyphSymbol::lockFill, DiaryGlyphWeight::medium)
        .paint(painter, glyphRect, theme.leather());
    painter.setFont(sealFont);
    painter.setPen(theme.leather());
    painter.drawText(QPointF(glyphRect.right() + 4, baseline), sealedTitle);
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

// The footer: the quotation, then the status line with the centred page count and the
// leading save note; the stack is centred in the band.
void paintFooter(QPainter &painter, const QRectF &band, const VuzIvoduLeafContent &content,
                 const DiaryTheme &theme) {
    const double quoteWidth = band.width() - 64;
    const double statusHeight = 14;
    const double quoteBlock = content.quote ? quoteHeight(quoteWidth, *content.quote) + 4 : 0;
    double y = band.top() + (band.height() - quoteBlock - statusHeight) / 2;
    if (content.quote) {
        paintQuote(painter, QPointF(band.left(), y), quoteWidth, *content.quote, theme);
        y += quoteBlock;
    }
    const QRectF status(band.left(), y, band.width(), statusHeight);
    painter.setPen(withOpacity(theme.ink(), 0.7));
    if (content.pageCount && content.pageCount->total >= 2) {
        painter.setFont(georgia(12, true));
        painter.drawText(status, Qt::AlignCenter,
                         VuzIvoduLeaf::tr("Page %1 of %2")
                             .arg(content.pageCount->number)
                             .arg(content.pageCount->total));
    }
    if (content.footerNote) {
        painter.setFont(systemFont(11));
        painter.drawText(status, Qt::AlignLeft | Qt::AlignVCenter, *content.footerNote);
    }
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
    const double inset = VuzIvoduLeafGeometry::inset;
    const QRectF header(rect.left() + inset, rect.top(),
                        rect.width() - 2 * inset - content.headerTrailingClearance,
                        VuzIvoduLeafGeometry::headerHeight);
    paintHeader(painter, header, content, theme);
    const QRectF footer(rect.left() + inset,
                        rect.top() + VuzIvoduLeafGeometry::headerHeight +
                            VuzIvoduLeafGeometry::writingArea.height(),
                        rect.width() - 2 * inset, VuzIvoduLeafGeometry::footerHeight);
    paintFooter(painter, footer, content, theme);
    painter.restore();
}

VuzIvoduLeaf::VuzIvoduLeaf(QWidget *parent)
    : QWidget(parent) {
    setFixedSize(int(VuzIvoduLeafGeometry::width), int(VuzIvoduLeafGeometry::height));
    setObjectName(QStringLiteral("diary-leaf"));
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
