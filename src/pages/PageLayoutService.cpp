#include "pages/PageLayoutService.h"

#include "pages/PagesLogging.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimeZone>

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

QList<PageDescriptor> PageLayoutService::sealedDescriptors(const DayKey &day,
                                                           const DiaryEntryDTO &entry,
                                                           const LeafLayoutMetrics &metrics) {
    const PageLayoutKey key{day,    entry.id, entry.revision, entry.fontName, entry.bodyPointSize,
                            metrics};
    if (auto cached = m_cache->value(key))
        return *cached;

    const double scaled = entry.bodyPointSize * metrics.readingScale;
    const QFont font = resolveDiaryFont(resolvedFontName(entry.fontName), scaled >= 1 ? scaled : 1);
    const TextAttributes attributes =
        makeRuledTextAttributes(font, ruledLineHeight(font.pointSizeF()));
    QList<UTF16TextRange> ranges =
        m_paginator->leafRanges(entry.content, attributes, metrics.width, metrics.height,
                                metrics.horizontalInset, metrics.verticalInset);
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
    m_cache->insert(leaves, key, leaves.size());
    return leaves;
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
