#pragma once

#include "domain/DiarySnapshotDTO.h"

#include <QString>
#include <QStringList>

namespace velmora::bench {

// What differs between two diaries by content: the metadata field by field, the entries by
// day and the recovery records by id, whatever order either side holds them in. Empty when the
// two are equal; at most `limit` differences are named.
QStringList diaryDifferences(const DiarySnapshotDTO &first, const DiarySnapshotDTO &second,
                             int limit = 10);

// The same for two backup packages, each read back with full validation.
QStringList packageDifferences(const QString &firstPackage, const QString &secondPackage,
                               int limit = 10);

} // namespace velmora::bench
