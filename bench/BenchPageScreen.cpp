#include "BenchCores.h"
#include "DiaryGenerator.h"
#include "book/MacReadingLeaf.h"
#include "book/MacRuledTextView.h"
#include "domain/DiarySessionStore.h"
#include "domain/UserDefaultsSettingsStore.h"
#include "pages/DiaryPageSystemStore.h"
#include "pages/MacTextKitLeafPaginator.h"
#include "pages/PageLayoutService.h"
#include "pagescreen/MacPageTurnView.h"
#include "pagescreen/VuzIvoduPageWidget.h"
#include "store/CoreDataDiaryRepository.h"
#include "store/DiaryModelProvider.h"
#include "store/DiaryPersistenceStack.h"

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>

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
        runUntil([&] { return book->editor()->isVisible() && pages.selectedDescriptor(); });
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
    runUntil([&] { return open.stored(editor->text()); });
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

// Two leaves of written text as the turn caches them, at 780 × 1024 points and 2× pixels, and
// the window's pixels they are painted onto (an opaque window's backing store).
struct TurnPictures {
    QPixmap earlier;
    QPixmap later;
    QImage target{QSize(780, 1024) * 2, QImage::Format_RGB32};

    TurnPictures() {
        target.setDevicePixelRatio(2);
        QRandomGenerator random(7);
        for (QPixmap *picture : {&earlier, &later}) {
            PageDescriptor leaf;
            leaf.dayKey = *DayKey::fromRawValue(QStringLiteral("2024-03-10"));
            leaf.content = bench::generateProse(random, 1500);
            leaf.fontName = QStringLiteral("Georgia");
            leaf.bodyPointSize = 16;
            leaf.kind = PageKind::sealed;
            MacReadingLeaf view;
            view.setAttribute(Qt::WA_DontShowOnScreen);
            view.setLeaf(leaf, QDate(2024, 3, 10), 1, 180);
            *picture = QPixmap(QSize(780, 1024) * 2);
            picture->setDevicePixelRatio(2);
            picture->fill(Qt::white);
            view.render(picture);
        }
    }
};

// One frame of a physical turn: the leaf beneath, the turning leaf in perspective and its
// shadow, as the view draws it at a progress in hundredths (the shadow is deepest half-way).
void turnFrame(benchmark::State &state) {
    TurnPictures pictures;
    const double progress = double(state.range(0)) / 100;
    const PageTurnFrame frame{pictures.later,
                              pictures.earlier,
                              -180 * progress,
                              true,
                              0.28 * std::sin(progress * M_PI),
                              18 * std::sin(progress * M_PI),
                              -8};
    for (auto _ : state) {
        QPainter painter(&pictures.target);
        paintPageTurnFrame(painter, QRectF(0, 0, 780, 1024), frame);
    }
}

// Baseline: the same cached leaf drawn flat.
void flatLeaf(benchmark::State &state) {
    TurnPictures pictures;
    for (auto _ : state) {
        QPainter painter(&pictures.target);
        painter.drawPixmap(QRectF(0, 0, 780, 1024), pictures.earlier,
                           QRectF(pictures.earlier.rect()));
    }
}

void BM_PageScreenTurnFrame(benchmark::State &state) {
    turnFrame(state);
}
// The painter hands large fills to helper threads, so the CPU column counts the whole process and
// the time column is the wall clock a frame takes.
BENCHMARK(BM_PageScreenTurnFrame)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Arg(15)
    ->Arg(39)
    ->Unit(benchmark::kMillisecond);

void BM_PageScreenBaselineFlatLeaf(benchmark::State &state) {
    flatLeaf(state);
}
BENCHMARK(BM_PageScreenBaselineFlatLeaf)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The same two on a two-core laptop: the whole process bound to two processors.
void BM_PageScreenTurnFrameOnTwoCores(benchmark::State &state) {
    const bench::ProcessOnCores cores(2);
    turnFrame(state);
}
BENCHMARK(BM_PageScreenTurnFrameOnTwoCores)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Arg(15)
    ->Unit(benchmark::kMillisecond);

void BM_PageScreenBaselineFlatLeafOnTwoCores(benchmark::State &state) {
    const bench::ProcessOnCores cores(2);
    flatLeaf(state);
}
BENCHMARK(BM_PageScreenBaselineFlatLeafOnTwoCores)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Turning to the next day of the twenty-year diary: the navigation from the key to the settled
// leaf, store included (the cross-fade's fixed 0.18 s hold left out).
void BM_PageScreenTurnToNextDay(benchmark::State &state) {
    OpenBook open;
    bench::DiaryGeneratorOptions options;
    options.recoveryRecords = 0;
    bool replaced = false;
    auto replace = [](OpenBook *book, DiarySnapshotDTO diary, bool *done) -> QCoro::Task<void> {
        co_await book->repository->replaceAll(std::move(diary));
        *done = true;
    };
    auto running = replace(&open, bench::generateDiary(options), &replaced);
    runUntil([&] { return replaced; });
    VuzIvoduPageView &page = open.book->controller();
    page.navigate(*DayKey::fromRawValue(QStringLiteral("2010-01-01")));
    runUntil([&] { return open.pages.transition() == PageTransitionState::idle(); });
    QElapsedTimer clock;
    for (auto _ : state) {
        // From the day's last leaf, so the turn goes to the next day.
        open.pages.reloadDescriptors(std::numeric_limits<qint64>::max());
        const DayKey from = open.session.selectedDay();
        clock.start();
        page.turnToNextPage();
        const bool settled = runUntil([&] {
            const auto leaf = open.pages.selectedDescriptor();
            return open.session.selectedDay() != from && leaf &&
                   leaf->dayKey == open.session.selectedDay() &&
                   open.pages.transition().phase != PageTransitionPhase::loading;
        });
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
        if (!settled)
            state.SkipWithError("the next day did not open");
        // Let the page come to rest before the next key.
        page.finishPageTurn();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_PageScreenTurnToNextDay)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(200);

} // namespace
