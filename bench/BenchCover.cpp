#include "BenchCores.h"

#include "book/MacBookShadow.h"
#include "book/MacClosedCover.h"
#include "book/MacCoverSwing.h"

#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>
#include <QPixmap>

using namespace velmora;

namespace {

// The window's pixels at twice the book's points, as on a high-density screen, in the format of
// an opaque window's backing store.
constexpr qreal ratio = 2;
constexpr QImage::Format windowFormat = QImage::Format_RGB32;

struct SwingImages {
    QRectF cover{QPointF(), diaryBookSize};
    QPixmap coverImage;
    QPixmap bookImage;
    CoverShadowImage shadow;
    QImage frame;

    SwingImages() {
        QImage cover(diaryBookSize.toSize() * ratio, QImage::Format_ARGB32_Premultiplied);
        cover.setDevicePixelRatio(ratio);
        cover.fill(Qt::transparent);
        {
            QPainter painter(&cover);
            const MacClosedCoverContent content{QStringLiteral("Ada Lovelace"), true,
                                                QStringLiteral("2026")};
            paintClosedCover(painter, content, layOutClosedCover(content));
        }
        coverImage = QPixmap::fromImage(cover);
        QImage book(cover.size(), QImage::Format_ARGB32_Premultiplied);
        book.setDevicePixelRatio(ratio);
        book.fill(QColor(0xf4, 0xec, 0xdc));
        bookImage = QPixmap::fromImage(book);
        shadow = makeCoverShadow(this->cover, ratio);
        frame = QImage(cover.size(), windowFormat);
        frame.setDevicePixelRatio(ratio);
    }
};

// The baseline: the cached cover drawn flat, the least any frame can cost.
void coverFlat(benchmark::State &state) {
    SwingImages images;
    for (auto _ : state) {
        images.frame.fill(Qt::black);
        QPainter painter(&images.frame);
        painter.drawPixmap(images.cover, images.coverImage, QRectF(images.coverImage.rect()));
        painter.end();
        benchmark::DoNotOptimize(images.frame.constBits());
    }
}

// One frame of the swing at a progress in hundredths: pages fading in, the cover turned in
// perspective with its shadow, all from cached images.
void coverSwingFrame(benchmark::State &state) {
    SwingImages images;
    const double progress = double(state.range(0)) / 100;
    for (auto _ : state) {
        images.frame.fill(Qt::black);
        QPainter painter(&images.frame);
        paintCoverSwing(painter, images.cover, progress, images.coverImage, images.bookImage,
                        images.shadow.image, images.shadow.rect);
        painter.end();
        benchmark::DoNotOptimize(images.frame.constBits());
    }
}

void BM_CoverSwingBaselineFlatPixmap(benchmark::State &state) {
    coverFlat(state);
}
// The painter hands large fills to helper threads, so the CPU column counts the whole process and
// the time column is the wall clock a frame takes.
BENCHMARK(BM_CoverSwingBaselineFlatPixmap)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_CoverSwingFrame(benchmark::State &state) {
    coverSwingFrame(state);
}
BENCHMARK(BM_CoverSwingFrame)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Arg(10)
    ->Arg(35)
    ->Arg(60)
    ->Arg(90)
    ->Unit(benchmark::kMillisecond);

// The same two on a two-core laptop: the whole process bound to two processors.
void BM_CoverSwingBaselineFlatPixmapOnTwoCores(benchmark::State &state) {
    const bench::ProcessOnCores cores(2);
    coverFlat(state);
}
BENCHMARK(BM_CoverSwingBaselineFlatPixmapOnTwoCores)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_CoverSwingFrameOnTwoCores(benchmark::State &state) {
    const bench::ProcessOnCores cores(2);
    coverSwingFrame(state);
}
BENCHMARK(BM_CoverSwingFrameOnTwoCores)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Arg(35)
    ->Unit(benchmark::kMillisecond);

} // namespace
