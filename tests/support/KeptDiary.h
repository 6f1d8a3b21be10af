#pragma once

#include "app/graph/DiaryDependencyGraph.h"
#include "backup/DiarySnapshotService.h"
#include "backup/DiaryTransferService.h"
#include "support/TestSupport.h"

namespace velmora::test {

// A page written straight into the program's store, as if on an earlier run.
inline void writeEarlierPage(DiaryDependencyGraph &graph, const DayKey &day, const QString &text,
                             bool sealed) {
    DiaryDraftDTO draft;
    draft.id = QUuid::createUuid();
    draft.dayKey = day;
    draft.createdAt = graph.clock()->now();
    draft.updatedAt = draft.createdAt;
    draft.content = text;
    draft.fontName = QStringLiteral("Georgia");
    draft.bodyPointSize = 16;
    draft.originTimeZone = graph.diarySession().calendar().timeZoneIdentifier();
    const DiarySaveResult saved = test::waitFor(graph.repository()->save(draft, std::nullopt, 1));
    if (sealed)
        test::waitFor(graph.repository()->seal(saved.entry.id, saved.entry.revision));
}

// What a restore or an import brings back: the program's diary as it is now, with `day` holding
// `text` (sealed when asked) unless the text is empty, kept as a backup in its "Backups" folder,
// or as an export file when one is named. The diary itself is left as it was.
inline void keepDiaryWithPage(DiaryDependencyGraph &graph, const DayKey &day, const QString &text,
                              bool sealed, const QString &exportFile = {}) {
    const auto repository = graph.repository();
    const DiarySnapshotDTO before = test::waitFor(repository->snapshot());
    if (!text.isEmpty())
        writeEarlierPage(graph, day, text, sealed);
    if (exportFile.isEmpty())
        test::waitFor(graph.snapshotService().createSnapshot(graph.persistenceDirectory() +
                                                             QStringLiteral("/Backups")));
    else
        test::waitFor(DiaryTransferService(repository, graph.settingsStore(), graph.clock())
                          .exportDiary(exportFile));
    test::waitFor(repository->replaceAll(before));
}

} // namespace velmora::test
