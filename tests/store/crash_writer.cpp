// Writes to a store in an endless loop and reports every save that returned with a line
// "ACK <day> <revision>"; the crash test kills it at random moments.
#include "CrashWriterContent.h"
#include "StoreFixture.h"

#include <QCoreApplication>

#include <cstdio>

using namespace velmora;

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    auto stack = std::make_shared<DiaryPersistenceStack>(
        QString::fromLocal8Bit(argv[1]),
        DiaryModelProvider::model(DiaryModelProvider::currentVersionName));
    CoreDataDiaryRepository repository(stack, std::make_shared<SystemClock>());
    QHash<DayKey, DiaryRevision> revisions = test::waitFor(repository.revisionsByDay());
    std::puts("READY");
    std::fflush(stdout);
    for (qint64 counter = 0;; ++counter) {
        const DayKey day = test::crashWriterDay(counter);
        const auto current = revisions.find(day);
        const qint64 next = current == revisions.end() ? 1 : current->rawValue + 1;
        DiaryDraftDTO draft;
        draft.id = QUuid::createUuid();
        draft.dayKey = day;
        draft.content = test::crashWriterContent(day, next);
        draft.fontName = QStringLiteral("Georgia");
        draft.originTimeZone = QStringLiteral("UTC");
        draft.createdAt = QDateTime::currentDateTimeUtc();
        const std::optional<DiaryRevision> expected =
            current == revisions.end() ? std::nullopt : std::optional(*current);
        const DiarySaveResult result = test::waitFor(repository.save(draft, expected, counter));
        revisions.insert(day, result.entry.revision);
        std::printf("ACK %s %lld\n", qPrintable(day.rawValue()),
                    static_cast<long long>(result.entry.revision.rawValue));
        std::fflush(stdout);
    }
}
