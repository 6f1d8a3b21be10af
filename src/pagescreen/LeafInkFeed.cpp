#include "pagescreen/LeafInkFeed.h"

#include "ink/MacInkLibrary.h"
#include "pagescreen/PageScreenLogging.h"

#include <QPointer>

#include <algorithm>

namespace velmora {

namespace {

// Answers kept from fetching ahead: the two neighbours of the leaf shown and of the one before,
// since a turn moves to the new leaf in steps.
constexpr qsizetype aheadLimit = 4;

} // namespace

LeafInkFeed::LeafInkFeed(Deliver deliver, QObject *parent)
    : QObject(parent)
    , m_deliver(std::move(deliver)) {}

void LeafInkFeed::setLibrary(MacInkLibrary *library) {
    m_library = library;
    setInk(QImage());
    reload();
}

void LeafInkFeed::show(const std::optional<LeafInkRequest> &request) {
    if (request == m_request)
        return;
    const bool sameLeaf =
        request && m_request && request->day == m_request->day && request->leaf == m_request->leaf;
    m_request = request;
    ++m_generation;
    m_answered = false;
    if (const QImage *ahead = request ? aheadInk(*request) : nullptr)
        setInk(*ahead);
    else if (!sameLeaf)
        setInk(QImage());
    fetch();
}

void LeafInkFeed::reload() {
    ++m_generation;
    m_answered = false;
    ++m_aheadGeneration;
    m_aheadInk.clear();
    fetch();
    startFetchingAhead();
}

void LeafInkFeed::fetch() {
    if (!m_library || !m_request)
        return;
    auto task = fetchTask(*m_request, m_generation);
    Q_UNUSED(task)
}

QCoro::Task<void> LeafInkFeed::fetchTask(LeafInkRequest request, quint64 generation) {
    const QPointer<LeafInkFeed> self(this);
    QImage ink;
    try {
        auto asking =
            m_library->image(request.day, request.leaf, request.lineHeight, request.width);
        if (const std::optional<QImage> image = co_await asking)
            ink = *image;
    } catch (const std::exception &failure) {
        qCWarning(lcPageScreen) << "The handwriting of" << request.day.rawValue() << "leaf"
                                << request.leaf << "is not shown:" << failure.what();
    }
    if (!self || generation != m_generation)
        co_return;
    m_answered = true;
    setInk(ink);
    startFetchingAhead();
}

void LeafInkFeed::setInk(const QImage &ink) {
    // The image fetched ahead comes again as the answer: nothing changes.
    if (ink.isNull() ? m_ink.isNull() : ink.cacheKey() == m_ink.cacheKey())
        return;
    m_ink = ink;
    if (m_deliver)
        m_deliver(m_ink);
}

// --- Fetching ahead ---------------------------------------------------------------------------

void LeafInkFeed::fetchAhead(const QList<LeafInkRequest> &requests) {
    if (requests == m_ahead)
        return;
    m_ahead = requests;
    ++m_aheadGeneration;
    startFetchingAhead();
}

const QImage *LeafInkFeed::aheadInk(const LeafInkRequest &request) const {
    const auto known = std::find_if(m_aheadInk.cbegin(), m_aheadInk.cend(),
                                    [&](const auto &entry) { return entry.first == request; });
    return known == m_aheadInk.cend() ? nullptr : &known->second;
}

QImage LeafInkFeed::knownInk(const LeafInkRequest &request) const {
    if (request == m_request)
        return m_ink;
    const QImage *ahead = aheadInk(request);
    return ahead ? *ahead : QImage();
}

bool LeafInkFeed::isAheadFetched() const {
    return std::all_of(m_ahead.cbegin(), m_ahead.cend(),
                       [&](const LeafInkRequest &request) { return aheadInk(request); });
}

void LeafInkFeed::startFetchingAhead() {
    if (!m_library || m_fetchingAhead || (m_request && !m_answered) || isAheadFetched())
        return;
    auto task = fetchAheadTask();
    Q_UNUSED(task)
}

QCoro::Task<void> LeafInkFeed::fetchAheadTask() {
    const QPointer<LeafInkFeed> self(this);
    m_fetchingAhead = true;
    // One leaf at a time, each time from the latest list, and never while the shown leaf waits
    // for its own answer (which then starts this again).
    while (m_library && !(m_request && !m_answered)) {
        const auto next =
            std::find_if(m_ahead.cbegin(), m_ahead.cend(),
                         [&](const LeafInkRequest &request) { return !aheadInk(request); });
        if (next == m_ahead.cend())
            break;
        const LeafInkRequest request = *next;
        const quint64 generation = m_aheadGeneration;
        QImage ink;
        try {
            auto asking = m_library->image(request.day, request.leaf, request.lineHeight,
                                           request.width, MacInkLibrary::Urgency::ahead);
            if (const std::optional<QImage> image = co_await asking)
                ink = *image;
        } catch (const std::exception &failure) {
            qCInfo(lcPageScreen) << "The handwriting of" << request.day.rawValue() << "leaf"
                                 << request.leaf << "is not fetched ahead:" << failure.what();
        }
        if (!self)
            co_return;
        if (generation != m_aheadGeneration)
            continue;
        m_aheadInk.append({request, ink});
        if (m_aheadInk.size() > aheadLimit)
            m_aheadInk.removeFirst();
    }
    m_fetchingAhead = false;
}

} // namespace velmora
