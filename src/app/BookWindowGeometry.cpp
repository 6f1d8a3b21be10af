#include "app/BookWindowGeometry.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace velmora::BookWindowGeometry {

int widthForHeight(int height) {
    return int(std::round(double(height) * designWidth * (1.0 / designHeight)));
}

namespace {

// The tallest height whose width does not pass `width`.
int heightForWidth(int width) {
    int height = int(std::floor(double(width) * designHeight / designWidth));
    while (height > 0 && widthForHeight(height) > width)
        --height;
    return height;
}

// Where a length centred on a span starts: round(mid − length × 0.5), halves away from zero. The
// one rule for every centring, so that placing and presenting the window agree to the pixel.
int centredStart(int start, int span, int length) {
    return int(std::round(start + span * 0.5 - length * 0.5));
}

} // namespace

QRect sizedFrame(const QRect &visibleFrame) {
    int height = visibleFrame.height();
    int y = visibleFrame.y();
    if (widthForHeight(height) > visibleFrame.width()) {
        height = heightForWidth(visibleFrame.width());
        y = centredStart(visibleFrame.y(), visibleFrame.height(), height);
    }
    const int width = widthForHeight(height);
    return QRect(centredStart(visibleFrame.x(), visibleFrame.width(), width), y, width, height);
}

QPoint centredOrigin(const QRect &visibleFrame, const QSize &frameSize) {
    return QPoint(centredStart(visibleFrame.x(), visibleFrame.width(), frameSize.width()),
                  centredStart(visibleFrame.y(), visibleFrame.height(), frameSize.height()));
}

bool isOffScreen(const QRect &frame, const QList<QRect> &visibleFrames) {
    return !screenOfFrame(frame, visibleFrames);
}

std::optional<qsizetype> screenOfFrame(const QRect &frame, const QList<QRect> &visibleFrames) {
    std::optional<qsizetype> best;
    qint64 bestArea = 0;
    for (qsizetype i = 0; i < visibleFrames.size(); ++i) {
        const QRect shared = visibleFrames.at(i).intersected(frame);
        const qint64 area = qint64(shared.width()) * shared.height();
        if (!shared.isEmpty() && area > bestArea) {
            best = i;
            bestArea = area;
        }
    }
    return best;
}

QRect frameForResize(const QRect &proposed, const QRect &visibleFrame, bool fullScreen) {
    if (fullScreen || visibleFrame.isEmpty())
        return proposed;
    const QSize book = sizedFrame(visibleFrame).size();
    QSize size = proposed.size();
    if (size.height() < book.height() || size.height() > visibleFrame.height() ||
        size.width() > visibleFrame.width())
        size = book;
    return QRect(QPoint(std::clamp(proposed.x(), visibleFrame.x(),
                                   visibleFrame.x() + visibleFrame.width() - size.width()),
                        std::clamp(proposed.y(), visibleFrame.y(),
                                   visibleFrame.y() + visibleFrame.height() - size.height())),
                 size);
}

QSize proportionalSize(const QSize &previous, const QSize &proposed) {
    const double widthChange = std::abs(proposed.width() - previous.width()) / double(designWidth);
    const double heightChange =
        std::abs(proposed.height() - previous.height()) / double(designHeight);
    if (widthChange > heightChange) {
        const int height = int(std::round(double(proposed.width()) * designHeight / designWidth));
        return QSize(widthForHeight(height), height);
    }
    return QSize(widthForHeight(proposed.height()), proposed.height());
}

QString frameText(const QRect &frame) {
    return QStringLiteral("%1 %2 %3 %4")
        .arg(frame.x())
        .arg(frame.y())
        .arg(frame.width())
        .arg(frame.height());
}

std::optional<QRect> frameFromText(const QString &text) {
    const QStringList parts = text.split(QLatin1Char(' '));
    if (parts.size() != 4)
        return std::nullopt;
    int values[4] = {};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = parts.at(i).toInt(&ok);
        if (!ok)
            return std::nullopt;
    }
    if (values[2] <= 0 || values[3] <= 0)
        return std::nullopt;
    return QRect(values[0], values[1], values[2], values[3]);
}

} // namespace velmora::BookWindowGeometry
