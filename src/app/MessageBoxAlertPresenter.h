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
    explicit MessageBoxAlertPresenter(ParentWindow parent)
        : m_parent(std::move(parent)) {}

    QCoro::Task<int> present(DiaryAlert alert) override;

private:
    ParentWindow m_parent;
};

} // namespace velmora
