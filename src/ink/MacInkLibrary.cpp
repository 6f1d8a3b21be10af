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

#include <atomic>
#include <cmath>
#include <coroutine>
#include <exception>
#include <functional>

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

// One step of a request: the job runs on a worker, and the request resumes through `receiver`
// on the GUI thread. A job reached once the library closes is skipped; the request, seeing the
// library closed, ignores what the step gives.
template <typename T> class InkStep {
public:
    InkStep(SerialExecutor &worker, QObject *receiver,
            std::shared_ptr<const std::atomic<bool>> closed, std::function<T()> job)
        : m_worker(worker)
        , m_receiver(receiver)
        , m_closed(std::move(closed))
        , m_job(std::move(job))
        , m_outcome(std::make_shared<Outcome>()) {}

    bool await_ready() const noexcept { return false; }

    bool await_suspend(std::coroutine_handle<> handle) {
        // The job never owns the library's state: the last owner must not be a worker, which
        // cannot join itself.
        return m_worker.post(
            [outcome = m_outcome, job = m_job, closed = m_closed, receiver = m_receiver, handle] {
                if (!*closed) {
                    try {
                        outcome->value = job();
                    } catch (...) {
                        outcome->error = std::current_exception();
                    }
                }
                QMetaObject::invokeMethod(
                    receiver, [handle] { handle.resume(); }, Qt::QueuedConnection);
            });
    }

    T await_resume() {
        if (m_outcome->error)
            std::rethrow_exception(m_outcome->error);
        return std::move(m_outcome->value);
    }

private:
    struct Outcome {
        T value{};
        std::exception_ptr error;
    };

    SerialExecutor &m_worker;
    QObject *m_receiver;
    std::shared_ptr<const std::atomic<bool>> m_closed;
    std::function<T()> m_job;
    std::shared_ptr<Outcome> m_outcome;
};

} // namespace

struct MacInkLibrary::State {
    explicit State(DiaryHandwritingStore handwriting)
        : store(std::move(handwriting)) {}

    SerialExecutor &worker(Urgency urgency) {
        return urgency == Urgency::shown ? shownWorker : aheadWorker;
    }

    DiaryHandwritingStore store;
    QHash<QString, QImage> cache;
    QSet<QString> blank;
    // Every step comes back to the GUI thread through this object, so that closing can deliver
    // the steps still on their way instead of leaving their requests suspended for good.
    QObject receiver;
    std::shared_ptr<std::atomic<bool>> closed = std::make_shared<std::atomic<bool>>(false);
    SerialExecutor shownWorker{QStringLiteral("ink")};
    SerialExecutor aheadWorker{QStringLiteral("ink-ahead")};
};

double MacInkLibrary::lineHeight(double pointSize) {
    return std::max(std::round(pointSize * 1.6), 40.0);
}

MacInkLibrary::MacInkLibrary(DiaryHandwritingStore store)
    : m_state(std::make_shared<State>(std::move(store))) {}

MacInkLibrary::~MacInkLibrary() {
    assertOnGuiThread();
    // Kept until the last step is delivered, whoever else lets go of it meanwhile.
    const std::shared_ptr<State> state = m_state;
    *state->closed = true;
    state->shownWorker.stop();
    state->aheadWorker.stop();
    // Each step handed over has now come back as a call to the receiver; the requests they
    // resume see the library closed and end.
    QCoreApplication::sendPostedEvents(&state->receiver, QEvent::MetaCall);
}

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

QCoro::Task<std::optional<QImage>>
MacInkLibrary::image(DayKey dayKey, qint64 leaf, double lineHeight, double width, Urgency urgency) {
    assertOnGuiThread();
    // The state, not the library, is kept by the task, so it never reaches a freed library.
    const std::shared_ptr<State> state = m_state;
    SerialExecutor &worker = state->worker(urgency);
    const QString path = state->store.fileURL(dayKey, leaf);

    auto fingerprinting = InkStep<std::optional<QString>>(worker, &state->receiver, state->closed,
                                                          [path] { return fileFingerprint(path); });
    const std::optional<QString> fingerprint = co_await fingerprinting;
    if (*state->closed || !fingerprint)
        co_return std::nullopt;

    const QString key = cacheKey(dayKey, leaf, *fingerprint, lineHeight, width);
    if (const auto cached = state->cache.constFind(key); cached != state->cache.cend())
        co_return *cached;
    if (state->blank.contains(key))
        co_return std::nullopt;

    auto drawing =
        InkStep<std::optional<QImage>>(worker, &state->receiver, state->closed,
                                       [path, lineHeight, width]() -> std::optional<QImage> {
                                           if (!QFile::exists(path))
                                               return std::nullopt;
                                           const auto bytes = InkDrawing::readFile(path);
                                           if (!bytes)
                                               return std::nullopt;
                                           return render(*bytes, lineHeight, width);
                                       });
    std::optional<QImage> image = co_await drawing;
    // The drawing may have been skipped: nothing is learnt about the leaf.
    if (*state->closed)
        co_return std::nullopt;
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
