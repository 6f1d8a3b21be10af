#pragma once

#include "domain/DayKey.h"
#include "platform/Cancellation.h"
#include "store/DiaryHandwritingStore.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QString>

#include <QCoroTask>

#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

namespace velmora {

class HandwritingRecognizer;
class InkDrawing;
class SerialExecutor;

// The recognised text of every handwritten leaf, kept in "handwriting-index.json" beside the
// drawing files, so search finds handwritten words. A leaf is recognised again only when its
// file's size or modification time changes.
//
// Its work runs one operation step at a time on its own worker thread, never on the caller's:
// the operations may be awaited from the GUI thread, and resume there. A search waits for at
// most the one step (one leaf's recognition) in progress. Nothing reports an error: a failed
// read or recognition leaves the text empty or as it was, and is logged.
class DiaryHandwritingIndex {
public:
    struct Page {
        QString text;
        QString fingerprint;

        friend bool operator==(const Page &, const Page &) = default;
    };

    struct Match {
        DayKey dayKey;
        qint64 leaf = 0;
        QString text;

        friend bool operator==(const Match &, const Match &) = default;
    };

    // One leaf: its day and its index within the day.
    using PageRef = std::pair<DayKey, qint64>;
    using RecognizerFactory = std::function<std::unique_ptr<HandwritingRecognizer>()>;
    // Far more than the text of every leaf of a long life of writing; a larger file is not read,
    // and the index is rebuilt.
    static constexpr qint64 fileByteLimit = 256 * 1024 * 1024;

    // Reads and writes nothing yet. The recogniser is made on the index's worker the first time
    // a leaf is recognised (Tesseract by default), and serves every later leaf.
    explicit DiaryHandwritingIndex(DiaryHandwritingStore store,
                                   RecognizerFactory makeRecognizer = {});
    // Waits for the step in progress; operations still waiting are dropped.
    ~DiaryHandwritingIndex();
    DiaryHandwritingIndex(const DiaryHandwritingIndex &) = delete;
    DiaryHandwritingIndex &operator=(const DiaryHandwritingIndex &) = delete;

    const DiaryHandwritingStore &store() const;
    const QString &fileURL() const;

    // Brings the whole index up to date with the folder and saves it: every 25 changes and at
    // the end, and not at all when nothing changed. A leaf whose file is unchanged is not read.
    // A cancelled token stops it before the next leaf; what changed so far is saved.
    QCoro::Task<void> refreshAll(CancellationToken token = {});

    // Brings the listed leaves up to date one after the other, saving after each leaf indexed
    // or removed; for handwriting that changed outside (for instance by sync). Awaiting it is
    // optional.
    QCoro::Task<void> refresh(QList<PageRef> pages);

    // Leaves whose recognised text contains the trimmed query, ignoring case and accents;
    // newest day first, leaves of one day in order; at most `limit`.
    QCoro::Task<QList<Match>> search(QString query, int limit);

    // The indexed pages by page key; for diagnostics and tests.
    QCoro::Task<QHash<QString, Page>> pages();

    // How much work the index has done in this run; for tests and benchmarks.
    struct Activity {
        qint64 drawingsRead = 0;
        qint64 recognitions = 0;
        qint64 saves = 0;
    };
    QCoro::Task<Activity> activity();

    // The listing's record of one leaf's drawing, or none when it has no non-empty file.
    std::optional<DiaryHandwritingStore::PageFile> pageFile(const DayKey &dayKey,
                                                            qint64 leaf) const;

    // The pages an index file holds, by page key; none for bytes that are no index file (the
    // index is then rebuilt from the drawings).
    static std::optional<QHash<QString, Page>> decodeIndexFile(const QByteArray &bytes);

    // The image recognition reads: the ink grown by 16 points on every side, at three pixels
    // per point (fewer when the longest side would pass 8,192 pixels), on white. None for a
    // drawing without strokes or with a capture of 8 points or less either way.
    static std::optional<QImage> recognitionImage(const InkDrawing &drawing);

    // "yyyy-MM-dd#leaf".
    static QString pageKey(const DayKey &dayKey, qint64 leaf);
    // The size, "-", and the modification time as seconds since 2001 in their shortest decimal.
    static QString pageFingerprint(const DiaryHandwritingStore::PageFile &file);

private:
    struct State;
    static QCoro::Task<void> refreshAllTask(std::shared_ptr<State> state,
                                            std::shared_ptr<SerialExecutor> worker,
                                            CancellationToken token);
    static QCoro::Task<void> refreshTask(std::shared_ptr<State> state,
                                         std::shared_ptr<SerialExecutor> worker,
                                         QList<PageRef> pages);
    template <typename F>
    static auto onWorker(std::shared_ptr<State> state, std::shared_ptr<SerialExecutor> worker,
                         F function) -> QCoro::Task<std::invoke_result_t<F &, State &>>;

    std::shared_ptr<State> m_state;
    // Destroyed first: it finishes the steps already handed over while the state still lives.
    std::shared_ptr<SerialExecutor> m_worker;
};

} // namespace velmora
