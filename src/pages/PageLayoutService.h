#pragma once

#include "domain/DiaryEntryDTO.h"
#include "pages/BoundedPageCache.h"
#include "pages/LeafPaginating.h"
#include "pages/PageDescriptor.h"

#include <QCoroTask>
#include <QList>

#include <memory>
#include <optional>

namespace velmora {

using PageLayoutCache = BoundedPageCache<PageLayoutKey, QList<PageDescriptor>>;

// Turns a day and its entry into the day's leaves. Only sealed entries are split and cached:
// their text no longer changes, while a draft changes with every keystroke.
class PageLayoutService {
public:
    static constexpr qint64 layoutCacheCostLimit = 64;

    PageLayoutService(std::shared_ptr<const LeafPaginating> paginator,
                      std::shared_ptr<PageLayoutCache> cache);

    // At least one descriptor, in leaf order. The font name and size serve only a blank day.
    QList<PageDescriptor> descriptors(const DayKey &day, const std::optional<DiaryEntryDTO> &entry,
                                      const LeafLayoutMetrics &metrics, const QString &fontName,
                                      double bodyPointSize);

    // The same leaves, when they are known without laying any text out: a day without an entry
    // or with a draft has one leaf, a sealed entry has its leaves once laid out at `metrics`.
    std::optional<QList<PageDescriptor>> knownDescriptors(const DayKey &day,
                                                          const std::optional<DiaryEntryDTO> &entry,
                                                          const LeafLayoutMetrics &metrics,
                                                          const QString &fontName,
                                                          double bodyPointSize);
    // The same leaves, a sealed entry laid out on a worker thread, so a day not shown yet can be
    // laid out ahead without stalling the window. What it lays out is kept for the GUI thread's
    // own layout of that day. Resumes on the calling (GUI) thread.
    QCoro::Task<QList<PageDescriptor>>
    descriptorsInBackground(DayKey day, std::optional<DiaryEntryDTO> entry,
                            LeafLayoutMetrics metrics, QString fontName, double bodyPointSize);

    static bool isValidPartition(const QList<UTF16TextRange> &ranges, qint64 utf16Count);

    // The line height of the ruled surface for a font of this size.
    static double ruledLineHeight(double pointSize);

    const PageLayoutCache &cache() const { return *m_cache; }

private:
    static PageDescriptor makeBlankDescriptor(const DayKey &day, const QString &fontName,
                                              double bodyPointSize);
    static PageDescriptor makeDraftDescriptor(const DayKey &day, const DiaryEntryDTO &entry);
    QList<PageDescriptor> sealedDescriptors(const DayKey &day, const DiaryEntryDTO &entry,
                                            const LeafLayoutMetrics &metrics);
    static TextAttributes sealedAttributes(const DiaryEntryDTO &entry,
                                           const LeafLayoutMetrics &metrics);
    static QList<PageDescriptor> sealedLeaves(const DayKey &day, const DiaryEntryDTO &entry,
                                              QList<UTF16TextRange> ranges);
    static PageLayoutKey layoutKey(const DayKey &day, const DiaryEntryDTO &entry,
                                   const LeafLayoutMetrics &metrics);

    std::shared_ptr<const LeafPaginating> m_paginator;
    std::shared_ptr<PageLayoutCache> m_cache;
};

} // namespace velmora
