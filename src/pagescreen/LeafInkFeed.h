#pragma once

#include "domain/DayKey.h"

#include <QImage>
#include <QObject>

#include <QCoroTask>

#include <functional>
#include <optional>

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
class LeafInkFeed : public QObject {
    Q_OBJECT

public:
    using Deliver = std::function<void(const QImage &ink)>;

    explicit LeafInkFeed(Deliver deliver, QObject *parent = nullptr);

    // Without a library every leaf shows no handwriting. The library must outlive the feed.
    void setLibrary(MacInkLibrary *library);

    // Asks for the handwriting of `request`, unless it is the one already shown or asked for.
    // Another leaf's ink is cleared at once, so it never shows over this leaf's text; the same
    // leaf at another size keeps its ink until the new image arrives.
    void show(const std::optional<LeafInkRequest> &request);
    // Asks again for the shown leaf, whose drawing file may have changed.
    void reload();

    const std::optional<LeafInkRequest> &request() const { return m_request; }
    // The ink shown for the current request; null while none is known.
    const QImage &ink() const { return m_ink; }
    // Whether the current request has been answered.
    bool isAnswered() const { return m_answered; }

private:
    void fetch();
    QCoro::Task<void> fetchTask(LeafInkRequest request, quint64 generation);
    void setInk(const QImage &ink);

    Deliver m_deliver;
    MacInkLibrary *m_library = nullptr;
    std::optional<LeafInkRequest> m_request;
    QImage m_ink;
    bool m_answered = false;
    // Counts requests, so that an answer can tell whether it is still wanted.
    quint64 m_generation = 0;
};

} // namespace velmora
