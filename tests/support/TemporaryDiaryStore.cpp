#include "support/TemporaryDiaryStore.h"

#include "platform/UserDefaults.h"
#include "store/DiaryMigrationCoordinator.h"
#include "store/DiaryModelProvider.h"

#include <QTimeZone>

namespace velmora::test {

TemporaryDiaryStore::TemporaryDiaryStore(std::shared_ptr<const Clock> clock) {
    if (!clock)
        clock = std::make_shared<SystemClock>();
    const QString url = folder.filePath(QStringLiteral("Diary/RaDevov.sqlite"));
    UserDefaults defaults(folder.filePath(QStringLiteral("launch-defaults.ini")));
    DiaryMigrationCoordinator(clock).prepareStore(url, defaults, QTimeZone::utc());
    stack = std::make_shared<DiaryPersistenceStack>(
        url, DiaryModelProvider::model(DiaryModelProvider::currentVersionName));
    store = std::make_shared<CoreDataDiaryRepository>(stack, clock);
    repository = std::make_shared<ScriptedDiaryRepository>(store);
}

} // namespace velmora::test
