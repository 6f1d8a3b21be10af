#include "pages/PageLayoutService.h"

#include "pages/PagesLogging.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QThread>
#include <QTimeZone>
#include <QtConcurrent/QtConcurrentRun>

#include <cmath>

namespace velmora {

PageLayoutService::PageLayoutService(std::shared_ptr<const LeafPaginating> paginator,
                                     std::shared_ptr<PageLayoutCache> cache)
    : m_paginator(std::move(paginator))
    , m_cache(std::move(cache)) {}

QList<PageDescriptor> PageLayoutService::descriptors(const DayKey &day,
                                                     const std::optional<DiaryEntryDTO> &entry,
                                                     const LeafLayoutMetrics &metrics,
                                                     const QString &fontName,
                                                     double bodyPointSize) {
    // The cache has no lock: every caller stays on the GUI thread.
    Q_ASSERT_X(!QCoreApplication::instance() ||
                   QThread::currentThread() == QCoreApplication::instance()->thread(),
               "PageLayoutService", "a layout was asked for off the GUI thread");
    if (!entry)
        return {makeBlankDescriptor(day, fontName, bodyPointSize)};
    if (!entry->isSealed())
        return {makeDraftDescriptor(day, *entry)};
    return sealedDescriptors(day, *entry, metrics);
}

PageDescriptor PageLayoutService::makeBlankDescriptor(const DayKey &day, const QString &fontName,
                                                      double bodyPointSize) {
    PageDescriptor blank;
    blank.id = PageDescriptorID{day, std::nullopt, 0};
    blank.dayKey = day;
    blank.fontName = fontName;
    blank.bodyPointSize = bodyPointSize;
    blank.kind = PageKind::blank;
    blank.originTimeZone = QString::fromUtf8(QTimeZone::systemTimeZoneId());
    return blank;
}

PageDescriptor PageLayoutService::makeDraftDescriptor(const DayKey &day,
                                                      const DiaryEntryDTO &entry) {
    PageDescriptor draft;
    draft.id = PageDescriptorID{day, entry.revision, 0};
    draft.entryID = entry.id;
    draft.dayKey = day;
    draft.contentRange = UTF16TextRange{0, entry.content.size()};
    draft.content = entry.content;
    draft.fontName = entry.fontName;
    draft.bodyPointSize = entry.bodyPointSize;
    draft.kind = PageKind::draft;
    draft.originTimeZone = entry.originTimeZone;
    draft.createdAt = entry.createdAt;
    draft.sealedAt = entry.sealedAt;
    return draft;
}

double PageLayoutService::ruledLineHeight(double pointSize) {
    return std::max(std::round(pointSize * 1.6), 40.0);
}

PageLayoutKey PageLayoutService::layoutKey(const DayKey &day, const DiaryEntryDTO &entry,
                                           const LeafLayoutMetrics &metrics) {
    return PageLayoutKey{day,    entry.id, entry.revision, entry.fontName, entry.bodyPointSize,
                         metrics};
}

TextAttributes PageLayoutService::sealedAttributes(const DiaryEntryDTO &entry,
                                                   const LeafLayoutMetrics &metrics) {
    const double scaled = entry.bodyPointSize * metrics.readingScale;
    const QFont font = resolveDiaryFont(resolvedFontName(entry.fontName), scaled >= 1 ? scaled : 1);
    return makeRuledTextAttributes(font, ruledLineHeight(font.pointSizeF()));
}

QList<PageDescriptor> PageLayoutService::sealedLeaves(const DayKey &day, const DiaryEntryDTO &entry,
                                                      QList<UTF16TextRange> ranges) {
    if (!isValidPartition(ranges, entry.content.size())) {
        qCWarning(lcPages) << "The paginator's leaves do not cover the entry of" << day.rawValue()
                           << "- showing it on one leaf";
        ranges = {UTF16TextRange{0, entry.content.size()}};
    }

    QList<PageDescriptor> leaves;
    leaves.reserve(ranges.size());
    const PageDescriptor whole = makeDraftDescriptor(day, entry);
    for (qsizetype i = 0; i < ranges.size(); ++i) {
        PageDescriptor leaf = whole;
        leaf.id.leafIndex = i;
        leaf.leafIndex = i;
        leaf.leafCount = ranges.size();
        leaf.contentRange = ranges[i];
        leaf.content = entry.content.mid(ranges[i].location, ranges[i].length);
        leaf.kind = PageKind::sealed;
        leaves.append(leaf);
    }
    return leaves;
}

QList<PageDescriptor> PageLayoutService::sealedDescriptors(const DayKey &day,
                                                           const DiaryEntryDTO &entry,
                                                           const LeafLayoutMetrics &metrics) {
    const PageLayoutKey key = layoutKey(day, entry, metrics);
    if (auto cached = m_cache->value(key))
        return *cached;

    QList<PageDescriptor> leaves = sealedLeaves(
        day, entry,
        m_paginator->leafRanges(entry.content, sealedAttributes(entry, metrics), metrics.width,
                                metrics.height, metrics.horizontalInset, metrics.verticalInset));
    m_cache->insert(leaves, key, leaves.size());
    return leaves;
}

std::optional<QList<PageDescriptor>>
PageLayoutService::knownDescriptors(const DayKey &day, const std::optional<DiaryEntryDTO> &entry,
                                    const LeafLayoutMetrics &metrics, const QString &fontName,
                                    double bodyPointSize) {
    if (!entry || !entry->isSealed())
        return descriptors(day, entry, metrics, fontName, bodyPointSize);
    return m_cache->value(layoutKey(day, *entry, metrics));
}

QCoro::Task<QList<PageDescriptor>>
PageLayoutService::descriptorsInBackground(DayKey day, std::optional<DiaryEntryDTO> entry,
                                           LeafLayoutMetrics metrics, QString fontName,
                                           double bodyPointSize) {
    if (auto known = knownDescriptors(day, entry, metrics, fontName, bodyPointSize))
        co_return *known;
    // The font is resolved here, where the font database is set up; the worker only measures.
    auto laying = QtConcurrent::run([paginator = m_paginator, content = entry->content,
                                     attributes = sealedAttributes(*entry, metrics), metrics] {
        return paginator->leafRanges(content, attributes, metrics.width, metrics.height,
                                     metrics.horizontalInset, metrics.verticalInset);
    });
    QList<UTF16TextRange> ranges = co_await laying;
    // The same day may have been laid out meanwhile; its leaves are the same.
    const PageLayoutKey key = layoutKey(day, *entry, metrics);
    if (auto cached = m_cache->value(key))
        co_return *cached;
    QList<PageDescriptor> leaves = sealedLeaves(day, *entry, std::move(ranges));
    m_cache->insert(leaves, key, leaves.size());
    co_return leaves;
}

bool PageLayoutService::isValidPartition(const QList<UTF16TextRange> &ranges, qint64 utf16Count) {
    if (ranges.isEmpty())
        return false;
    qint64 end = 0;
    for (const UTF16TextRange &range : ranges) {
        if (range.location != end)
            return false;
        if (range.length < 1 && utf16Count != 0)
            return false;
        // Guards the running end against overflow as well as against passing the text.
        if (range.length < 0 || range.length > utf16Count - end)
            return false;
        end += range.length;
    }
    return end == utf16Count;
}

} // namespace velmora
