#pragma once

#include <QImage>
#include <QWidget>

namespace velmora {

// Where the backdrop's layers fall in an area of W × H points, the book being scaled to fit.
struct FrostedBackdropGeometry {
    double scale = 0;
    QSizeF book;
    QRectF glow;
    double glowCornerRadius = 0;
    double glowBlurRadius = 0;
    double vignetteStartRadius = 0;
    double vignetteEndRadius = 0;
};

FrostedBackdropGeometry frostedBackdropGeometry(QSizeF area);

// The warm, dark surroundings of the book: a gradient, a glow behind the book, a sheen and a
// vignette, drawn into the rectangle and clipped to it.
void paintFrostedBackdrop(QPainter &painter, const QRectF &rect);

class MacFrostedBackdrop : public QWidget {
    Q_OBJECT

public:
    explicit MacFrostedBackdrop(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    // The glow's blur is the costly part; the whole backdrop is kept for its size.
    QImage m_cached;
    QSize m_cachedSize;
    qreal m_cachedRatio = 0;
};

} // namespace velmora
