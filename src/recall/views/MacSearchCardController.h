#pragma once

#include "platform/Cancellation.h"
#include "recall/DiaryFindResult.h"

#include <QList>
#include <QObject>
#include <QString>

#include <QCoroTask>

#include <chrono>
#include <functional>
#include <optional>

namespace velmora {

class DiaryRepository;
class DiaryHandwritingIndex;

// The state of the search card: the query, the rows found for it, and the row under the
// pointer. Each change of the query starts one find after a pause in typing, cancelling the
// one before; an answer is shown only while the query is still the text that asked for it.
class MacSearchCardController : public QObject {
    Q_OBJECT

public:
    using Find = std::function<QCoro::Task<QList<DiaryFindResult>>(QString query)>;

    static constexpr std::chrono::milliseconds searchDelay{180};
    static constexpr int searchLimit = 50;
    // The list area never grows past this many points; longer lists scroll.
    static constexpr double listHeightLimit = 340;

    explicit MacSearchCardController(Find find, std::chrono::milliseconds delay = searchDelay,
                                     QObject *parent = nullptr);
    ~MacSearchCardController() override;

    // The combined find over the diary's typed pages and recognised handwriting.
    static Find findIn(DiaryRepository &repository, DiaryHandwritingIndex &handwritingIndex);

    const QString &query() const { return m_query; }
    void setQuery(const QString &query);
    const QList<DiaryFindResult> &results() const { return m_results; }
    // Whether the list (rows or "Nothing found") shows: the query holds more than blanks.
    bool showsList() const;

    const std::optional<DayKey> &hoveredResult() const { return m_hovered; }
    void enterRow(const DayKey &day);
    void leaveRow(const DayKey &day);

    // How tall the list area is for content of the given height.
    static double listAreaHeight(double contentHeight);

    // Return in the field: opens the newest day found, if any.
    void submit();
    // A row clicked.
    void choose(const DayKey &day);
    // The close button or the backdrop.
    void close();

    std::function<void(const DayKey &)> onSelect;
    std::function<void()> onClose;

Q_SIGNALS:
    void queryChanged();
    void resultsChanged();
    void hoveredResultChanged();

private:
    QCoro::Task<void> search(QString text, CancellationToken token);
    void cancelSearch();
    void setResults(QList<DiaryFindResult> results);

    Find m_find;
    std::chrono::milliseconds m_delay;
    QString m_query;
    QList<DiaryFindResult> m_results;
    std::optional<DayKey> m_hovered;
    std::optional<CancellationToken> m_searchToken;
};

} // namespace velmora
