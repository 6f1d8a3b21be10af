#include "book/MacRuledTextView.h"
#include "domain/DiarySessionStore.h"
#include "domain/UserDefaultsSettingsStore.h"
#include "pages/DiaryPageSystemStore.h"
#include "pages/MacTextKitLeafPaginator.h"
#include "pages/PageLayoutService.h"
#include "pagescreen/VuzIvoduPageWidget.h"
#include "store/CoreDataDiaryRepository.h"
#include "store/DiaryModelProvider.h"
#include "store/DiaryPersistenceStack.h"

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

using namespace velmora;
using namespace std::chrono_literals;

namespace {

// Runs the event loop until the condition holds, waking only for events, so the time measured is
// not rounded up to a polling interval.
template <typename Condition> bool runUntil(Condition condition) {
    QElapsedTimer limit;
    limit.start();
    while (!condition()) {
        if (limit.elapsed() > 10000)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// The open book over a real store in a temporary folder, with the autosave shortened to 1 ms so
// what is measured is the road from the key to the stored draft, not the waiting.
struct OpenBook {
    QTemporaryDir folder;
    std::shared_ptr<DiaryPersistenceStack> stack = std::make_shared<DiaryPersistenceStack>(
        folder.filePath(QStringLiteral("bench.sqlite")),
        DiaryModelProvider::model(DiaryModelProvider::currentVersionName));
    std::shared_ptr<CoreDataDiaryRepository> repository =
        std::make_shared<CoreDataDiaryRepository>(stack, std::make_shared<SystemClock>());
    std::shared_ptr<UserDefaultsSettingsStore> settings =
        std::make_shared<UserDefaultsSettingsStore>(
            std::make_shared<UserDefaults>(folder.filePath(QStringLiteral("settings.ini"))),
            QStringLiteral("Georgia"));
    DiarySessionStore session{repository, settings, GregorianCalendar::autoupdatingCurrent(),
                              nullptr, DraftAutosaveTiming{1ms, 1ms}};
    DiaryPageSystemStore pages{
        &session, std::make_shared<PageLayoutService>(
                      std::make_shared<MacTextKitLeafPaginator>(),
                      std::make_shared<PageLayoutCache>(PageLayoutService::layoutCacheCostLimit))};
    DiaryCommandRouter router;
    std::unique_ptr<VuzIvoduPageWidget> book = std::make_unique<VuzIvoduPageWidget>(
        session, pages, router, *settings, VuzIvoduPageTimings{0ms, 0ms, 0ms, 0ms, 0ms, 60000ms});

    OpenBook() {
        book->show();
        QTest::qWaitFor([&] { return book->editor()->isVisible() && pages.selectedDescriptor(); });
    }
    ~OpenBook() {
        book.reset();
        QTest::qWait(20);
    }

    bool stored(const QString &text) const {
        return !session.autosave().inFlight() && !session.autosave().pendingEdit() &&
               session.currentEntry() && session.currentEntry()->content == text;
    }
};

// A key pressed in the page's editor until the draft holding it is stored.
void BM_PageScreenKeystrokeToStoredDraft(benchmark::State &state) {
    OpenBook open;
    MacRuledTextView *editor = open.book->editor();
    QTest::keyClicks(editor, QString(int(state.range(0)), QLatin1Char('a')));
    QTest::qWaitFor([&] { return open.stored(editor->text()); }, 10000);
    QElapsedTimer clock;
    for (auto _ : state) {
        clock.start();
        QTest::keyClick(editor, Qt::Key_B);
        const bool done = runUntil([&] { return open.stored(editor->text()); });
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
        if (!done)
            state.SkipWithError("the draft was not stored");
    }
}
BENCHMARK(BM_PageScreenKeystrokeToStoredDraft)
    ->Arg(1000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(200);

// Baseline: the store's own save of a draft of the same size, awaited the same way.
void BM_PageScreenBaselineStoreSave(benchmark::State &state) {
    OpenBook open;
    DiaryDraftDTO draft;
    draft.id = QUuid::createUuid();
    draft.dayKey = open.session.selectedDay();
    draft.content = QString(int(state.range(0)), QLatin1Char('a'));
    draft.fontName = QStringLiteral("Georgia");
    draft.bodyPointSize = 16;
    draft.originTimeZone = QStringLiteral("UTC");
    draft.createdAt = QDateTime::currentDateTimeUtc();
    draft.updatedAt = draft.createdAt;
    std::optional<DiaryRevision> revision;
    qint64 sequence = 0;
    QElapsedTimer clock;
    for (auto _ : state) {
        draft.content.append(QLatin1Char('b'));
        bool done = false;
        clock.start();
        auto save = [](OpenBook *book, DiaryDraftDTO draft, std::optional<DiaryRevision> *revision,
                       qint64 sequence, bool *done) -> QCoro::Task<void> {
            const DiarySaveResult result =
                co_await book->repository->save(draft, *revision, sequence);
            *revision = result.entry.revision;
            *done = true;
        };
        auto running = save(&open, draft, &revision, ++sequence, &done);
        runUntil([&] { return done; });
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
        draft.revision = revision.value_or(DiaryRevision{});
    }
}
BENCHMARK(BM_PageScreenBaselineStoreSave)
    ->Arg(1000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(200);

} // namespace
