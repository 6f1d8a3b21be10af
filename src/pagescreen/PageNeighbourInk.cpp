#include "pagescreen/PageNeighbourInk.h"

#include "book/theme/DiaryTheme.h"
#include "pagescreen/PageScreenLogging.h"
#include "pagescreen/VuzIvoduPageView.h"

#include <QPointer>

#include <algorithm>

namespace velmora {

LeafInkRequest readingLeafInkRequest(const PageDescriptor &descriptor, double readingScale) {
    const QFont font = resolveDiaryFont(resolvedFontName(descriptor.fontName),
                                        descriptor.bodyPointSize * readingScale);
    return LeafInkRequest{descriptor.dayKey, descriptor.leafIndex,
                          VuzIvoduPageView::lineHeight(font.pointSizeF()),
                          VuzIvoduPageView::writingWidth};
}

PageNeighbourInk::PageNeighbourInk(VuzIvoduPageView &page, LeafInkFeed &editorInk,
                                   LeafInkFeed &readingInk,
                                   std::function<double()> editorLineHeight, QObject *parent)
    : QObject(parent)
    , m_page(page)
    , m_editorInk(editorInk)
    , m_readingInk(readingInk)
    , m_editorLineHeight(std::move(editorLineHeight)) {}

LeafInkRequest PageNeighbourInk::readingRequest(const PageDescriptor &descriptor) const {
    return readingLeafInkRequest(descriptor, m_page.settings().readingScale());
}

QImage PageNeighbourInk::knownInk(const LeafInkRequest &request) const {
    for (const LeafInkFeed *feed : {&m_editorInk, &m_readingInk})
        if (const QImage ink = feed->knownInk(request); !ink.isNull())
            return ink;
    return QImage();
}

void PageNeighbourInk::fetch() {
    const DayKey shown = m_page.session().selectedDay();
    // Midway through a change of day the leaves are still the old day's; the new ones follow.
    const auto current = m_page.pageSystem().selectedDescriptor();
    if (!current || current->dayKey != shown)
        return;
    const LeafLayoutMetrics &metrics = m_page.pageSystem().metrics();
    QList<LeafInkRequest> pictures;
    QList<LeafInkRequest> editors;
    QList<ArrivingLeaf> arriving;
    for (const auto direction : {PageTurnDirection::forward, PageTurnDirection::backward}) {
        const auto target = m_page.adjacentDescriptor(direction);
        if (!target)
            continue;
        if (target->dayKey == shown) {
            pictures.append(readingRequest(*target));
            continue;
        }
        editors.append(LeafInkRequest{target->dayKey, 0, m_editorLineHeight(),
                                      VuzIvoduPageView::writingWidth});
        const auto known = std::find_if(
            m_arrivingLeaves.cbegin(), m_arrivingLeaves.cend(), [&](const ArrivingLeaf &leaf) {
                return leaf.day == target->dayKey && leaf.direction == direction &&
                       leaf.metrics == metrics;
            });
        if (known == m_arrivingLeaves.cend()) {
            const quint64 search = ++m_arrivingSearches;
            arriving.append(
                ArrivingLeaf{target->dayKey, direction, metrics, std::nullopt, search, false});
            auto finding = findArrivingLeaf(target->dayKey, direction, search);
            Q_UNUSED(finding)
        } else {
            arriving.append(*known);
            // Only a sealed leaf is drawn with the reading leaf's ink.
            if (known->leaf && known->leaf->kind == PageKind::sealed)
                pictures.append(readingRequest(*known->leaf));
        }
    }
    m_arrivingLeaves = arriving;
    m_readingInk.fetchAhead(pictures);
    m_editorInk.fetchAhead(editors);
}

QCoro::Task<void> PageNeighbourInk::findArrivingLeaf(DayKey day, PageTurnDirection direction,
                                                     quint64 search) {
    const QPointer<PageNeighbourInk> self(this);
    std::optional<PageDescriptor> leaf;
    try {
        auto finding = m_page.pageSystem().arrivingLeaf(day, direction);
        leaf = co_await finding;
    } catch (const std::exception &failure) {
        qCInfo(lcPageScreen) << "The leaf a turn into" << day.rawValue()
                             << "lands on is not known:" << failure.what();
    }
    if (!self)
        co_return;
    // Dropped when the page has moved on from this neighbour meanwhile.
    const auto wanted =
        std::find_if(m_arrivingLeaves.begin(), m_arrivingLeaves.end(),
                     [&](const ArrivingLeaf &known) { return known.search == search; });
    if (wanted == m_arrivingLeaves.end())
        co_return;
    wanted->leaf = leaf;
    wanted->searched = true;
    fetch();
}

bool PageNeighbourInk::isFetched() const {
    return std::all_of(m_arrivingLeaves.cbegin(), m_arrivingLeaves.cend(),
                       [](const ArrivingLeaf &known) { return known.searched; }) &&
           m_editorInk.isAheadFetched() && m_readingInk.isAheadFetched();
}

} // namespace velmora
