#include "ink/MacInkLibrary.h"

#include "ink/InkDrawing.h"
#include "ink/InkLogging.h"
#include "ink/InkRenderer.h"
#include "platform/DecimalText.h"
#include "platform/FileFingerprint.h"
#include "platform/SerialExecutor.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>

#include <cmath>

namespace velmora {

namespace {

// Beyond this many images the cache starts again empty.
constexpr qsizetype cacheLimit = 24;
// The drawing's own units sit this far below the top of the text area.
constexpr double drawingTopOffset = 6;
constexpr double pixelsPerPoint = 2;

void assertOnGuiThread() {
    Q_ASSERT_X(!QCoreApplication::instance() ||
                   QThread::currentThread() == QCoreApplication::instance()->thread(),
               "MacInkLibrary", "the ink library was asked off the GUI thread");
}

} // namespace

struct MacInkLibrary::State {
    explicit State(DiaryHandwritingStore handwriting)
        : store(std::move(handwriting)) {}

    DiaryHandwritingStore store;
    QHash<QString, QImage> cache;
    QSet<QString> blank;
    SerialExecutor worker{QStringLiteral("ink")};
};

double MacInkLibrary::lineHeight(double pointSize) {
    return std::max(std::round(pointSize * 1.6), 40.0);
}

MacInkLibrary::MacInkLibrary(DiaryHandwritingStore store)
    : m_state(std::make_shared<State>(std::move(store))) {}

MacInkLibrary::~MacInkLibrary() = default;

const DiaryHandwritingStore &MacInkLibrary::store() const {
    return m_state->store;
}

const QHash<QString, QImage> &MacInkLibrary::cache() const {
    return m_state->cache;
}

const QSet<QString> &MacInkLibrary::blank() const {
    return m_state->blank;
}

QString MacInkLibrary::cacheKey(const DayKey &dayKey, qint64 leaf, const QString &fingerprint,
                                double lineHeight, double width) {
    return dayKey.rawValue() + QLatin1Char('#') + QString::number(leaf) + QLatin1Char('#') +
           fingerprint + QLatin1Char('#') + shortestDecimalText(lineHeight) + QLatin1Char('#') +
           shortestDecimalText(width);
}

QCoro::Task<std::optional<QImage>> MacInkLibrary::image(DayKey dayKey, qint64 leaf,
                                                        double lineHeight, double width) {
    assertOnGuiThread();
    // The state, not the library, is kept by the task, so it never reaches a freed library.
    const std::shared_ptr<State> state = m_state;
    const QString path = state->store.fileURL(dayKey, leaf);

    auto fingerprinting = state->worker.run([path] { return fileFingerprint(path); });
    const std::optional<QString> fingerprint = co_await fingerprinting;
    if (!fingerprint)
        co_return std::nullopt;

    const QString key = cacheKey(dayKey, leaf, *fingerprint, lineHeight, width);
    if (const auto cached = state->cache.constFind(key); cached != state->cache.cend())
        co_return *cached;
    if (state->blank.contains(key))
        co_return std::nullopt;

    auto drawing = state->worker.run([path, lineHeight, width]() -> std::optional<QImage> {
        if (!QFile::exists(path))
            return std::nullopt;
        const auto bytes = InkDrawing::readFile(path);
        if (!bytes)
            return std::nullopt;
        return render(*bytes, lineHeight, width);
    });
    std::optional<QImage> image = co_await drawing;
    if (!image) {
        state->blank.insert(key);
        co_return std::nullopt;
    }
    if (state->cache.size() > cacheLimit)
        state->cache.clear();
    state->cache.insert(key, *image);
    co_return image;
}

std::optional<QImage> MacInkLibrary::render(const QByteArray &data, double lineHeight,
                                            double width) {
    QString why;
    const auto drawing = InkDrawing::decode(data, &why);
    if (!drawing) {
        qCInfo(lcInk) << "A drawing is shown blank because" << why;
        return std::nullopt;
    }
    if (drawing->strokeCount() == 0)
        return std::nullopt;
    const QRectF bounds = drawing->bounds();
    double scale = lineHeight / 40;
    if (width < scale * bounds.right() && bounds.right() > 0)
        scale = width / bounds.right();
    const InkDrawing placed =
        drawing->transformed(QTransform::fromScale(scale, scale).translate(0, -drawingTopOffset));
    const QRectF placedBounds = placed.bounds();
    const double height = std::max(std::ceil(placedBounds.bottom() + 2), 1.0);
    return renderInkImage(placed, QRectF(0, 0, width, height), pixelsPerPoint, Qt::transparent);
}

} // namespace velmora
