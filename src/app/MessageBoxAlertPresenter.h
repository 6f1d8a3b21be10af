#pragma once

#include "backup/DiaryTransferFlows.h"

#include <QPointer>
#include <QWidget>

#include <functional>

namespace velmora {

// The export and import alerts as application-modal message boxes over the window the operation
// was started from, which the keyboard goes back to once they are answered.
class MessageBoxAlertPresenter final : public DiaryAlertPresenting {
public:
    // The window an alert belongs to, asked as each alert comes: the one it was started from may
    // have closed or been made again meanwhile.
    using ParentWindow = std::function<QWidget *()>;

    explicit MessageBoxAlertPresenter(QWidget *parent = nullptr)
        : m_parent([window = QPointer<QWidget>(parent)] { return window.data(); }) {}
    // `shown` is told of each alert as it comes, to give it the keys that must answer everywhere.
    explicit MessageBoxAlertPresenter(ParentWindow parent,
                                      std::function<void(QWidget &)> shown = {})
        : m_parent(std::move(parent))
        , m_shown(std::move(shown)) {}

    QCoro::Task<int> present(DiaryAlert alert) override;

private:
    ParentWindow m_parent;
    std::function<void(QWidget &)> m_shown;
};

} // namespace velmora
