#include "pagescreen/VuzIvoduRecallCards.h"

#include "book/DiaryStage.h"
#include "pagescreen/PageOverlayMotion.h"
#include "pagescreen/VuzIvoduPageView.h"
#include "recall/views/MacCalendarCard.h"
#include "recall/views/MacSearchCard.h"

#include <QLineEdit>
#include <QPainter>
#include <QVariantAnimation>
#include <QWidget>

#include <algorithm>

namespace velmora {

namespace {

// An opening card, painted from two pictures taken once: what lay under it, and the card. It
// takes no input: the card under it is live already, so typing at once reaches its field.
class CardArrival : public QWidget {
public:
    CardArrival(QWidget *card, const VuzIvoduPageAnimation &animation)
        : QWidget(card->parentWidget())
        , m_curve(animation) {
        setObjectName(QStringLiteral("recall-card-arrival"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setGeometry(card->geometry());
        m_under = diaryStagePicture(parentWidget(), card->geometry());
        card->show();
        card->raise();
        m_card = diaryStagePicture(card);
        auto *run = new QVariantAnimation(this);
        run->setStartValue(0.0);
        run->setEndValue(1.0);
        run->setDuration(int(std::max<qint64>(animation.duration.count(), 1)));
        connect(run, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
            m_opacity = m_curve.progress(value.toDouble());
            update();
        });
        connect(run, &QVariantAnimation::finished, this, &QObject::deleteLater);
        // Gone with the card, should it close before it has fully arrived.
        connect(card, &QObject::destroyed, this, &QObject::deleteLater);
        show();
        raise();
        run->start();
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.drawPixmap(0, 0, m_under);
        painter.setOpacity(m_opacity);
        painter.drawPixmap(0, 0, m_card);
    }

private:
    VuzIvoduPageAnimation m_curve;
    QPixmap m_under;
    QPixmap m_card;
    double m_opacity = 0;
};

void arrive(QWidget *card, const VuzIvoduPageAnimation &animation) {
    if (!animation.isAnimated()) {
        card->show();
        card->raise();
        return;
    }
    new CardArrival(card, animation);
}

// The card leaves at once (it may be the sender of the click that closed it, so it is deleted
// later); its picture fades out over the page.
void leave(QWidget *card, const VuzIvoduPageAnimation &animation) {
    if (!card)
        return;
    auto *fade = new PageOverlayMotion(nullptr, card->parentWidget());
    fade->setGeometry(card->geometry());
    fade->raise();
    fade->fadeOut(diaryStagePicture(card), animation);
    QObject::connect(fade->animation(), &QVariantAnimation::finished, fade, &QObject::deleteLater);
    if (!fade->isMoving())
        fade->deleteLater();
    card->hide();
    card->deleteLater();
}

} // namespace

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
    if (m_search)
        m_search->setTheme(theme);
}

void VuzIvoduRecallCards::showCalendar(bool show) {
    if (!show) {
        leave(m_calendar, m_page.calendarCardAnimation());
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
    arrive(m_calendar, m_page.calendarCardAnimation());
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
        leave(m_search, m_page.searchCardAnimation());
        m_search = nullptr;
        return;
    }
    if (m_search)
        return;
    // A new card each time: nothing of an earlier search survives its closing.
    m_search = new MacSearchCard(m_page.searchFind(), m_page.session().calendar(), m_pageArea);
    m_search->setTheme(m_theme);
    m_search->setGeometry(m_pageArea->rect());
    MacSearchCardController &search = m_search->controller();
    search.onSelect = [this](const DayKey &day) { m_page.navigate(day); };
    search.onClose = [this] { m_page.closeSearch(); };
    arrive(m_search, m_page.searchCardAnimation());
    // The editor gives up the keyboard now, the field takes it on the next turn.
    if (QWidget *focused = m_spread->focusWidget())
        focused->clearFocus();
    QMetaObject::invokeMethod(
        m_search->field(), [field = m_search->field()] { field->setFocus(); },
        Qt::QueuedConnection);
}

} // namespace velmora
