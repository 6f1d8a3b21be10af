// Feeds arbitrary bytes to the drawing-file decoder, and what it accepts to the encoder, the
// bounds and the renderer at a small size. A refusal is the expected answer to bad bytes;
// anything else (a crash, an exception, a sanitizer report, an enormous image) is a finding.
#include "ink/InkDrawing.h"
#include "ink/InkRenderer.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace velmora;

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto drawing = InkDrawing::decode(bytes);
    if (!drawing)
        return 0;
    if (InkDrawing::decode(drawing->encode()) != drawing)
        std::abort();
    drawing->bounds();
    QImage image(64, 64, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    const QRectF bounds = drawing->bounds();
    if (bounds.isValid() && bounds.width() > 0 && bounds.height() > 0)
        painter.scale(64 / bounds.width(), 64 / bounds.height());
    drawInk(painter, *drawing);
    return 0;
}
