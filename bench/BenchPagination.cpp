#include "pages/MacTextKitLeafPaginator.h"
#include "pages/PageLayoutService.h"

#include <benchmark/benchmark.h>

#include <QAbstractTextDocumentLayout>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimeZone>

using namespace velmora;

namespace {

// The page screen's writing area at the default size.
const LeafLayoutMetrics writingArea{696, 840, 0, 0, 0, 1};

// Diary-like prose of about `bytes` UTF-8 bytes: sentences of varied words, paragraphs of a few
// sentences, now and then an accent or an emoji.
QString diaryProse(qsizetype bytes) {
    static const char *const words[] = {
        "the",      "morning", "rain",    "kept",    "on",     "and",     "I",      "wrote",
        "by",       "window",  "café",    "letters", "my",     "sister",  "walked", "through",
        "garden",   "quiet",   "still",   "evening", "before", "supper",  "naïve",  "thoughts",
        "tomorrow", "perhaps", "🌧️", "light",   "over",   "harbour", "we",     "laughed"};
    QByteArray text;
    quint32 state = 12345;
    const auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    int sentence = 0;
    while (text.size() < bytes) {
        const int length = 6 + int(next() % 14);
        for (int i = 0; i < length; ++i) {
            QByteArray word = words[next() % std::size(words)];
            if (i == 0 && word[0] >= 'a' && word[0] <= 'z')
                word[0] = char(word[0] - 'a' + 'A');
            text += word;
            text += i + 1 < length ? " " : ". ";
        }
        if (++sentence % 5 == 0)
            text += "\n";
    }
    return QString::fromUtf8(text);
}

DiaryEntryDTO sealedEntry(qsizetype bytes) {
    DiaryEntryDTO entry;
    entry.id = QUuid::createUuid();
    entry.dayKey = *DayKey::fromRawValue(QStringLiteral("2024-03-01"));
    entry.content = diaryProse(bytes);
    entry.fontName = QStringLiteral("Georgia");
    entry.bodyPointSize = 16;
    entry.status = DiaryEntryStatus::sealed;
    entry.originTimeZone = QStringLiteral("Europe/Paris");
    entry.createdAt = QDateTime::fromMSecsSinceEpoch(1709200000123, QTimeZone::utc());
    entry.updatedAt = entry.createdAt;
    entry.sealedAt = entry.createdAt;
    entry.revision = DiaryRevision{1};
    return entry;
}

PageLayoutService makeService() {
    return PageLayoutService(
        std::make_shared<MacTextKitLeafPaginator>(),
        std::make_shared<PageLayoutCache>(PageLayoutService::layoutCacheCostLimit));
}

// Every iteration lays the entry out afresh: a new revision misses the cache.
void BM_PaginateSealedEntry(benchmark::State &state) {
    PageLayoutService service = makeService();
    DiaryEntryDTO entry = sealedEntry(state.range(0));
    qint64 leaves = 0;
    for (auto _ : state) {
        ++entry.revision.rawValue;
        leaves = service.descriptors(entry.dayKey, entry, writingArea, QString(), 16).size();
    }
    state.counters["leaves"] = double(leaves);
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PaginateSealedEntry)
    ->Arg(10 * 1024)
    ->Arg(40 * 1024)
    ->Arg(160 * 1024)
    ->Arg(100 * 1024)
    ->Unit(benchmark::kMillisecond);

// Text with no break opportunity (pasted data, a held-down key, words glued by no-break
// spaces) must stay linear too.
void BM_PaginateUnbrokenText(benchmark::State &state) {
    PageLayoutService service = makeService();
    DiaryEntryDTO entry = sealedEntry(0);
    const QString piece = state.range(1) ? QStringLiteral("ab\u00A0") : QStringLiteral("x");
    entry.content = piece.repeated(state.range(0) / piece.size());
    for (auto _ : state) {
        ++entry.revision.rawValue;
        benchmark::DoNotOptimize(
            service.descriptors(entry.dayKey, entry, writingArea, QString(), 16));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PaginateUnbrokenText)
    ->ArgNames({"length", "glued"})
    ->Args({10 * 1024, 0})
    ->Args({160 * 1024, 0})
    ->Args({10 * 1024, 1})
    ->Args({160 * 1024, 1})
    ->Unit(benchmark::kMillisecond);

// Scripts that write without spaces: every syllable or word is a break opportunity, but no
// white space cuts the paragraph, which the layout alone handles in more than linear time.
void BM_PaginateUnspacedScript(benchmark::State &state) {
    PageLayoutService service = makeService();
    DiaryEntryDTO entry = sealedEntry(0);
    const QString piece = state.range(1) ? QStringLiteral("วันนี้อากาศดีมากฉันไปเดินเล่น")
                                         : QStringLiteral("한국어문장입니다");
    entry.content = piece.repeated(state.range(0) / piece.size());
    for (auto _ : state) {
        ++entry.revision.rawValue;
        benchmark::DoNotOptimize(
            service.descriptors(entry.dayKey, entry, writingArea, QString(), 16));
    }
    state.SetItemsProcessed(state.iterations() * entry.content.size());
}
BENCHMARK(BM_PaginateUnspacedScript)
    ->ArgNames({"characters", "thai"})
    ->Args({50 * 1000, 0})
    ->Args({200 * 1000, 0})
    ->Args({50 * 1000, 1})
    ->Args({200 * 1000, 1})
    ->Unit(benchmark::kMillisecond);

// The baseline: the same text laid out as one paragraph by QTextLayout alone.
void BM_UnspacedScriptWholeLayoutBaseline(benchmark::State &state) {
    const QString piece = state.range(1) ? QStringLiteral("วันนี้อากาศดีมากฉันไปเดินเล่น")
                                         : QStringLiteral("한국어문장입니다");
    const QString text = piece.repeated(state.range(0) / piece.size());
    QImage device = MacTextKitLeafPaginator::pointPaintDevice();
    const QFont font = resolveDiaryFont(resolvedFontName(QStringLiteral("Georgia")), 16);
    for (auto _ : state) {
        QTextLayout layout(text, font, &device);
        layout.setCacheEnabled(false);
        layout.beginLayout();
        int lines = 0;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(writingArea.width);
            ++lines;
        }
        layout.endLayout();
        benchmark::DoNotOptimize(lines);
    }
}
BENCHMARK(BM_UnspacedScriptWholeLayoutBaseline)
    ->ArgNames({"characters", "thai"})
    ->Args({50 * 1000, 0})
    ->Args({200 * 1000, 0})
    ->Args({50 * 1000, 1})
    ->Args({200 * 1000, 1})
    ->Unit(benchmark::kMillisecond);

void BM_PaginateCacheHit(benchmark::State &state) {
    PageLayoutService service = makeService();
    const DiaryEntryDTO entry = sealedEntry(state.range(0));
    service.descriptors(entry.dayKey, entry, writingArea, QString(), 16);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            service.descriptors(entry.dayKey, entry, writingArea, QString(), 16));
}
BENCHMARK(BM_PaginateCacheHit)->Arg(10 * 1024)->Arg(100 * 1024)->Unit(benchmark::kMicrosecond);

// The baseline: Qt's own document layout of the same text on pages of the same size.
void BM_QTextDocumentLayoutBaseline(benchmark::State &state) {
    const DiaryEntryDTO entry = sealedEntry(state.range(0));
    QImage device = MacTextKitLeafPaginator::pointPaintDevice();
    const QFont font = resolveDiaryFont(resolvedFontName(entry.fontName), 16);
    int pages = 0;
    for (auto _ : state) {
        QTextDocument document;
        document.documentLayout()->setPaintDevice(&device);
        document.setDefaultFont(font);
        document.setDocumentMargin(0);
        document.setPageSize(QSizeF(writingArea.width, writingArea.height));
        document.setPlainText(entry.content);
        pages = document.pageCount();
    }
    state.counters["pages"] = pages;
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_QTextDocumentLayoutBaseline)
    ->Arg(10 * 1024)
    ->Arg(40 * 1024)
    ->Arg(160 * 1024)
    ->Arg(100 * 1024)
    ->Unit(benchmark::kMillisecond);

} // namespace
