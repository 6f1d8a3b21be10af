#pragma once

#include "pagescreen/MacPageTurnController.h"

#include <QPixmap>
#include <QWidget>

#include <functional>

namespace velmora {

// One frame of a leaf turning about one of its vertical edges: the leaf beneath lies flat, the
// turning leaf is drawn rotated in perspective with the shadow it casts. Both leaves are cached
// pictures; nothing is laid out per frame.
struct PageTurnFrame {
    QPixmap under;
    QPixmap turning;
    // Degrees about the vertical axis; a leaf past 90 degrees shows its back and is not drawn.
    double angle = 0;
    // The edge the leaf turns about: the leading (spine) edge or the trailing one.
    bool anchorLeading = true;
    double shadowOpacity = 0;
    double shadowRadius = 0;
    double shadowOffsetX = 0;
};

// How far away the eye is, as a multiple of the leaf's height: the design's perspective 0.55.
inline constexpr double pageTurnPerspective = 0.55;

void paintPageTurnFrame(QPainter &painter, const QRectF &rect, const PageTurnFrame &frame);

// The page-sized layer that shows a physical turn while the page system's transition is an
// animating physical one, and the edge drag's lifted leaf while a drag is under way.
class MacPageTurnView : public QWidget {
    Q_OBJECT

public:
    // A picture of the leaf, at the view's size.
    using LeafPicture = std::function<QPixmap(const PageDescriptor &descriptor)>;

    explicit MacPageTurnView(LeafPicture picture, QWidget *parent = nullptr);

    MacPageTurnController &controller() { return m_controller; }

    // The drag at the page's edge: the current leaf lifted by its progress, the uncovered one
    // beneath. A progress of 0 with no pictures ends it.
    void showEdgeDrag(const QPixmap &current, const QPixmap &under, PageTurnDirection direction,
                      double progress);
    void endEdgeDrag();

    const PageTurnFrame &frame() const { return m_frame; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void prepareTurn();
    void updateTurnFrame(double animatedIndex);

    LeafPicture m_picture;
    MacPageTurnController m_controller;
    QPixmap m_earlier;
    QPixmap m_later;
    PageTurnFrame m_frame;
};

} // namespace velmora
