// The open book's calendar card and search card: their data and what their choices do.

#include "pagescreen/PageScreenLogging.h"
#include "pagescreen/VuzIvoduPageView.h"
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

void VuzIvoduPageView::setRecall(DiaryHandwritingStore handwriting, DiaryHandwritingIndex &index) {
    m_handwritingIndex = &index;
    m_onThisDayQuery = [this, handwriting](QDateTime date, GregorianCalendar calendar) {
        return onThisDayIn(m_session.repository(), handwriting, std::move(date),
                           std::move(calendar));
    };
}

MacSearchCardController::Find VuzIvoduPageView::searchFind() const {
    return [repository = m_session.repository(), index = m_handwritingIndex](QString query) {
        return findIn(repository, index, std::move(query));
    };
}

QSet<int> VuzIvoduPageView::calendarEntryDays() const {
    return m_entryDaysMonth == m_pageSystem.calendarMonth().firstDay ? m_entryDays : QSet<int>();
}

void VuzIvoduPageView::setCalendarMarks(const DayKey &month, QSet<int> days) {
    if (m_entryDaysMonth != month && m_entryDays == days) {
        m_entryDaysMonth = month;
        Q_EMIT entryDaysChanged(m_entryDays);
        return;
    }
    m_entryDaysMonth = month;
    setEntryDays(std::move(days));
}

std::pair<int, int> VuzIvoduPageView::calendarYears() const {
    const GregorianCalendar &calendar = m_session.calendar();
    const int thisYear = calendar.civilDate(m_session.clock()->now()).year();
    const auto monthStart = m_pageSystem.calendarMonth().firstDay.date(calendar);
    const int monthYear = monthStart ? calendar.civilDate(*monthStart).year() : thisYear;
    const int first = std::min({thisYear, monthYear, m_firstYear.value_or(thisYear)});
    return {first, std::max(thisYear + 1, monthYear)};
}

void VuzIvoduPageView::changeCalendarMonth(const DayKey &day) {
    m_pageSystem.setCalendarMonth(DiaryCalendarMonth::containing(day, m_session.calendar()));
    restartCalendarRefresh();
}

QCoro::Task<void> VuzIvoduPageView::reloadOnThisDay() {
    if (!m_onThisDayQuery)
        co_return;
    const QPointer<VuzIvoduPageView> self(this);
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

VuzIvoduPageAnimation VuzIvoduPageView::searchCardAnimation() const {
    return animation(VuzIvoduPageAnimation::Curve::easeInOut, 0.18);
}

VuzIvoduPageAnimation VuzIvoduPageView::calendarCardAnimation() const {
    return animation(VuzIvoduPageAnimation::Curve::easeOut, 0.2);
}

void VuzIvoduPageView::closeCalendar() {
    setShowCalendar(false);
    requestFocus();
}

void VuzIvoduPageView::closeSearch() {
    setShowSearch(false);
    requestFocus();
}

} // namespace velmora
