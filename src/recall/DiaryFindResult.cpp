#include "recall/DiaryFindResult.h"

#include "domain/DiaryRepository.h"
#include "recall/DiaryHandwritingIndex.h"

#include <QSet>

#include <algorithm>

namespace velmora {

QCoro::Task<QList<DiaryFindResult>> findEntries(QString query, DiaryRepository &repository,
                                                DiaryHandwritingIndex &handwritingIndex,
                                                int limit) {
    const QString trimmed = query.trimmed();
    if (trimmed.isEmpty())
        co_return {};
    // Both are asked before either answers: the index may be gone by the time the store does.
    auto typedSearch = repository.search(trimmed, limit);
    auto handwrittenSearch = handwritingIndex.search(trimmed, limit);
    const QList<DiaryEntryDTO> entries = co_await typedSearch;
    const QList<DiaryHandwritingIndex::Match> matches = co_await handwrittenSearch;

    QList<DiaryFindResult> results;
    results.reserve(entries.size() + matches.size());
    QSet<DayKey> found;
    for (const DiaryEntryDTO &entry : entries) {
        results.append(DiaryFindResult{entry.dayKey, entry.content, false});
        found.insert(entry.dayKey);
    }
    // The index lists a day's leaves lowest first, so the first match of a day is the one kept.
    for (const auto &match : matches) {
        if (found.contains(match.dayKey))
            continue;
        found.insert(match.dayKey);
        results.append(DiaryFindResult{match.dayKey, match.text, true});
    }
    std::stable_sort(
        results.begin(), results.end(),
        [](const DiaryFindResult &a, const DiaryFindResult &b) { return a.dayKey > b.dayKey; });
    co_return results;
}

} // namespace velmora
