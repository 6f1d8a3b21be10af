#include "recall/DiaryHandwritingIndex.h"

#include "ink/InkDrawing.h"
#include "ink/InkRenderer.h"
#include "platform/DecimalText.h"
#include "platform/FileSystemError.h"
#include "platform/JsonCoding.h"
#include "platform/SearchFolding.h"
#include "platform/SerialExecutor.h"
#include "platform/Sha256.h"
#include "recall/HandwritingRecognizer.h"
#include "recall/RecallLogging.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QStringMatcher>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <limits>

namespace velmora {

namespace {

const QString indexFileName = QStringLiteral("handwriting-index.json");
// The index file is written after this many changes during a whole refresh, and at its end.
constexpr qint64 changesPerSave = 25;
// The capture around a drawing's ink, and its pixels per point, for recognition.
constexpr double captureMargin = 16;
constexpr double smallestCapture = 8;
constexpr double recognitionScale = 3;
// Seconds from 2001-01-01 back to 0001-01-01: a file without a modification date.
constexpr double distantPastSinceReferenceDate = -63114076800.0;
constexpr qint64 referenceDateMsSince1970 = 978307200000;
// An older index recorded the SHA-256 of the file's bytes instead.
constexpr qsizetype olderFingerprintLength = 64;

} // namespace

struct DiaryHandwritingIndex::State {
    struct Entry {
        Page page;
        // The text as search compares it, folded once when the text is stored.
        QString folded;
    };

    struct RefreshPlan {
        QList<DiaryHandwritingStore::PageFile> files;
        qint64 changes = 0;
    };

    State(DiaryHandwritingStore handwriting, RecognizerFactory factory)
        : store(std::move(handwriting))
        , fileURL(store.directory() + QLatin1Char('/') + indexFileName)
        , makeRecognizer(std::move(factory)) {}

    const DiaryHandwritingStore store;
    const QString fileURL;
    const RecognizerFactory makeRecognizer;
    // Set when the index is destroyed, so tasks still running stop at their next step.
    std::atomic<bool> closed = false;

    // Everything below is touched only on the worker.
    QHash<QString, Entry> pages;
    bool loaded = false;
    bool unsaved = false;
    std::unique_ptr<HandwritingRecognizer> recognizer;
    bool recognizerMade = false;
    Activity activity;

    void put(const QString &key, Page page) {
        QString folded = foldedForSearch(page.text);
        pages.insert(key, Entry{std::move(page), std::move(folded)});
        unsaved = true;
    }

    void load() {
        if (loaded)
            return;
        loaded = true;
        QByteArray bytes;
        try {
            bytes = readRegularFile(fileURL, fileByteLimit);
        } catch (const FileSystemError &error) {
            if (error.errorNumber() != ENOENT)
                qCWarning(lcRecall) << "Could not read the handwriting index:" << error.message();
            return;
        }
        const auto decodedPages = decodeIndexFile(bytes);
        if (!decodedPages)
            return;
        QHash<QString, Entry> decoded;
        decoded.reserve(decodedPages->size());
        for (auto it = decodedPages->constBegin(); it != decodedPages->constEnd(); ++it)
            decoded.insert(it.key(), Entry{it.value(), foldedForSearch(it.value().text)});
        pages = std::move(decoded);
    }

    void save() {
        QJsonObject root;
        for (auto it = pages.constBegin(); it != pages.constEnd(); ++it)
            root.insert(it.key(),
                        QJsonObject{{QStringLiteral("text"), it->page.text},
                                    {QStringLiteral("fingerprint"), it->page.fingerprint}});
        ++activity.saves;
        unsaved = false;
        try {
            const QByteArray bytes = writeJson(root, {.escapeSlashes = true});
            try {
                createDirectories(store.directory());
            } catch (const DiaryError &error) {
                qCInfo(lcRecall) << "Could not create the handwriting folder:" << error.what();
            }
            writeFileAtomically(fileURL, bytes);
        } catch (const DiaryError &error) {
            // The pages in memory stay current; the next save writes them whole.
            qCWarning(lcRecall) << "Could not save the handwriting index:" << error.what();
        }
    }

    std::optional<QByteArray> readDrawing(const QString &path) {
        ++activity.drawingsRead;
        auto bytes = InkDrawing::readFile(path);
        if (bytes && bytes->isEmpty())
            return std::nullopt;
        return bytes;
    }

    // Loads, lists, drops the leaves whose file is gone, and names the files that are not
    // indexed at their current version. None when the folder cannot be listed.
    std::optional<RefreshPlan> planRefreshAll() {
        load();
        QList<DiaryHandwritingStore::PageFile> listed;
        try {
            listed = store.pageFiles();
        } catch (const DiaryError &error) {
            qCWarning(lcRecall) << "Could not list the handwriting:" << error.what();
            return std::nullopt;
        }
        QSet<QString> keys;
        keys.reserve(listed.size());
        for (const auto &file : std::as_const(listed))
            keys.insert(pageKey(file.dayKey, file.leaf));
        RefreshPlan plan;
        for (auto it = pages.begin(); it != pages.end();) {
            if (keys.contains(it.key())) {
                ++it;
            } else {
                it = pages.erase(it);
                ++plan.changes;
                unsaved = true;
            }
        }
        for (auto &file : listed) {
            if (!isIndexedAsIs(file))
                plan.files.append(std::move(file));
        }
        return plan;
    }

    bool isIndexedAsIs(const DiaryHandwritingStore::PageFile &file) const {
        const auto entry = pages.constFind(pageKey(file.dayKey, file.leaf));
        return entry != pages.cend() && entry->page.fingerprint == pageFingerprint(file);
    }

    // One listed leaf of a whole refresh; true when it counts as a change.
    bool refreshListed(const DiaryHandwritingStore::PageFile &file) {
        if (isIndexedAsIs(file))
            return false;
        const auto bytes = readDrawing(file.url);
        if (!bytes)
            return false;
        indexPage(pageKey(file.dayKey, file.leaf), file, *bytes);
        return true;
    }

    void refreshOne(const PageRef &page) {
        load();
        const QString key = pageKey(page.first, page.second);
        if (const auto file = store.pageFile(page.first, page.second)) {
            if (const auto bytes = readDrawing(file->url)) {
                indexPage(key, *file, *bytes);
                save();
                return;
            }
        }
        if (pages.remove(key) > 0)
            save();
    }

    void indexPage(const QString &key, const DiaryHandwritingStore::PageFile &file,
                   const QByteArray &data) {
        const auto existing = pages.constFind(key);
        if (existing != pages.cend() &&
            existing->page.fingerprint.size() == olderFingerprintLength &&
            existing->page.fingerprint == sha256Hex(data)) {
            put(key, Page{existing->page.text, pageFingerprint(file)});
            return;
        }
        QString why;
        const auto drawing = InkDrawing::decode(data, &why);
        if (!drawing) {
            qCInfo(lcRecall) << "Handwriting" << key << "is not indexed because" << why;
            return;
        }
        put(key, Page{recognize(*drawing).value_or(QString()), pageFingerprint(file)});
    }

    std::optional<QString> recognize(const InkDrawing &drawing) {
        const auto image = recognitionImage(drawing);
        if (!image)
            return std::nullopt;
        if (!recognizerMade) {
            recognizerMade = true;
            recognizer = makeRecognizer ? makeRecognizer() : makeTesseractRecognizer();
        }
        if (!recognizer)
            return std::nullopt;
        ++activity.recognitions;
        return recognizer->recognize(*image);
    }

    QList<Match> search(const QString &query, int limit) {
        load();
        const QString trimmed = query.trimmed();
        if (trimmed.isEmpty() || limit < 1)
            return {};
        const QString folded = foldedForSearch(trimmed);
        if (folded.isEmpty())
            return {};
        const QStringMatcher matcher(folded);
        QList<Match> hits;
        for (auto it = pages.constBegin(); it != pages.constEnd(); ++it) {
            if (matcher.indexIn(it->folded) < 0)
                continue;
            const QStringList pieces = it.key().split(QLatin1Char('#'), Qt::SkipEmptyParts);
            if (pieces.size() != 2)
                continue;
            const auto day = DayKey::fromRawValue(pieces.at(0));
            const auto leaf = parseSignedDecimal(pieces.at(1));
            if (!day || !leaf)
                continue;
            hits.append(Match{*day, *leaf, it->page.text});
        }
        std::sort(hits.begin(), hits.end(), [](const Match &a, const Match &b) {
            return a.dayKey != b.dayKey ? a.dayKey > b.dayKey : a.leaf < b.leaf;
        });
        if (hits.size() > limit)
            hits.resize(limit);
        return hits;
    }
};

QCoro::Task<void> DiaryHandwritingIndex::refreshAllTask(std::shared_ptr<State> state,
                                                        std::shared_ptr<SerialExecutor> worker,
                                                        CancellationToken token) {
    auto planning = worker->run([state] { return state->planRefreshAll(); });
    const auto plan = co_await planning;
    if (!plan)
        co_return;
    qint64 changes = plan->changes;
    for (const auto &file : plan->files) {
        if (token.isCancelled() || state->closed)
            break;
        auto indexing = worker->run([state, file, changes] {
            qint64 counted = changes;
            if (state->refreshListed(file) && ++counted >= changesPerSave) {
                state->save();
                counted = 0;
            }
            return counted;
        });
        changes = co_await indexing;
    }
    if (changes >= 1 && !state->closed) {
        auto saving = worker->run([state] { state->save(); });
        co_await saving;
    }
}

QCoro::Task<void> DiaryHandwritingIndex::refreshTask(std::shared_ptr<State> state,
                                                     std::shared_ptr<SerialExecutor> worker,
                                                     QList<PageRef> pages) {
    for (const auto &page : pages) {
        if (state->closed)
            co_return;
        auto refreshing = worker->run([state, page] { state->refreshOne(page); });
        co_await refreshing;
    }
}

template <typename F>
auto DiaryHandwritingIndex::onWorker(std::shared_ptr<State> state,
                                     std::shared_ptr<SerialExecutor> worker, F function)
    -> QCoro::Task<std::invoke_result_t<F &, State &>> {
    auto work = worker->run([state, function] { return function(*state); });
    co_return co_await work;
}

DiaryHandwritingIndex::DiaryHandwritingIndex(DiaryHandwritingStore store,
                                             RecognizerFactory makeRecognizer)
    : m_state(std::make_shared<State>(std::move(store), std::move(makeRecognizer)))
    , m_worker(std::make_shared<SerialExecutor>(QStringLiteral("handwriting"))) {}

DiaryHandwritingIndex::~DiaryHandwritingIndex() {
    m_state->closed = true;
    const std::shared_ptr<State> state = m_state;
    m_worker->runAndWait([state] {
        if (state->unsaved)
            state->save();
        // The recogniser belongs to the worker's thread.
        state->recognizer.reset();
    });
    m_worker->stop();
}

const DiaryHandwritingStore &DiaryHandwritingIndex::store() const {
    return m_state->store;
}

const QString &DiaryHandwritingIndex::fileURL() const {
    return m_state->fileURL;
}

QCoro::Task<void> DiaryHandwritingIndex::refreshAll(CancellationToken token) {
    return refreshAllTask(m_state, m_worker, std::move(token));
}

QCoro::Task<void> DiaryHandwritingIndex::refresh(QList<PageRef> pages) {
    return refreshTask(m_state, m_worker, std::move(pages));
}

QCoro::Task<QList<DiaryHandwritingIndex::Match>> DiaryHandwritingIndex::search(QString query,
                                                                               int limit) {
    return onWorker(m_state, m_worker,
                    [query, limit](State &state) { return state.search(query, limit); });
}

QCoro::Task<QHash<QString, DiaryHandwritingIndex::Page>> DiaryHandwritingIndex::pages() {
    return onWorker(m_state, m_worker, [](State &state) {
        state.load();
        QHash<QString, Page> result;
        for (auto it = state.pages.constBegin(); it != state.pages.constEnd(); ++it)
            result.insert(it.key(), it->page);
        return result;
    });
}

QCoro::Task<DiaryHandwritingIndex::Activity> DiaryHandwritingIndex::activity() {
    return onWorker(m_state, m_worker, [](State &state) { return state.activity; });
}

std::optional<QImage> DiaryHandwritingIndex::recognitionImage(const InkDrawing &drawing) {
    if (drawing.strokeCount() == 0)
        return std::nullopt;
    const QRectF capture =
        drawing.bounds().adjusted(-captureMargin, -captureMargin, captureMargin, captureMargin);
    if (capture.width() <= smallestCapture || capture.height() <= smallestCapture)
        return std::nullopt;
    return renderInkImage(drawing, capture, recognitionScale, Qt::white);
}

std::optional<DiaryHandwritingStore::PageFile> DiaryHandwritingIndex::pageFile(const DayKey &dayKey,
                                                                               qint64 leaf) const {
    return m_state->store.pageFile(dayKey, leaf);
}

QString DiaryHandwritingIndex::pageKey(const DayKey &dayKey, qint64 leaf) {
    return dayKey.rawValue() + QLatin1Char('#') + QString::number(leaf);
}

std::optional<QHash<QString, DiaryHandwritingIndex::Page>>
DiaryHandwritingIndex::decodeIndexFile(const QByteArray &bytes) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        qCWarning(lcRecall) << "The handwriting index is no JSON object; it is rebuilt";
        return std::nullopt;
    }
    QHash<QString, Page> decoded;
    const QJsonObject root = document.object();
    decoded.reserve(root.size());
    for (auto it = root.constBegin(); it != root.constEnd(); ++it) {
        const QJsonObject member = it.value().toObject();
        const QJsonValue text = member.value(QLatin1String("text"));
        const QJsonValue fingerprint = member.value(QLatin1String("fingerprint"));
        if (!it.value().isObject() || !text.isString() || !fingerprint.isString()) {
            qCWarning(lcRecall) << "The handwriting index holds a malformed page" << it.key()
                                << "; it is rebuilt";
            return std::nullopt;
        }
        decoded.insert(it.key(), Page{text.toString(), fingerprint.toString()});
    }
    return decoded;
}

QString DiaryHandwritingIndex::pageFingerprint(const DiaryHandwritingStore::PageFile &file) {
    const double seconds =
        file.modifiedAt.isValid()
            ? double(file.modifiedAt.toMSecsSinceEpoch() - referenceDateMsSince1970) / 1000.0
            : distantPastSinceReferenceDate;
    return QString::number(file.byteCount) + QLatin1Char('-') + shortestDecimalText(seconds);
}

} // namespace velmora
