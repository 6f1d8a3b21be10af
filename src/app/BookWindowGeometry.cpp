#include "app/BookWindowGeometry.h"

#include <cmath>

namespace velmora::BookWindowGeometry {

int widthForHeight(int height) {
    return int(std::round(double(height) * designWidth * (1.0 / designHeight)));
}

QRect sizedFrame(const QRect &visibleFrame) {
    const int height = visibleFrame.height();
    const int width = widthForHeight(height);
    const double midX = visibleFrame.x() + visibleFrame.width() * 0.5;
    const int x = int(std::round(midX - width * 0.5));
    return QRect(x, visibleFrame.y(), width, height);
}

QPoint centredOrigin(const QRect &visibleFrame, const QSize &frameSize) {
    const double midX = visibleFrame.x() + visibleFrame.width() * 0.5;
    const double midY = visibleFrame.y() + visibleFrame.height() * 0.5;
    return QPoint(int(std::floor(midX - frameSize.width() * 0.5)),
                  int(std::floor(midY - frameSize.height() * 0.5)));
}

bool isOffScreen(const QRect &frame, const QList<QRect> &visibleFrames) {
    for (const QRect &visible : visibleFrames) {
        if (visible.intersects(frame))
            return false;
    }
    return true;
}

QSize sizeForResize(const QSize &proposed, int visibleHeight, bool fullScreen) {
    if (fullScreen || visibleHeight <= 0)
        return proposed;
    if (proposed.height() < visibleHeight)
        return QSize(widthForHeight(visibleHeight), visibleHeight);
    return proposed;
}

} // namespace velmora::BookWindowGeometry
