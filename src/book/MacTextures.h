#pragma once

#include <QImage>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>

class QPainter;

namespace velmora {

// The textures' pseudo-random source: a 64-bit linear congruential generator, so that one size
// always gives the same image, draw for draw.
class TextureRandom {
public:
    static constexpr quint64 paperSeed = 2594050803u;
    static constexpr quint64 leatherSeed = 514280978u;

    explicit TextureRandom(quint64 seed)
        : m_state(seed) {}

    // A number from 0 to 1 inclusive; the state moves before every draw.
    double next() {
        m_state = m_state * 6364136223846793005ull + 1442695040888963407ull;
        return double((m_state >> 33) & 0xFFFFFFu) / 16777215.0;
    }
    double next(double lo, double hi) { return lo + next() * (hi - lo); }
    quint64 state() const { return m_state; }

private:
    quint64 m_state;
};

// How many of each mark a drawing made; they grow with the area up to fixed ceilings.
struct PaperTextureCounts {
    int blots = 0;
    int flecks = 0;
    int speckles = 0;
    int fibres = 0;
    int inclusions = 0;

    friend bool operator==(const PaperTextureCounts &, const PaperTextureCounts &) = default;
};

struct LeatherTextureCounts {
    int blots = 0;
    int pores = 0;
    int specks = 0;
    int creases = 0;

    friend bool operator==(const LeatherTextureCounts &, const LeatherTextureCounts &) = default;
};

// Draw one texture in points, origin top-left, into whatever the painter paints on.
PaperTextureCounts drawPaperTexture(QPainter &painter, double width, double height);
LeatherTextureCounts drawLeatherTexture(QPainter &painter, double width, double height);

using TextureDrawing = std::function<void(QPainter &painter, double width, double height)>;

// The whole-point size a texture is drawn at: each side rounded up, at least 1; a side that is
// not a finite positive number counts as 1.
QSize texturePointSize(QSizeF size);

// The named texture at `pixelRatio` pixels a point (taken up to the next texture ratio), drawn
// once per name, whole-point size and ratio and then served from a process-wide cache of at most
// 9 images, which keeps one ratio of each name and size. An absurdly large size gives a null
// image, which is not kept.
QImage textureImage(const QString &name, QSizeF size, const TextureDrawing &draw,
                    double pixelRatio = 2);

QImage leatherTextureImage(QSizeF size, double pixelRatio = 2);
QImage paperTextureImage(QSizeF size, double pixelRatio = 2);
// Draws the leather on a pool thread, for a view that will soon need it; a caller asking for it
// while it is being drawn waits for that drawing instead of making its own.
void prepareLeatherTexture(QSizeF size, double pixelRatio);

// The texture ratio for `ratio` device pixels a point: 1 up to a plain screen, then quarter steps
// up to 2, which serves any denser painter.
double textureRatio(double ratio);
// The texture resolution a painter needs: 1 on a plain screen painted at its own scale, more on a
// denser one or under a magnifying transform.
double texturePixelRatio(const QPainter &painter);

// Stretches the texture of the rectangle's size, at the painter's resolution, over it.
void paintLeatherTexture(QPainter &painter, const QRectF &rect);
void paintPaperTexture(QPainter &painter, const QRectF &rect);

// The cache's keys ("paper-780x1024" at two pixels a point, "paper-780x1024@1x" at one,
// "paper-780x1024@1.25x"), in no particular order; and emptying it.
QStringList textureCacheKeys();
void clearTextureCache();
// Lets the cache forget the named texture of this size, at every resolution, for a caller that
// will not show it for a long while.
void releaseTexture(const QString &name, QSizeF size);

// The cover material, under the cover's and the binding's other elements.
class MacLeatherTexture : public QWidget {
    Q_OBJECT

public:
    explicit MacLeatherTexture(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// The surface of the reading and the writing leaf.
class MacPaperTexture : public QWidget {
    Q_OBJECT

public:
    explicit MacPaperTexture(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace velmora
