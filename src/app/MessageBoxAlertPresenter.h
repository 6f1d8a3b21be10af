#pragma once

#include "backup/DiaryTransferFlows.h"

#include <QPointer>
#include <QWidget>

namespace velmora {

// The export and import alerts as application-modal message boxes over the book window.
class MessageBoxAlertPresenter final : public DiaryAlertPresenting {
public:
    explicit MessageBoxAlertPresenter(QWidget *parent = nullptr)
        : m_parent(parent) {}

    QCoro::Task<int> present(DiaryAlert alert) override;

private:
    QPointer<QWidget> m_parent;
};

} // namespace velmora
