#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

namespace velmora {

// Where the book window goes and how big it is, from the screens' rectangles alone. The book is
// 780 wide for every 1024 high and fills the visible height of its screen.
namespace BookWindowGeometry {

inline constexpr int designWidth = 780;
inline constexpr int designHeight = 1024;

// round(height × 780 / 1024), halves away from zero.
int widthForHeight(int height);

// The frame the window takes on a screen: as tall as the visible area, centred across it, its
// top at the visible top.
QRect sizedFrame(const QRect &visibleFrame);

// The origin that centres a frame of this size on the visible area, without rounding beyond
// whole pixels.
QPoint centredOrigin(const QRect &visibleFrame, const QSize &frameSize);

// True when the frame meets no screen's visible area (or there are no screens).
bool isOffScreen(const QRect &frame, const QList<QRect> &visibleFrames);

// A resize that would make the window shorter than its screen's visible height is answered with
// the full-height size; a taller one, or any resize in full screen, passes unchanged.
QSize sizeForResize(const QSize &proposed, int visibleHeight, bool fullScreen);

} // namespace BookWindowGeometry

} // namespace velmora
