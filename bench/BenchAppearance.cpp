#include "book/MacTextures.h"

#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>

using namespace velmora;

namespace {

const QSize bookPoints(780, 1024);

// The baseline: the least a texture costs, one fill of an image of the same pixel size.
void BM_AppearanceFillImageBaseline(benchmark::State &state) {
    for (auto _ : state) {
        QImage image(bookPoints * 2, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_AppearanceFillImageBaseline)->Unit(benchmark::kMillisecond);

// Drawing one texture from nothing, as after the cache was emptied.
template <bool leather> void BM_AppearanceTexture(benchmark::State &state) {
    for (auto _ : state) {
        clearTextureCache();
        const QImage image =
            leather ? leatherTextureImage(bookPoints) : paperTextureImage(bookPoints);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_AppearanceTexture<false>)
    ->Name("BM_AppearancePaperTexture")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AppearanceTexture<true>)
    ->Name("BM_AppearanceLeatherTexture")
    ->Unit(benchmark::kMillisecond);

// A leaf repainted while its texture is cached: what every frame of a page turn costs.
void BM_AppearancePaintCachedLeaf(benchmark::State &state) {
    QImage target(bookPoints * 2, QImage::Format_ARGB32_Premultiplied);
    target.setDevicePixelRatio(2);
    paperTextureImage(bookPoints);
    for (auto _ : state) {
        QPainter painter(&target);
        painter.fillRect(QRect(QPoint(), bookPoints), QColor(0xFB, 0xF6, 0xEC));
        paintPaperTexture(painter, QRect(QPoint(), bookPoints));
        painter.end();
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_AppearancePaintCachedLeaf)->Unit(benchmark::kMillisecond);

} // namespace
