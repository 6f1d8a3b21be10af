#include "pagescreen/VuzIvoduRecallCards.h"

#include "pagescreen/VuzIvoduPageView.h"
#include "recall/views/MacCalendarCard.h"
#include "recall/views/MacSearchCard.h"

#include <QLineEdit>
#include <QPainter>
#include <QVariantAnimation>
#include <QWidget>

namespace velmora {

namespace {

// A card coming or going, painted from pictures taken once: what lay under it, and the card.
// It takes no input; an opening card under it is already live, so typing reaches its field.
class CardFade : public QWidget {
public:
    CardFade(QWidget *parent, const QRect &area, QPixmap under, QPixmap card, bool in,
             std::chrono::milliseconds duration, const QEasingCurve &curve)
        : QWidget(parent)
        , m_under(std::move(under))
        , m_card(std::move(card)) {
        setObjectName(QStringLiteral("recall-card-fade"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setGeometry(area);
        auto *animation = new QVariantAnimation(this);
        animation->setStartValue(in ? 0.0 : 1.0);
        animation->setEndValue(in ? 1.0 : 0.0);
        animation->setDuration(int(duration.count()));
        animation->setEasingCurve(curve);
        m_opacity = in ? 0.0 : 1.0;
        connect(animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
            m_opacity = value.toDouble();
            update();
        });
        connect(animation, &QVariantAnimation::finished, this, &QObject::deleteLater);
        show();
        raise();
        animation->start();
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        if (!m_under.isNull())
            painter.drawPixmap(0, 0, m_under);
        painter.setOpacity(m_opacity);
        painter.drawPixmap(0, 0, m_card);
    }

private:
    QPixmap m_under;
    QPixmap m_card;
    double m_opacity = 0;
};

void fadeIn(QWidget *card, std::chrono::milliseconds duration, const QEasingCurve &curve) {
    QWidget *parent = card->parentWidget();
    const QPixmap under = parent->grab(card->geometry());
    card->show();
    card->raise();
    new CardFade(parent, card->geometry(), under, card->grab(), true, duration, curve);
}

// The card leaves at once (it may be the sender of the click that closed it, so it is deleted
// later); its picture fades out over the page.
void fadeOut(QWidget *card, std::chrono::milliseconds duration, const QEasingCurve &curve) {
    if (!card)
        return;
    new CardFade(card->parentWidget(), card->geometry(), QPixmap(), card->grab(), false, duration,
                 curve);
    card->hide();
    card->deleteLater();
}

} // namespace

QEasingCurve VuzIvoduRecallCards::easeOut() {
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0, 0), QPointF(0.58, 1), QPointF(1, 1));
    return curve;
}

QEasingCurve VuzIvoduRecallCards::easeInOut() {
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.42, 0), QPointF(0.58, 1), QPointF(1, 1));
    return curve;
}

VuzIvoduRecallCards::VuzIvoduRecallCards(VuzIvoduPageView &page, QWidget *spread, QWidget *pageArea,
                                         QWidget *calendarCeiling)
    : QObject(spread)
    , m_page(page)
    , m_spread(spread)
    , m_pageArea(pageArea)
    , m_calendarCeiling(calendarCeiling) {
    connect(&page, &VuzIvoduPageView::showCalendarChanged, this,
            &VuzIvoduRecallCards::showCalendar);
    connect(&page, &VuzIvoduPageView::showSearchChanged, this, &VuzIvoduRecallCards::showSearch);
    const auto refill = [this] { fillCalendar(); };
    connect(&page, &VuzIvoduPageView::entryDaysChanged, this, refill);
    connect(&page, &VuzIvoduPageView::onThisDayChanged, this, refill);
    connect(&page, &VuzIvoduPageView::civilDateChanged, this, refill);
    connect(&page.pageSystem(), &DiaryPageSystemStore::calendarMonthChanged, this, refill);
    connect(&page.session(), &DiarySessionStore::selectedDayChanged, this, refill);
}

void VuzIvoduRecallCards::setTheme(const DiaryTheme &theme) {
    m_theme = theme;
    if (m_calendar)
        m_calendar->setTheme(theme);
}

void VuzIvoduRecallCards::showCalendar(bool show) {
    if (!show) {
        fadeOut(m_calendar, calendarFade, easeOut());
        m_calendar = nullptr;
        return;
    }
    if (m_calendar)
        return;
    m_calendar = new MacCalendarCard(m_page.session().calendar(), m_spread);
    m_calendar->setTheme(m_theme);
    m_calendar->setGeometry(m_spread->rect());
    m_calendar->setFocusPolicy(Qt::StrongFocus);
    m_calendar->onSelect = [this](const DayKey &day) { m_page.navigate(day); };
    m_calendar->onMonthChanged = [this](const DayKey &day) { m_page.changeCalendarMonth(day); };
    m_calendar->onClose = [this] { m_page.closeCalendar(); };
    fillCalendar();
    fadeIn(m_calendar, calendarFade, easeOut());
    if (m_calendarCeiling)
        m_calendar->stackUnder(m_calendarCeiling);
    // The editor gives up the keyboard; Escape still reaches the page through the card.
    m_calendar->setFocus();
}

void VuzIvoduRecallCards::fillCalendar() {
    if (!m_calendar)
        return;
    const DiarySessionStore &session = m_page.session();
    m_calendar->setSelectedDay(session.selectedDay());
    m_calendar->setDisplayedMonth(m_page.pageSystem().calendarMonth());
    m_calendar->setEntryDays(m_page.calendarEntryDays());
    m_calendar->setYears(m_page.calendarYears());
    m_calendar->setOnThisDay(m_page.onThisDay());
    m_calendar->grid()->setToday(session.calendar().civilDate(session.clock()->now()));
}

void VuzIvoduRecallCards::showSearch(bool show) {
    if (!show) {
        fadeOut(m_search, searchFade, easeInOut());
        m_search = nullptr;
        return;
    }
    if (m_search)
        return;
    // A new card each time: nothing of an earlier search survives its closing.
    m_search = new MacSearchCard(m_page.searchFind(), m_page.session().calendar(), m_pageArea);
    m_search->setGeometry(m_pageArea->rect());
    MacSearchCardController &search = m_search->controller();
    search.onSelect = [this](const DayKey &day) { m_page.navigate(day); };
    search.onClose = [this] { m_page.closeSearch(); };
    fadeIn(m_search, searchFade, easeInOut());
    // The editor gives up the keyboard now, the field takes it on the next turn.
    if (QWidget *focused = m_spread->focusWidget())
        focused->clearFocus();
    QMetaObject::invokeMethod(
        m_search->field(), [field = m_search->field()] { field->setFocus(); },
        Qt::QueuedConnection);
}

} // namespace velmora
