#pragma once

#include "backup/DiaryTransferFlows.h"

#include <QList>

namespace velmora::test {

// Answers each alert with the next scripted button index (the default when none is left) and
// keeps what was shown.
class ScriptedAlerts final : public DiaryAlertPresenting {
public:
    QList<DiaryAlert> shown;
    QList<int> answers;

    QCoro::Task<int> present(DiaryAlert alert) override {
        shown.append(alert);
        co_return answers.isEmpty() ? 0 : answers.takeFirst();
    }
};

} // namespace velmora::test
