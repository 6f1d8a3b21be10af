#include "pagescreen/PageCards.h"

#include "domain/DiarySessionStore.h"
#include "pages/DiaryPageSystemStore.h"
#include "pagescreen/PageMotion.h"
#include "pagescreen/PageScreenLogging.h"
#include "pagescreen/PageTaskFailure.h"
#include "recall/DiaryFindResult.h"

#include <QPointer>

#include <algorithm>
#include <exception>

namespace velmora {

namespace {

// The frames keep the repository alive for as long as a late answer may still be on its way.
QCoro::Task<DiaryOnThisDay> onThisDayIn(std::shared_ptr<DiaryRepository> repository,
                                        DiaryHandwritingStore handwriting, QDateTime date,
                                        GregorianCalendar calendar) {
    auto loading = loadOnThisDayItems(*repository, std::move(handwriting), date, calendar);
    co_return co_await loading;
}

QCoro::Task<QList<DiaryFindResult>> findIn(std::shared_ptr<DiaryRepository> repository,
                                           DiaryHandwritingIndex *index, QString query) {
    if (!index)
        co_return {};
    auto finding =
        findEntries(std::move(query), *repository, *index, MacSearchCardController::searchLimit);
    co_return co_await finding;
}

} // namespace

PageCards::PageCards(DiarySessionStore &session, DiaryPageSystemStore &pageSystem,
                     const PageMotion &motion, QObject *parent)
    : QObject(parent)
    , m_session(session)
    , m_pageSystem(pageSystem)
    , m_motion(motion) {}

PageCards::~PageCards() {
    stop();
}

// --- Opening and closing ----------------------------------------------------------------------

void PageCards::setShowSearch(bool show) {
    if (m_showSearch == show)
        return;
    m_showSearch = show;
    Q_EMIT showSearchChanged(show);
}

void PageCards::toggleSearch() {
    setShowSearch(!m_showSearch);
}

void PageCards::setShowCalendar(bool show) {
    if (m_showCalendar == show)
        return;
    m_showCalendar = show;
    Q_EMIT showCalendarChanged(show);
}

void PageCards::openCalendar() {
    setShowCalendar(true);
    refreshMarks();
    launchPageTask(reloadOnThisDay());
}

void PageCards::closeCalendar() {
    setShowCalendar(false);
    Q_EMIT focusWanted();
}

void PageCards::closeSearch() {
    setShowSearch(false);
    Q_EMIT focusWanted();
}

bool PageCards::closeTopCard() {
    if (m_showSearch)
        closeSearch();
    else if (m_showCalendar)
        closeCalendar();
    else
        return false;
    return true;
}

VuzIvoduPageAnimation PageCards::searchCardAnimation() const {
    return m_motion.animation(VuzIvoduPageAnimation::Curve::easeInOut, 0.18);
}

VuzIvoduPageAnimation PageCards::calendarCardAnimation() const {
    return m_motion.animation(VuzIvoduPageAnimation::Curve::easeOut, 0.2);
}

// --- Search and on this day -------------------------------------------------------------------

void PageCards::setRecall(DiaryHandwritingStore handwriting, DiaryHandwritingIndex &index) {
    m_handwritingIndex = &index;
    m_onThisDayQuery = [this, handwriting](QDateTime date, GregorianCalendar calendar) {
        return onThisDayIn(m_session.repository(), handwriting, std::move(date),
                           std::move(calendar));
    };
}

MacSearchCardController::Find PageCards::searchFind() const {
    return [repository = m_session.repository(), index = m_handwritingIndex](QString query) {
        return findIn(repository, index, std::move(query));
    };
}

QCoro::Task<void> PageCards::reloadOnThisDay() {
    if (!m_onThisDayQuery)
        co_return;
    const QPointer<PageCards> self(this);
    const quint64 generation = ++m_onThisDayGeneration;
    DiaryOnThisDay answer;
    try {
        auto loading = m_onThisDayQuery(m_session.clock()->now(), m_session.calendar());
        answer = co_await loading;
    } catch (const std::exception &error) {
        // The query counts its own failures as nothing written; this is only a safety net.
        qCWarning(lcPageScreen) << "On this day could not be loaded:" << error.what();
        co_return;
    }
    if (!self || generation != m_onThisDayGeneration)
        co_return;
    if (answer.firstYear == m_firstYear && answer.items == m_onThisDay)
        co_return;
    m_firstYear = answer.firstYear;
    m_onThisDay = std::move(answer.items);
    Q_EMIT onThisDayChanged();
}

// --- The calendar's marks -----------------------------------------------------------------------

void PageCards::setEntryDays(QSet<int> days) {
    if (m_entryDays == days)
        return;
    m_entryDays = std::move(days);
    Q_EMIT entryDaysChanged(m_entryDays);
}

void PageCards::setCalendarMarks(const DayKey &month, QSet<int> days) {
    if (m_entryDaysMonth != month && m_entryDays == days) {
        m_entryDaysMonth = month;
        Q_EMIT entryDaysChanged(m_entryDays);
        return;
    }
    m_entryDaysMonth = month;
    setEntryDays(std::move(days));
}

QSet<int> PageCards::calendarEntryDays() const {
    return m_entryDaysMonth == m_pageSystem.calendarMonth().firstDay ? m_entryDays : QSet<int>();
}

std::pair<int, int> PageCards::calendarYears() const {
    const GregorianCalendar &calendar = m_session.calendar();
    const int thisYear = calendar.civilDate(m_session.clock()->now()).year();
    const auto monthStart = m_pageSystem.calendarMonth().firstDay.date(calendar);
    const int monthYear = monthStart ? calendar.civilDate(*monthStart).year() : thisYear;
    const int first = std::min({thisYear, monthYear, m_firstYear.value_or(thisYear)});
    return {first, std::max(thisYear + 1, monthYear)};
}

void PageCards::changeCalendarMonth(const DayKey &day) {
    m_pageSystem.setCalendarMonth(DiaryCalendarMonth::containing(day, m_session.calendar()));
    refreshMarks();
}

void PageCards::refreshMarks() {
    // Only an open calendar card shows the marks, and opening it refreshes them; a closed card
    // asks the store nothing on every keystroke and turn.
    if (!m_showCalendar)
        return;
    const DayKey firstDay = m_pageSystem.calendarMonth().firstDay;
    const auto monthDate = firstDay.date(m_session.calendar());
    if (!monthDate)
        return;
    if (m_marksTask)
        m_marksTask->cancel();
    const CancellationToken token;
    m_marksTask = token;
    launchPageTask(refreshMarksTask(*monthDate, firstDay, token));
}

QCoro::Task<void> PageCards::refreshMarksTask(QDateTime monthDate, DayKey firstDay,
                                              CancellationToken token) {
    const QPointer<PageCards> self(this);
    QSet<int> days;
    std::exception_ptr failure;
    try {
        days = co_await m_session.entryDays(monthDate);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self || token.isCancelled())
        co_return;
    if (failure) {
        Q_EMIT failed(describePageFailure(failure));
        co_return;
    }
    // Only the month still shown takes the answer.
    if (m_pageSystem.calendarMonth().firstDay != firstDay)
        co_return;
    setCalendarMarks(firstDay, std::move(days));
}

void PageCards::stop() {
    if (m_marksTask)
        m_marksTask->cancel();
}

} // namespace velmora
