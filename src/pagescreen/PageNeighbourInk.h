#pragma once

#include "domain/DayKey.h"
#include "pages/PageDescriptor.h"
#include "pages/PageTransitionState.h"
#include "pagescreen/LeafInkFeed.h"

#include <QCoroTask>
#include <QImage>
#include <QList>
#include <QObject>

#include <functional>
#include <optional>

namespace velmora {

class VuzIvoduPageView;

// A leaf's ink at the size its reading leaf and its turn picture draw it.
LeafInkRequest readingLeafInkRequest(const PageDescriptor &descriptor, double readingScale);

// The handwriting of the leaves a turn can reach next, fetched ahead by the page's two ink
// feeds (the editor's and the reading leaf's) so that a turn, which cannot wait for the disk,
// finds it known. Which leaf of a neighbouring day a turn lands on is known once that day is
// read and laid out, off the GUI thread; until then nothing is fetched for its picture rather
// than a leaf the turn may not show.
class PageNeighbourInk : public QObject {
    Q_OBJECT

public:
    // `editorLineHeight` gives the editor's line height, at which its ink is drawn.
    PageNeighbourInk(VuzIvoduPageView &page, LeafInkFeed &editorInk, LeafInkFeed &readingInk,
                     std::function<double()> editorLineHeight, QObject *parent = nullptr);

    // Fetches ahead for the leaf shown now; call after the shown leaf's own requests.
    void fetch();
    // The neighbouring days may have changed (synced pages): they are read again.
    void forgetArrivingLeaves() { m_arrivingLeaves.clear(); }
    // Whether the leaves a turn can reach next are known and their ink fetched.
    bool isFetched() const;
    // The ink of a leaf drawn for a turn, as fetched for the page or ahead of it; null if none.
    QImage knownInk(const LeafInkRequest &request) const;

private:
    QCoro::Task<void> findArrivingLeaf(DayKey day, PageTurnDirection direction, quint64 search);
    LeafInkRequest readingRequest(const PageDescriptor &descriptor) const;

    VuzIvoduPageView &m_page;
    LeafInkFeed &m_editorInk;
    LeafInkFeed &m_readingInk;
    std::function<double()> m_editorLineHeight;
    // The leaves turns into the neighbouring days land on (the day before ends on its last
    // leaf), each as laid out at `metrics`; none until its day is read and laid out, or when
    // that failed.
    struct ArrivingLeaf {
        DayKey day;
        PageTurnDirection direction;
        LeafLayoutMetrics metrics;
        std::optional<PageDescriptor> leaf;
        // Which search finds it, so that a search begun before the days changed is dropped.
        quint64 search = 0;
        bool searched = false;
    };
    QList<ArrivingLeaf> m_arrivingLeaves;
    quint64 m_arrivingSearches = 0;
};

} // namespace velmora
