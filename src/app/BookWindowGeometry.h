#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

namespace velmora {

// Where the book window goes and how big it is, from the screens' rectangles alone. The book is
// 780 wide for every 1024 high and fills the visible height of its screen. Every rectangle here is
// the window's frame, decorations included.
namespace BookWindowGeometry {

inline constexpr int designWidth = 780;
inline constexpr int designHeight = 1024;

// round(height × 780 / 1024), halves away from zero.
int widthForHeight(int height);

// The frame the window takes on a screen: as tall as the visible area, centred across it, its
// top at the visible top. A screen too narrow for that (turned upright) gets the tallest frame
// its width holds, centred both ways. Centring rounds halves away from zero, as
// centredOrigin() does.
QRect sizedFrame(const QRect &visibleFrame);

// The origin that centres a frame of this size on the visible area, rounded to whole pixels as
// sizedFrame() rounds: a fitted frame presented again stays where it is.
QPoint centredOrigin(const QRect &visibleFrame, const QSize &frameSize);

// True when the frame meets no screen's visible area (or there are no screens).
bool isOffScreen(const QRect &frame, const QList<QRect> &visibleFrames);

// The index of the screen whose visible area holds most of the frame; none when it meets none.
std::optional<qsizetype> screenOfFrame(const QRect &frame, const QList<QRect> &visibleFrames);

// Where a resize of the window comes to rest. A frame shorter than the book that fills the
// visible area, or larger than the area holds, becomes that book; the frame is then moved as
// little as needed to lie within the area, its title bar too. In full screen, what was asked
// passes unchanged.
QRect frameForResize(const QRect &proposed, const QRect &visibleFrame, bool fullScreen);

// A size the user dragged to, brought back to 780:1024: the side that changed more, for its
// share of the book, leads and the other follows.
QSize proportionalSize(const QSize &previous, const QSize &proposed);

// The frame as it is kept in the settings, "x y width height", and read back; anything else
// reads as none.
QString frameText(const QRect &frame);
std::optional<QRect> frameFromText(const QString &text);

} // namespace BookWindowGeometry

} // namespace velmora
