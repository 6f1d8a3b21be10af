#include "domain/DayKey.h"
#include "domain/DiaryEntryDTO.h"
#include "platform/JsonCoding.h"

#include <benchmark/benchmark.h>

#include <QTimeZone>

using namespace velmora;

namespace {

DiaryEntryDTO sampleEntry(int contentBytes) {
    DiaryEntryDTO entry;
    entry.id = QUuid::createUuid();
    entry.dayKey = *DayKey::fromRawValue(QStringLiteral("2024-02-29"));
    entry.content = QString(contentBytes, QLatin1Char('a'));
    entry.fontName = QStringLiteral("Georgia");
    entry.bodyPointSize = 16;
    entry.status = DiaryEntryStatus::sealed;
    entry.originTimeZone = QStringLiteral("Europe/Paris");
    entry.createdAt = QDateTime::fromMSecsSinceEpoch(1709200000123, QTimeZone::utc());
    entry.updatedAt = entry.createdAt.addSecs(3600);
    entry.sealedAt = entry.updatedAt;
    entry.revision = DiaryRevision{42};
    return entry;
}

void BM_DayKeyParse(benchmark::State &state) {
    const QString texts[] = {QStringLiteral("2024-02-29"), QStringLiteral("2023-02-29"),
                             QStringLiteral("2024-1-05"), QStringLiteral("1999-12-31")};
    for (auto _ : state) {
        for (const auto &text : texts)
            benchmark::DoNotOptimize(DayKey::fromRawValue(text));
    }
    state.SetItemsProcessed(state.iterations() * 4);
}
BENCHMARK(BM_DayKeyParse);

void BM_EntryJsonRoundTrip(benchmark::State &state) {
    const DiaryEntryDTO entry = sampleEntry(int(state.range(0)));
    for (auto _ : state) {
        const QByteArray bytes = writeJson(entry.toJson(JsonDateEncoding::iso8601));
        benchmark::DoNotOptimize(
            DiaryEntryDTO::fromJson(parseJson(bytes), JsonDateEncoding::iso8601));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_EntryJsonRoundTrip)->Arg(1024)->Arg(10 * 1024);

} // namespace
