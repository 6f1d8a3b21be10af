#include "recall/views/CalendarView.h"

#include "book/DiaryGlyphs.h"
#include "recall/views/CalendarMonthGrid.h"

#include <QDateTime>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace velmora {

namespace {

constexpr double cellWidth = 22;
constexpr double cellHeight = 28;
constexpr double gridSpacing = 2;
constexpr double weekdayRowHeight = 14;
constexpr double arrowSide = 28;
constexpr double headerSpacing = 4;
constexpr double stackSpacing = 5;

} // namespace

CalendarView::CalendarView(GregorianCalendar calendar, QWidget *parent)
    : QWidget(parent)
    , m_calendar(std::move(calendar)) {
    setObjectName(QStringLiteral("diary-calendar"));
    setAccessibleName(tr("Diary calendar"));
}

void CalendarView::setSelectedDay(const DayKey &day) {
    m_selectedDay = day;
    update();
}

void CalendarView::setDisplayedMonth(const DiaryCalendarMonth &month) {
    m_month = month;
    updateGeometry();
    update();
}

void CalendarView::setEntryDays(const QSet<int> &days) {
    m_entryDays = days;
    update();
}

void CalendarView::setYears(std::optional<std::pair<int, int>> years) {
    m_years = years;
    update();
}

void CalendarView::setScale(double scale) {
    m_scale = scale;
    updateGeometry();
    update();
}

void CalendarView::setTheme(const DiaryTheme &theme) {
    m_theme = theme;
    update();
}

void CalendarView::setToday(QDate today) {
    m_today = today;
    update();
}

void CalendarView::setLocale(const QLocale &locale) {
    m_locale = locale;
    update();
}

QDate CalendarView::today() const {
    return m_today ? *m_today : m_calendar.civilDate(QDateTime::currentDateTimeUtc());
}

QList<std::optional<QDate>> CalendarView::cellDates() const {
    return CalendarMonthGrid::cells(m_month, m_calendar, m_locale.firstDayOfWeek());
}

bool CalendarView::hasYearMenu() const {
    return m_years && m_years->second - m_years->first + 1 >= 2;
}

QList<int> CalendarView::menuYears() const {
    QList<int> years;
    if (hasYearMenu())
        for (int year = m_years->second; year >= m_years->first; --year)
            years.append(year);
    return years;
}

QString CalendarView::title() const {
    const auto start = m_month.firstDay.date(m_calendar);
    if (!start)
        return m_month.firstDay.rawValue();
    return monthYearFormatter().string(m_calendar.civilDate(*start));
}

double CalendarView::gridTop() const {
    return s(arrowSide) + s(stackSpacing);
}

QRectF CalendarView::gridCellRect(int index) const {
    const int column = index % 7;
    const int row = index / 7;
    return QRectF(column * (s(cellWidth) + s(gridSpacing)),
                  gridTop() + s(weekdayRowHeight) + s(gridSpacing) +
                      row * (s(cellHeight) + s(gridSpacing)),
                  s(cellWidth), s(cellHeight));
}

QRectF CalendarView::cellRect(QDate day) const {
    const auto dates = cellDates();
    for (int i = 0; i < dates.size(); ++i)
        if (dates.at(i) == day)
            return gridCellRect(i);
    return {};
}

double CalendarView::gridWidth() const {
    return 7 * s(cellWidth) + 6 * s(gridSpacing);
}

QRectF CalendarView::nextMonthRect() const {
    // The header spans the whole view, however much wider than the grid its owner makes it.
    const double right = std::max(gridWidth(), double(width()));
    return QRectF(right - s(arrowSide), 0, s(arrowSide), s(arrowSide));
}

QRectF CalendarView::previousMonthRect() const {
    return nextMonthRect().translated(-s(arrowSide) - headerSpacing, 0);
}

QRectF CalendarView::titleRect() const {
    return QRectF(0, 0, previousMonthRect().left() - headerSpacing, s(arrowSide));
}

QSize CalendarView::sizeHint() const {
    const int rows = int(cellDates().size() / 7);
    const double height = gridTop() + s(weekdayRowHeight) + rows * (s(gridSpacing) + s(cellHeight));
    return QSize(int(std::ceil(gridWidth())), int(std::ceil(height)));
}

void CalendarView::stepMonth(int delta) {
    if (const auto first = CalendarMonthGrid::steppedMonth(m_month, delta, m_calendar);
        first && onMonthChanged)
        onMonthChanged(*first);
}

QMenu *CalendarView::yearMenu() {
    // A window of its own, never an item of a graphics scene the calendar may be shown through:
    // such an item is laid out in columns for the screen, but placed and clipped by the scene's
    // view, so a long range of years ran past the window. As a window it fits the screen.
    auto *menu = new QMenu;
    menu->setParent(this, menu->windowFlags() | Qt::BypassGraphicsProxyWidget);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setObjectName(QStringLiteral("calendar-year-menu"));
    menu->setToolTip(tr("Go to another year"));
    for (const int year : menuYears())
        menu->addAction(QString::number(year), this, [this, year] { chooseYear(year); });
    return menu;
}

QList<PaintedAccessibleItems::Item> CalendarView::accessibleItems() const {
    QList<Item> items;
    items.append(
        {QAccessible::Button, tr("Previous month"), {}, {}, previousMonthRect(), false, true, {}});
    items.append({QAccessible::Button, tr("Next month"), {}, {}, nextMonthRect(), false, true, {}});
    if (hasYearMenu())
        items.append({QAccessible::ButtonMenu,
                      title(),
                      {},
                      tr("Go to another year"),
                      titleRect(),
                      false,
                      true,
                      {}});
    else
        items.append({QAccessible::StaticText, title(), {}, {}, titleRect(), false, false, {}});
    const auto dates = cellDates();
    for (int i = 0; i < dates.size(); ++i) {
        if (!dates.at(i))
            continue;
        const QDate date = *dates.at(i);
        items.append({QAccessible::Button,
                      longDateFormatter().string(date),
                      m_entryDays.contains(date.day()) ? tr("Has diary entry") : tr("Blank day"),
                      {},
                      gridCellRect(i),
                      DayKey::fromCivilDate(date.year(), date.month(), date.day()) == m_selectedDay,
                      true,
                      {}});
    }
    return items;
}

void CalendarView::pressAccessibleItem(int index) {
    if (index == 0 || index == 1) {
        stepMonth(index == 0 ? -1 : 1);
        return;
    }
    if (index == 2) {
        if (hasYearMenu())
            yearMenu()->popup(mapToGlobal(titleRect().bottomLeft().toPoint()));
        return;
    }
    // The days follow the three header items, in the order of the month.
    int day = index - 3;
    for (const auto &date : cellDates()) {
        if (!date || day-- > 0)
            continue;
        if (onDateSelected)
            onDateSelected(DayKey::fromCivilDate(date->year(), date->month(), date->day()));
        return;
    }
}

void CalendarView::chooseYear(int year) {
    if (const auto first = CalendarMonthGrid::monthInYear(m_month, year, m_calendar);
        first && onMonthChanged)
        onMonthChanged(*first);
}

void CalendarView::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink = m_theme.ink();

    // Header: the title (with the year menu's chevron) and the arrows.
    QFont titleFont(QStringLiteral("Georgia"));
    titleFont.setPixelSize(int(std::round(s(13))));
    titleFont.setWeight(QFont::Medium);
    painter.setFont(titleFont);
    painter.setPen(ink);
    const QRectF titleArea = titleRect();
    const QString text = title();
    painter.drawText(titleArea, Qt::AlignLeft | Qt::AlignVCenter, text);
    if (hasYearMenu()) {
        const double textWidth = QFontMetricsF(titleFont).horizontalAdvance(text);
        const QRectF chevron(textWidth + 3, titleArea.center().y() - 2, 7, 4);
        QPainterPath down;
        down.moveTo(chevron.topLeft());
        down.lineTo(chevron.center().x(), chevron.bottom());
        down.lineTo(chevron.topRight());
        painter.setPen(
            QPen(withOpacity(ink, 0.7), 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(down);
    }
    const auto arrow = [&](DiaryGlyphSymbol symbol, const QRectF &area) {
        const double side = s(9);
        DiaryGlyph(symbol, DiaryGlyphWeight::semibold)
            .paint(painter, QRectF(area.center() - QPointF(side / 2, side / 2), QSizeF(side, side)),
                   withOpacity(ink, 0.7));
    };
    arrow(DiaryGlyphSymbol::chevronLeft, previousMonthRect());
    arrow(DiaryGlyphSymbol::chevronRight, nextMonthRect());

    // Weekday letters.
    QFont small = font();
    small.setPixelSize(int(std::round(s(9))));
    small.setWeight(QFont::Medium);
    painter.setFont(small);
    painter.setPen(withOpacity(ink, 0.4));
    const QStringList symbols = CalendarMonthGrid::weekdaySymbols(m_locale);
    for (int column = 0; column < symbols.size(); ++column)
        painter.drawText(QRectF(column * (s(cellWidth) + s(gridSpacing)), gridTop(), s(cellWidth),
                                s(weekdayRowHeight)),
                         Qt::AlignCenter, symbols.at(column));

    // Days.
    const QDate now = today();
    const auto dates = cellDates();
    for (int i = 0; i < dates.size(); ++i) {
        if (!dates.at(i))
            continue;
        const QDate date = *dates.at(i);
        const QRectF cell = gridCellRect(i);
        const bool selected =
            DayKey::fromCivilDate(date.year(), date.month(), date.day()) == m_selectedDay;
        const bool isToday = date == now;
        const bool hasEntry = m_entryDays.contains(date.day());
        const QRectF disc(cell.left(), cell.top(), s(cellWidth), s(cellWidth));
        if (selected) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(m_theme.leather());
            painter.drawEllipse(disc);
        } else if (isToday) {
            painter.setPen(QPen(m_theme.accent(), 1.5));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(disc.adjusted(0.75, 0.75, -0.75, -0.75));
        }
        QFont number = font();
        number.setPixelSize(int(std::round(s(10))));
        number.setWeight(selected || isToday ? QFont::DemiBold : QFont::Normal);
        painter.setFont(number);
        painter.setPen(selected ? QColor(Qt::white) : withOpacity(ink, 0.78));
        painter.drawText(disc, Qt::AlignCenter, m_locale.toString(date.day()));
        if (hasEntry) {
            const double dot = s(3);
            painter.setPen(Qt::NoPen);
            painter.setBrush(selected ? withOpacity(Qt::white, 0.85) : m_theme.accent());
            painter.drawEllipse(QRectF(cell.center().x() - dot / 2, disc.bottom() + 1, dot, dot));
        }
    }
}

void CalendarView::mousePressEvent(QMouseEvent *event) {
    event->accept();
}

void CalendarView::mouseReleaseEvent(QMouseEvent *event) {
    const QPointF at = event->position();
    if (previousMonthRect().contains(at) || nextMonthRect().contains(at)) {
        stepMonth(previousMonthRect().contains(at) ? -1 : 1);
        return;
    }
    if (hasYearMenu() && titleRect().contains(at)) {
        yearMenu()->exec(mapToGlobal(titleRect().bottomLeft().toPoint()));
        return;
    }
    const auto dates = cellDates();
    for (int i = 0; i < dates.size(); ++i) {
        if (dates.at(i) && gridCellRect(i).contains(at)) {
            const QDate date = *dates.at(i);
            if (onDateSelected)
                onDateSelected(DayKey::fromCivilDate(date.year(), date.month(), date.day()));
            return;
        }
    }
}

} // namespace velmora
