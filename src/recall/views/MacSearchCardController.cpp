#include "recall/views/MacSearchCardController.h"

#include "domain/DiaryRepository.h"
#include "platform/AsyncSleep.h"
#include "recall/DiaryHandwritingIndex.h"
#include "recall/RecallLogging.h"

#include <QPointer>

#include <algorithm>
#include <exception>

namespace velmora {

MacSearchCardController::MacSearchCardController(Find find, std::chrono::milliseconds delay,
                                                 QObject *parent)
    : QObject(parent)
    , m_find(std::move(find))
    , m_delay(delay) {}

MacSearchCardController::~MacSearchCardController() {
    cancelSearch();
}

MacSearchCardController::Find MacSearchCardController::findIn(DiaryRepository &repository,
                                                              DiaryHandwritingIndex &index) {
    return [&repository, &index](QString query) {
        return findEntries(std::move(query), repository, index, searchLimit);
    };
}

bool MacSearchCardController::showsList() const {
    return !m_query.trimmed().isEmpty();
}

void MacSearchCardController::setQuery(const QString &query) {
    if (query == m_query)
        return;
    m_query = query;
    Q_EMIT queryChanged();
    cancelSearch();
    if (query.trimmed().isEmpty()) {
        setResults({});
        return;
    }
    CancellationToken token;
    m_searchToken = token;
    // Runs on by itself; the token and the query check decide whether its answer is used.
    search(query, token);
}

QCoro::Task<void> MacSearchCardController::search(QString text, CancellationToken token) {
    const QPointer<MacSearchCardController> self(this);
    try {
        auto sleeping = sleepFor(m_delay, token);
        co_await sleeping;
    } catch (const CancellationError &) {
        // Overtaken by another keystroke or a close: the check below ends it.
    }
    if (!self || token.isCancelled())
        co_return;
    const Find find = m_find;
    try {
        auto finding = find(text);
        QList<DiaryFindResult> found = co_await finding;
        if (self && !token.isCancelled() && m_query == text)
            setResults(std::move(found));
    } catch (const std::exception &error) {
        qCInfo(lcRecall) << "A search failed:" << error.what();
        if (self && !token.isCancelled() && m_query == text)
            setResults({});
    }
}

void MacSearchCardController::cancelSearch() {
    if (m_searchToken) {
        m_searchToken->cancel();
        m_searchToken.reset();
    }
}

void MacSearchCardController::setResults(QList<DiaryFindResult> results) {
    m_results = std::move(results);
    Q_EMIT resultsChanged();
}

void MacSearchCardController::enterRow(const DayKey &day) {
    m_hovered = day;
    Q_EMIT hoveredResultChanged();
}

void MacSearchCardController::leaveRow(const DayKey &day) {
    // The next row may have been entered first: its highlight stays.
    if (m_hovered != day)
        return;
    m_hovered.reset();
    Q_EMIT hoveredResultChanged();
}

double MacSearchCardController::listAreaHeight(double contentHeight) {
    return std::clamp(contentHeight, 1.0, listHeightLimit);
}

void MacSearchCardController::submit() {
    if (m_results.isEmpty())
        return;
    choose(m_results.first().dayKey);
}

void MacSearchCardController::choose(const DayKey &day) {
    cancelSearch();
    if (onClose)
        onClose();
    if (onSelect)
        onSelect(day);
}

void MacSearchCardController::close() {
    cancelSearch();
    if (onClose)
        onClose();
}

} // namespace velmora
