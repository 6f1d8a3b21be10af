#pragma once

#include "domain/DayKey.h"
#include "store/DiaryHandwritingStore.h"

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QSet>
#include <QString>

#include <QCoroTask>

#include <memory>
#include <optional>

namespace velmora {

// Turns a leaf's drawing file into the image drawn under the leaf's typed text, and remembers
// it by file version and size so page turns do not decode and draw the same file again. Leaves
// whose file holds nothing drawable are remembered too, and not read again until the file
// changes.
//
// Asked on the GUI thread; the file's attributes are read, and the file decoded and drawn, on
// the library's own workers, so a large drawing never stalls the window.
class MacInkLibrary {
public:
    // Leaves on screen have a worker of their own, so fetching ahead never holds them up.
    enum class Urgency { shown, ahead };

    // The width of a page's writing area, which callers pass as `width`.
    static constexpr double pageWidth = 696;
    // The line height of text of the given point size, which callers pass as `lineHeight` so
    // that ink and ruled lines agree: max(round(p × 1.6), 40).
    static double lineHeight(double pointSize);

    explicit MacInkLibrary(DiaryHandwritingStore store);
    // Requests still running end with no image before this returns: work not yet begun is
    // skipped, and only a step already drawing is waited for.
    ~MacInkLibrary();
    MacInkLibrary(const MacInkLibrary &) = delete;
    MacInkLibrary &operator=(const MacInkLibrary &) = delete;

    const DiaryHandwritingStore &store() const;

    // The leaf's handwriting as an image whose origin is the top-left of the text area; draw it
    // at its device-independent size (normally two pixels per point). None when there is
    // nothing to show, whatever the reason, and when the library is destroyed first. Resumes on
    // the GUI thread.
    QCoro::Task<std::optional<QImage>> image(DayKey dayKey, qint64 leaf, double lineHeight,
                                             double width, Urgency urgency = Urgency::shown);

    // The image of decoded drawing data at the given line height and width: the drawing grows
    // with the line height (its own size at 40), shrinks to end at the width, and is drawn at
    // two pixels per point. None for undecodable data or a drawing without strokes.
    static std::optional<QImage> render(const QByteArray &data, double lineHeight, double width);

    // The name of one version of one leaf's file drawn at one size.
    static QString cacheKey(const DayKey &dayKey, qint64 leaf, const QString &fingerprint,
                            double lineHeight, double width);

    // What the library remembers: images by key (never more than 25), and keys known to give
    // no image.
    const QHash<QString, QImage> &cache() const;
    const QSet<QString> &blank() const;

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace velmora
