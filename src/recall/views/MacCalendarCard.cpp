#include "recall/views/MacCalendarCard.h"

#include "book/DiaryGlyphs.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace velmora {

namespace {

constexpr double cardWidth = 420;
constexpr double padding = 28;
constexpr double spacing = 16;
constexpr double titleHeight = 30;
constexpr double boxPadding = 14;
constexpr double headingHeight = 12;
constexpr double headingGap = 8;
constexpr double rowHeight = 29;
constexpr double countHeight = 16;
constexpr int listedItems = 4;

QFont georgia(double size, bool italic = false) {
    QFont font(QStringLiteral("Georgia"));
    font.setPixelSize(int(std::round(size)));
    font.setItalic(italic);
    return font;
}

} // namespace

MacCalendarCard::MacCalendarCard(GregorianCalendar calendar, QWidget *parent)
    : QWidget(parent)
    , m_calendar(calendar)
    , m_grid(new CalendarView(std::move(calendar), this)) {
    setObjectName(QStringLiteral("calendar-card"));
    m_grid->setScale(2);
    m_grid->onDateSelected = [this](const DayKey &day) { choose(day); };
    m_grid->onMonthChanged = [this](const DayKey &day) {
        if (onMonthChanged)
            onMonthChanged(day);
    };
}

void MacCalendarCard::setSelectedDay(const DayKey &day) {
    m_grid->setSelectedDay(day);
}

void MacCalendarCard::setDisplayedMonth(const DiaryCalendarMonth &month) {
    m_month = month;
    m_grid->setDisplayedMonth(month);
    relayout();
}

void MacCalendarCard::setEntryDays(const QSet<int> &days) {
    m_entryDays = days;
    m_grid->setEntryDays(days);
    relayout();
}

void MacCalendarCard::setYears(std::pair<int, int> years) {
    m_grid->setYears(years);
}

void MacCalendarCard::setOnThisDay(const QList<DiaryOnThisDayItem> &items) {
    m_onThisDay = items;
    relayout();
}

void MacCalendarCard::setTheme(const DiaryTheme &theme) {
    m_theme = theme;
    m_grid->setTheme(theme);
    update();
}

void MacCalendarCard::choose(const DayKey &day) {
    if (onClose)
        onClose();
    if (onSelect)
        onSelect(day);
}

QList<PaintedAccessibleItems::Item> MacCalendarCard::accessibleItems() const {
    const QRectF card = cardRect();
    QList<Item> items;
    items.append(
        {QAccessible::StaticText,
         tr("Calendar"),
         {},
         {},
         QRectF(card.left() + padding, card.top() + padding, cardWidth - 2 * padding, titleHeight),
         false,
         false,
         {}});
    items.append({QAccessible::Button,
                  tr("Close Calendar"),
                  {},
                  {},
                  closeButtonRect(),
                  false,
                  true,
                  QStringLiteral("calendar-close")});
    const QList<QRectF> rows = onThisDayRowRects();
    if (!rows.isEmpty())
        items.append({QAccessible::StaticText,
                      tr("On this day"),
                      {},
                      {},
                      rows.first()
                          .united(rows.last())
                          .adjusted(-boxPadding, -boxPadding - headingHeight - headingGap,
                                    boxPadding, boxPadding),
                      false,
                      false,
                      QStringLiteral("on-this-day")});
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const DiaryOnThisDayItem &item = m_onThisDay.at(i);
        items.append({QAccessible::Button,
                      ageText(item.yearsAgo),
                      previewText(item),
                      {},
                      rows.at(i),
                      false,
                      true,
                      QStringLiteral("on-this-day-%1").arg(item.yearsAgo)});
    }
    if (!m_entryDays.isEmpty())
        items.append({QAccessible::StaticText,
                      countText(m_entryDays.size(), monthName()),
                      {},
                      {},
                      QRectF(card.left() + padding, card.bottom() - padding - countHeight,
                             cardWidth - 2 * padding, countHeight),
                      false,
                      false,
                      {}});
    return items;
}

void MacCalendarCard::pressAccessibleItem(int index) {
    if (index == 1 && onClose)
        onClose();
    // After the title, the close button and the heading of the list.
    const qsizetype row = index - 3;
    if (row >= 0 && row < std::min<qsizetype>(m_onThisDay.size(), listedItems))
        choose(m_onThisDay.at(row).day);
}

QString MacCalendarCard::ageText(int yearsAgo) {
    return yearsAgo == 1 ? tr("A year ago") : tr("%1 years ago").arg(yearsAgo);
}

QString MacCalendarCard::previewText(const DiaryOnThisDayItem &item) {
    return item.preview ? *item.preview : tr("A handwritten page");
}

QString MacCalendarCard::countText(qsizetype pages, const QString &monthName) {
    return pages == 1 ? tr("1 page written in ") + monthName
                      : tr("%1 pages written in ").arg(pages) + monthName;
}

QString MacCalendarCard::monthName() const {
    const auto start = m_month.firstDay.date(m_calendar);
    return start ? shortMonthFormatter().string(m_calendar.civilDate(*start)) : QString();
}

double MacCalendarCard::boxHeight() const {
    const qsizetype rows = std::min<qsizetype>(m_onThisDay.size(), listedItems);
    return 2 * boxPadding + headingHeight + headingGap + rows * rowHeight;
}

QSizeF MacCalendarCard::cardSize() const {
    double height = padding + titleHeight + spacing + m_grid->sizeHint().height();
    if (!m_onThisDay.isEmpty())
        height += spacing + boxHeight();
    if (!m_entryDays.isEmpty())
        height += spacing + countHeight;
    return QSizeF(cardWidth, height + padding);
}

QRectF MacCalendarCard::cardRect() const {
    const QSizeF size = cardSize();
    return QRectF(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), size);
}

QRectF MacCalendarCard::closeButtonRect() const {
    const QRectF card = cardRect();
    return QRectF(card.right() - padding - titleHeight, card.top() + padding, titleHeight,
                  titleHeight);
}

QList<QRectF> MacCalendarCard::onThisDayRowRects() const {
    QList<QRectF> rows;
    if (m_onThisDay.isEmpty())
        return rows;
    const QRectF card = cardRect();
    const double boxTop =
        card.top() + padding + titleHeight + spacing + m_grid->sizeHint().height() + spacing;
    const double left = card.left() + padding + boxPadding;
    const double top = boxTop + boxPadding + headingHeight + headingGap;
    const double width = cardWidth - 2 * padding - 2 * boxPadding;
    for (qsizetype i = 0; i < std::min<qsizetype>(m_onThisDay.size(), listedItems); ++i)
        rows.append(QRectF(left, top + double(i) * rowHeight, width, rowHeight));
    return rows;
}

void MacCalendarCard::relayout() {
    const QRectF card = cardRect();
    // Across the card's column: the month's header spans it, with its arrows under the close
    // button, and the grid starts at its leading edge.
    m_grid->setGeometry(QRectF(card.left() + padding, card.top() + padding + titleHeight + spacing,
                               cardWidth - 2 * padding, m_grid->sizeHint().height())
                            .toRect());
    update();
}

void MacCalendarCard::resizeEvent(QResizeEvent *) {
    relayout();
}

void MacCalendarCard::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), QColor(0, 0, 0, int(0.18 * 255)));

    const QRectF card = cardRect();
    // The shadow, softened by a few widening layers.
    for (int layer = 6; layer >= 1; --layer) {
        const double grow = layer * 4.0;
        QPainterPath shadow;
        shadow.addRoundedRect(
            card.translated(0, 10).adjusted(-grow / 2, -grow / 2, grow / 2, grow / 2),
            22 + grow / 2, 22 + grow / 2);
        painter.fillPath(shadow, QColor(0, 0, 0, int(0.22 * 255 / 6)));
    }
    QPainterPath paper;
    paper.addRoundedRect(card, 22, 22);
    painter.fillPath(paper, colorFromHex(QStringLiteral("FBF6EC")));

    const QColor ink = m_theme.ink();
    const QColor leather = m_theme.leather();
    const double left = card.left() + padding;
    const double contentWidth = cardWidth - 2 * padding;

    painter.setFont(georgia(20));
    painter.setPen(ink);
    painter.drawText(QRectF(left, card.top() + padding, contentWidth, titleHeight),
                     Qt::AlignLeft | Qt::AlignVCenter, tr("Calendar"));
    const QRectF close = closeButtonRect();
    DiaryGlyph(DiaryGlyphSymbol::xmark, DiaryGlyphWeight::medium)
        .paint(painter, QRectF(close.center() - QPointF(5.5, 5.5), QSizeF(11, 11)),
               withOpacity(leather, 0.8));

    double y = card.top() + padding + titleHeight + spacing + m_grid->sizeHint().height();
    if (!m_onThisDay.isEmpty()) {
        y += spacing;
        QPainterPath box;
        box.addRoundedRect(QRectF(left, y, contentWidth, boxHeight()), 12, 12);
        painter.fillPath(box, withOpacity(leather, 0.06));
        QFont heading = font();
        heading.setPixelSize(10);
        heading.setWeight(QFont::DemiBold);
        heading.setLetterSpacing(QFont::AbsoluteSpacing, 1.4);
        painter.setFont(heading);
        painter.setPen(leather);
        painter.drawText(QRectF(left + boxPadding, y + boxPadding, contentWidth, headingHeight),
                         Qt::AlignLeft | Qt::AlignVCenter, tr("On this day").toUpper());
        const QList<QRectF> rows = onThisDayRowRects();
        for (qsizetype i = 0; i < rows.size(); ++i) {
            const DiaryOnThisDayItem &item = m_onThisDay.at(i);
            const QRectF row = rows.at(i);
            const QFont age = georgia(13);
            painter.setFont(age);
            painter.setPen(ink);
            const QString ageLine = ageText(item.yearsAgo);
            const double ageWidth = QFontMetricsF(age).horizontalAdvance(ageLine);
            painter.drawText(QRectF(row.left(), row.top(), ageWidth + 1, row.height()),
                             Qt::AlignLeft | Qt::AlignVCenter, ageLine);
            const QFont preview = georgia(13, true);
            painter.setFont(preview);
            painter.setPen(withOpacity(ink, 0.7));
            const double previewLeft = row.left() + ageWidth + 10;
            const double previewWidth = row.right() - 10 - 4 - 10 - previewLeft;
            painter.drawText(
                QRectF(previewLeft, row.top(), previewWidth, row.height()),
                Qt::AlignLeft | Qt::AlignVCenter,
                QFontMetricsF(preview).elidedText(previewText(item), Qt::ElideRight, previewWidth));
            DiaryGlyph(DiaryGlyphSymbol::chevronRight, DiaryGlyphWeight::semibold)
                .paint(painter, QRectF(row.right() - 8, row.center().y() - 4, 6, 8),
                       withOpacity(ink, 0.4));
        }
        y += boxHeight();
    }
    if (!m_entryDays.isEmpty()) {
        y += spacing;
        painter.setPen(Qt::NoPen);
        painter.setBrush(leather);
        painter.drawEllipse(QRectF(left, y + countHeight / 2 - 2.5, 5, 5));
        QFont count = font();
        count.setPixelSize(12);
        painter.setFont(count);
        painter.setPen(withOpacity(ink, 0.7));
        painter.drawText(QRectF(left + 11, y, contentWidth - 11, countHeight),
                         Qt::AlignLeft | Qt::AlignVCenter,
                         countText(m_entryDays.size(), monthName()));
    }
}

void MacCalendarCard::mousePressEvent(QMouseEvent *event) {
    event->accept();
}

void MacCalendarCard::mouseReleaseEvent(QMouseEvent *event) {
    const QPointF at = event->position();
    if (closeButtonRect().contains(at) || !cardRect().contains(at)) {
        if (onClose)
            onClose();
        return;
    }
    const QList<QRectF> rows = onThisDayRowRects();
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (rows.at(i).contains(at)) {
            choose(m_onThisDay.at(i).day);
            return;
        }
    }
}

} // namespace velmora
