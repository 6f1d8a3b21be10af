#pragma once

#include "domain/DayKey.h"

#include <QList>
#include <QString>

#include <QCoroTask>

namespace velmora {

class DiaryRepository;
class DiaryHandwritingIndex;

// One day found by a search: the entry's whole text, or the whole recognised text of the day's
// lowest matching leaf.
struct DiaryFindResult {
    DayKey dayKey;
    QString text;
    bool isHandwritten = false;

    friend bool operator==(const DiaryFindResult &, const DiaryFindResult &) = default;
};

// Typed and handwritten days whose text contains the trimmed query, ignoring case and accents:
// at most one result a day (a typed hit wins over handwriting), newest day first. Each source is
// asked for at most `limit`, so the list may hold up to twice that. Throws the repository's
// error. Asked on the GUI thread, which it never blocks.
QCoro::Task<QList<DiaryFindResult>> findEntries(QString query, DiaryRepository &repository,
                                                DiaryHandwritingIndex &handwritingIndex, int limit);

} // namespace velmora
