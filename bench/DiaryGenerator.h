#pragma once

#include "domain/DayKey.h"
#include "domain/DiarySnapshotDTO.h"

#include <QDate>
#include <QRandomGenerator>
#include <QString>

namespace velmora::bench {

struct DiaryGeneratorOptions {
    QDate firstDay = QDate(2005, 1, 1);
    int days = 7305; // twenty years
    int minContentBytes = 1024;
    int maxContentBytes = 10 * 1024;
    int sealedPercent = 10;
    int recoveryRecords = 200;
    quint32 seed = 20260101;
};

// A word that the generator puts into exactly one entry, for searches that find almost nothing.
inline constexpr auto rareDiaryWord = "quetzalcoatlus";

// Prose of about `bytes` UTF-8 bytes: everyday English with accented words mixed in.
QString generateProse(QRandomGenerator &random, int bytes);

// The day `offset` days after the generated diary's first day.
DayKey generatedDay(int offset, const DiaryGeneratorOptions &options = {});

// A realistic diary: one entry a day, of varied length, some sealed, with recovery records.
// The same options always give the same diary, apart from fresh identifiers.
DiarySnapshotDTO generateDiary(const DiaryGeneratorOptions &options = {});

} // namespace velmora::bench
