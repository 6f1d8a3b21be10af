#pragma once

#include "domain/DayKey.h"

#include <QImage>
#include <QList>
#include <QObject>

#include <QCoroTask>

#include <functional>
#include <optional>
#include <utility>

namespace velmora {

class MacInkLibrary;

// Which leaf's handwriting a surface shows, and at what size.
struct LeafInkRequest {
    DayKey day;
    qint64 leaf = 0;
    double lineHeight = 0;
    double width = 0;

    bool operator==(const LeafInkRequest &) const = default;
};

// Brings one surface of the page the handwriting of the leaf it shows. The ink library answers
// off the GUI thread, so an answer can arrive after the surface has moved on: an answer for
// anything but the latest request is dropped. A leaf without drawable handwriting, or one whose
// image could not be made, clears the surface's ink.
//
// It also fetches ahead the leaves a turn can reach next, so that a turn, which cannot wait for
// the disk, finds their ink already known.
class LeafInkFeed : public QObject {
    Q_OBJECT

public:
    using Deliver = std::function<void(const QImage &ink)>;

    explicit LeafInkFeed(Deliver deliver, QObject *parent = nullptr);

    // Without a library every leaf shows no handwriting. The library must outlive the feed.
    void setLibrary(MacInkLibrary *library);

    // Asks for the handwriting of `request`, unless it is the one already shown or asked for.
    // Another leaf's ink is cleared at once, so it never shows over this leaf's text, unless it
    // was fetched ahead; the same leaf at another size keeps its ink until the new image
    // arrives.
    void show(const std::optional<LeafInkRequest> &request);
    // Asks again for the shown leaf, whose drawing file may have changed; what was fetched ahead
    // is fetched again.
    void reload();

    // The leaves to fetch ahead, one at a time on the library's worker for them, once the shown
    // leaf has its answer. Those of an earlier list not yet fetched are not, and answers for
    // them are dropped; the latest few answers are kept.
    void fetchAhead(const QList<LeafInkRequest> &requests);
    // The ink known for a leaf without going to the disk: the shown leaf's, or one fetched ahead.
    QImage knownInk(const LeafInkRequest &request) const;
    // Whether every leaf to fetch ahead has its answer.
    bool isAheadFetched() const;
    const QList<LeafInkRequest> &aheadRequests() const { return m_ahead; }

    const std::optional<LeafInkRequest> &request() const { return m_request; }
    // The ink shown for the current request; null while none is known.
    const QImage &ink() const { return m_ink; }
    // Whether the current request has been answered.
    bool isAnswered() const { return m_answered; }

private:
    void fetch();
    QCoro::Task<void> fetchTask(LeafInkRequest request, quint64 generation);
    void setInk(const QImage &ink);
    const QImage *aheadInk(const LeafInkRequest &request) const;
    void startFetchingAhead();
    QCoro::Task<void> fetchAheadTask();

    Deliver m_deliver;
    MacInkLibrary *m_library = nullptr;
    std::optional<LeafInkRequest> m_request;
    QImage m_ink;
    bool m_answered = false;
    // Counts requests, so that an answer can tell whether it is still wanted.
    quint64 m_generation = 0;

    QList<LeafInkRequest> m_ahead;
    // The latest answers, oldest first; a null image for a leaf without ink.
    QList<std::pair<LeafInkRequest, QImage>> m_aheadInk;
    // Counts lists to fetch ahead, so that an answer for an earlier one is dropped.
    quint64 m_aheadGeneration = 0;
    bool m_fetchingAhead = false;
};

} // namespace velmora
