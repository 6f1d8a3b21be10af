#pragma once

#include "ink/InkDrawing.h"

#include <QColor>
#include <QImage>
#include <QRectF>

#include <optional>

class QPainter;

namespace velmora {

// The longest side, in pixels, of any image made of a drawing. Beyond it the pixel scale is
// lowered, so a stroke far away costs detail, never a giant bitmap.
constexpr int maximumInkImageSide = 8192;

// Draws the drawing in the painter's coordinates (points): each stroke in its own colour with
// round caps and joins, as wide as its width times the force at each sample.
void drawInk(QPainter &painter, const InkDrawing &drawing);

// An image of `area` of the drawing at `scale` pixels per point over `background` (which may be
// transparent). Its device pixel ratio is the scale it was drawn at, so its device-independent
// size is the area's size even when the side limit lowered the scale. None for an empty or
// non-finite area or scale.
std::optional<QImage> renderInkImage(const InkDrawing &drawing, const QRectF &area, double scale,
                                     const QColor &background);

} // namespace velmora
