#pragma once

#include "backup/DiaryTransferFlows.h"

#include <QList>
#include <QtTest/QTest>

#include <functional>

namespace velmora {

// How a failed comparison shows an alert: its title, the length of its text and its start.
inline char *toString(const DiaryAlert &alert) {
    return QTest::toString(QStringLiteral("%1 (%2 characters): %3")
                               .arg(alert.title)
                               .arg(alert.informativeText.size())
                               .arg(alert.informativeText.left(300)));
}

} // namespace velmora

namespace velmora::test {

// Answers each alert with the next scripted button index (the default when none is left) and
// keeps what was shown. `beforeAnswer`, when set, is told of each alert before it is answered.
class ScriptedAlerts final : public DiaryAlertPresenting {
public:
    QList<DiaryAlert> shown;
    QList<int> answers;
    std::function<void(const DiaryAlert &)> beforeAnswer;

    QCoro::Task<int> present(DiaryAlert alert) override {
        shown.append(alert);
        if (beforeAnswer)
            beforeAnswer(alert);
        co_return answers.isEmpty() ? 0 : answers.takeFirst();
    }
};

} // namespace velmora::test
