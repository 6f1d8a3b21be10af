#include "pagescreen/LeafInkFeed.h"

#include "ink/MacInkLibrary.h"
#include "pagescreen/PageScreenLogging.h"

#include <QPointer>

namespace velmora {

LeafInkFeed::LeafInkFeed(Deliver deliver, QObject *parent)
    : QObject(parent)
    , m_deliver(std::move(deliver)) {}

void LeafInkFeed::setLibrary(MacInkLibrary *library) {
    m_library = library;
    ++m_generation;
    m_answered = false;
    setInk(QImage());
    fetch();
}

void LeafInkFeed::show(const std::optional<LeafInkRequest> &request) {
    if (request == m_request)
        return;
    const bool sameLeaf =
        request && m_request && request->day == m_request->day && request->leaf == m_request->leaf;
    m_request = request;
    ++m_generation;
    m_answered = false;
    if (!sameLeaf)
        setInk(QImage());
    fetch();
}

void LeafInkFeed::reload() {
    ++m_generation;
    fetch();
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
}

void LeafInkFeed::setInk(const QImage &ink) {
    if (ink.isNull() && m_ink.isNull())
        return;
    m_ink = ink;
    if (m_deliver)
        m_deliver(m_ink);
}

} // namespace velmora
