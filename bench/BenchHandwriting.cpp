// The handwriting index and the ink on a twenty-year folder of drawings, each figure beside a
// baseline measured in the same run.
#include "BenchAwait.h"
#include "DiaryGenerator.h"

#include "domain/Clock.h"
#include "ink/InkDrawing.h"
#include "platform/JsonCoding.h"
#include "recall/DiaryFindResult.h"
#include "recall/DiaryHandwritingIndex.h"
#include "recall/DiaryOnThisDayItem.h"
#include "recall/HandwritingRecognizer.h"
#include "store/CoreDataDiaryRepository.h"
#include "store/DiaryModelProvider.h"
#include "store/DiaryPersistenceStack.h"

#include <benchmark/benchmark.h>

#include <QDate>
#include <QFile>
#include <QFont>
#include <QJsonObject>
#include <QPainterPath>
#include <QTemporaryDir>
#include <QTimeZone>

#include <cmath>

using namespace velmora;
using bench::await;

namespace {

constexpr int twentyYears = 7305;

// Two lines of words as a hand would write them: glyph outlines traced and hatched.
InkDrawing twoLinesOfWords() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(28);
    QPainterPath path;
    path.addText(40, 60, font, QStringLiteral("call the"));
    path.addText(40, 110, font, QStringLiteral("bakery"));
    QList<InkStroke> strokes;
    const auto stroke = [](const QList<QPointF> &points, double width) {
        InkStroke made;
        made.color = QColor(20, 20, 40);
        made.width = width;
        for (const QPointF &point : points)
            made.points.append(InkPoint{point.x(), point.y(), 1});
        return made;
    };
    for (const QPolygonF &outline : path.toSubpathPolygons())
        strokes.append(stroke(QList<QPointF>(outline.cbegin(), outline.cend()), 1.2));
    const QRectF area = path.boundingRect();
    for (double y = area.top(); y < area.bottom(); y += 0.5) {
        double start = qQNaN();
        for (double x = area.left(); x <= area.right() + 0.25; x += 0.25) {
            const bool inside = path.contains(QPointF(x, y));
            if (inside && std::isnan(start)) {
                start = x;
            } else if (!inside && !std::isnan(start)) {
                strokes.append(stroke({{start, y}, {x - 0.25, y}}, 1.0));
                start = qQNaN();
            }
        }
    }
    return InkDrawing(strokes);
}

// A folder of one drawing a day for twenty years, with an index file that is up to date, and
// the recognised text of each leaf a few sentences of prose.
struct IndexedFolder {
    QTemporaryDir dir;
    DiaryHandwritingStore store{dir.filePath(QStringLiteral("Handwriting"))};

    IndexedFolder() {
        const QByteArray drawing =
            InkDrawing({InkStroke{QColor(Qt::black), 2, {{10, 10, 1}, {80, 30, 1}}}}).encode();
        for (int offset = 0; offset < twentyYears; ++offset)
            store.write(drawing, bench::generatedDay(offset), 0);
        QRandomGenerator random(7);
        QJsonObject pages;
        for (const auto &file : store.pageFiles()) {
            pages.insert(DiaryHandwritingIndex::pageKey(file.dayKey, file.leaf),
                         QJsonObject{{QStringLiteral("text"),
                                      bench::generateProse(random, 60 + int(random.bounded(240)))},
                                     {QStringLiteral("fingerprint"),
                                      DiaryHandwritingIndex::pageFingerprint(file)}});
        }
        QFile index(dir.filePath(QStringLiteral("Handwriting/handwriting-index.json")));
        index.open(QIODevice::WriteOnly);
        index.write(writeJson(pages));
    }

    static IndexedFolder &shared() {
        static IndexedFolder folder;
        return folder;
    }
};

// The index over the shared folder, loaded once.
DiaryHandwritingIndex &loadedIndex() {
    static DiaryHandwritingIndex index(IndexedFolder::shared().store);
    static const bool loaded = [] {
        await(index.refreshAll());
        return true;
    }();
    (void)loaded;
    return index;
}

void BM_Handwriting_RefreshAll_Unchanged(benchmark::State &state) {
    DiaryHandwritingIndex &index = loadedIndex();
    const auto before = await(index.activity());
    for (auto _ : state)
        await(index.refreshAll());
    const auto after = await(index.activity());
    state.counters["drawings_read"] = double(after.drawingsRead - before.drawingsRead);
    state.counters["saves"] = double(after.saves - before.saves);
}
BENCHMARK(BM_Handwriting_RefreshAll_Unchanged)->Unit(benchmark::kMillisecond)->Iterations(20);

// The first refresh of a run also reads the index file.
void BM_Handwriting_RefreshAll_Unchanged_FirstOfRun(benchmark::State &state) {
    for (auto _ : state) {
        DiaryHandwritingIndex index(IndexedFolder::shared().store);
        await(index.refreshAll());
        state.counters["drawings_read"] = double(await(index.activity()).drawingsRead);
    }
}
BENCHMARK(BM_Handwriting_RefreshAll_Unchanged_FirstOfRun)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

// Baseline: listing the folder with the size and time of every file.
void BM_Handwriting_RefreshAll_Baseline_ListFolder(benchmark::State &state) {
    const DiaryHandwritingStore &store = IndexedFolder::shared().store;
    for (auto _ : state)
        benchmark::DoNotOptimize(store.pageFiles());
}
BENCHMARK(BM_Handwriting_RefreshAll_Baseline_ListFolder)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

void BM_Handwriting_Search(benchmark::State &state) {
    DiaryHandwritingIndex &index = loadedIndex();
    const char *const queries[] = {"the", bench::rareDiaryWord, "málaga kraków", "cafe"};
    int hits = 0;
    int i = 0;
    for (auto _ : state)
        hits += int(await(index.search(QString::fromUtf8(queries[i++ % 4]), 50)).size());
    state.counters["hits"] = double(hits) / double(state.iterations());
}
BENCHMARK(BM_Handwriting_Search)->Unit(benchmark::kMillisecond)->Iterations(200);

// One leaf of two written lines, touched before each pass so it is read, decoded, drawn,
// recognised and saved again.
void BM_Handwriting_RecognizeLeaf(benchmark::State &state) {
    QTemporaryDir dir;
    const DiaryHandwritingStore store(dir.filePath(QStringLiteral("Handwriting")));
    const DayKey day = bench::generatedDay(0);
    store.write(twoLinesOfWords().encode(), day, 0);
    DiaryHandwritingIndex index(store);
    await(index.refresh({{day, 0}})); // starts Tesseract outside the measurement
    QFile file(store.fileURL(day, 0));
    file.open(QIODevice::ReadWrite);
    QDateTime time = QDateTime::currentDateTimeUtc();
    for (auto _ : state) {
        state.PauseTiming();
        time = time.addSecs(1);
        file.setFileTime(time, QFileDevice::FileModificationTime);
        state.ResumeTiming();
        await(index.refresh({{day, 0}}));
    }
    const auto pages = await(index.pages());
    state.SetLabel(pages.value(DiaryHandwritingIndex::pageKey(day, 0)).text.toStdString());
    state.counters["recognitions"] = double(await(index.activity()).recognitions);
}
BENCHMARK(BM_Handwriting_RecognizeLeaf)->Unit(benchmark::kMillisecond)->Iterations(10);

// The part of a leaf's recognition that is ours: reading the file, decoding and drawing it.
void BM_Handwriting_RecognizeLeaf_ReadDecodeDraw(benchmark::State &state) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("2005-01-01-0.drawing"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(twoLinesOfWords().encode());
    file.close();
    for (auto _ : state) {
        const auto drawing = InkDrawing::decode(*InkDrawing::readFile(path));
        benchmark::DoNotOptimize(DiaryHandwritingIndex::recognitionImage(*drawing));
    }
}
BENCHMARK(BM_Handwriting_RecognizeLeaf_ReadDecodeDraw)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

// Baseline: Tesseract alone, on the same pixels.
void BM_Handwriting_RecognizeLeaf_Baseline_TesseractAlone(benchmark::State &state) {
    const auto image = DiaryHandwritingIndex::recognitionImage(twoLinesOfWords());
    auto recognizer = makeTesseractRecognizer();
    QString text;
    for (auto _ : state)
        text = recognizer->recognize(*image).value_or(QString());
    state.SetLabel(QStringLiteral("%1×%2 px: %3")
                       .arg(image->width())
                       .arg(image->height())
                       .arg(text)
                       .toStdString());
}
BENCHMARK(BM_Handwriting_RecognizeLeaf_Baseline_TesseractAlone)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

// The twenty-year diary in a real store, beside the twenty years of indexed handwriting.
struct TypedDiary {
    QTemporaryDir dir;
    std::unique_ptr<CoreDataDiaryRepository> repository;

    TypedDiary() {
        auto stack = std::make_shared<DiaryPersistenceStack>(
            dir.filePath(QStringLiteral("Diary.sqlite")),
            DiaryModelProvider::model(DiaryModelProvider::currentVersionName));
        repository =
            std::make_unique<CoreDataDiaryRepository>(stack, std::make_shared<SystemClock>());
        await(repository->replaceAll(bench::generateDiary()));
    }

    static TypedDiary &shared() {
        static TypedDiary diary;
        return diary;
    }
};

const char *const findQueries[] = {"the", bench::rareDiaryWord};

void BM_Recall_Find(benchmark::State &state) {
    DiaryRepository &repository = *TypedDiary::shared().repository;
    DiaryHandwritingIndex &index = loadedIndex();
    const QString query = QString::fromUtf8(findQueries[state.range(0)]);
    qsizetype results = 0;
    for (auto _ : state)
        results = await(findEntries(query, repository, index, 50)).size();
    state.SetLabel(query.toStdString());
    state.counters["results"] = double(results);
}
BENCHMARK(BM_Recall_Find)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(50);

// Baseline: the store's search alone.
void BM_Recall_Find_Baseline_StoreSearch(benchmark::State &state) {
    DiaryRepository &repository = *TypedDiary::shared().repository;
    const QString query = QString::fromUtf8(findQueries[state.range(0)]);
    qsizetype results = 0;
    for (auto _ : state)
        results = await(repository.search(query, 50)).size();
    state.SetLabel(query.toStdString());
    state.counters["results"] = double(results);
}
BENCHMARK(BM_Recall_Find_Baseline_StoreSearch)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(50);

// What opening the calendar card on a month asks: the month's written days and on this day,
// looking back over twenty years of typed and handwritten pages.
void BM_Recall_OpenCalendarMonth(benchmark::State &state) {
    DiaryRepository &repository = *TypedDiary::shared().repository;
    const DiaryHandwritingStore &handwriting = IndexedFolder::shared().store;
    const GregorianCalendar calendar = GregorianCalendar::utc();
    const QDateTime today(QDate(2024, 5, 17), QTime(12, 0), QTimeZone::utc());
    qsizetype items = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(await(repository.dayKeys(DayKey::fromCivilDate(2024, 5, 1),
                                                          DayKey::fromCivilDate(2024, 6, 1), 31)));
        items = await(loadOnThisDayItems(repository, handwriting, today, calendar)).items.size();
    }
    state.counters["on_this_day_items"] = double(items);
}
BENCHMARK(BM_Recall_OpenCalendarMonth)->Unit(benchmark::kMillisecond)->Iterations(50);

// Baseline: the month's written days alone.
void BM_Recall_OpenCalendarMonth_Baseline_MonthDays(benchmark::State &state) {
    DiaryRepository &repository = *TypedDiary::shared().repository;
    for (auto _ : state)
        benchmark::DoNotOptimize(await(repository.dayKeys(DayKey::fromCivilDate(2024, 5, 1),
                                                          DayKey::fromCivilDate(2024, 6, 1), 31)));
}
BENCHMARK(BM_Recall_OpenCalendarMonth_Baseline_MonthDays)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(50);

} // namespace
