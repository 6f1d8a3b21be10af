#include "app/MessageBoxAlertPresenter.h"

#include "book/AlertText.h"

#include <QCoroFuture>
#include <QList>
#include <QMessageBox>
#include <QPromise>
#include <QPushButton>

namespace velmora {

QCoro::Task<int> MessageBoxAlertPresenter::present(DiaryAlert alert) {
    // Its window owns it too, and may take it along (the settings window is made again when the
    // appearance changes): the alert then counts as dismissed, and the flow goes on.
    const QPointer<QMessageBox> box = new QMessageBox(m_parent ? m_parent() : nullptr);
    box->setObjectName(QStringLiteral("transferAlert"));
    box->setWindowModality(Qt::ApplicationModal);
    box->setText(alert.title);
    box->setInformativeText(alert.informativeText);
    showAlertTextAsWritten(*box);
    switch (alert.style) {
    case DiaryAlertStyle::informational:
        box->setIcon(QMessageBox::Information);
        break;
    case DiaryAlertStyle::warning:
        box->setIcon(QMessageBox::Warning);
        break;
    case DiaryAlertStyle::critical:
        box->setIcon(QMessageBox::Critical);
        break;
    }
    QList<QAbstractButton *> buttons;
    // One role for all keeps the buttons in the order given.
    for (const QString &title : alert.buttons)
        buttons.append(box->addButton(title, QMessageBox::AcceptRole));
    if (!buttons.isEmpty())
        box->setDefaultButton(qobject_cast<QPushButton *>(buttons.constFirst()));
    // The answer: the button chosen, or none when the box went with its window.
    QPromise<int> answer;
    QFuture<int> answered = answer.future();
    answer.start();
    const auto give = [&answer, &answered](int chosen) {
        if (answered.isFinished())
            return;
        answer.addResult(chosen);
        answer.finish();
    };
    QObject::connect(box, &QDialog::finished, box,
                     [&, give] { give(int(buttons.indexOf(box->clickedButton()))); });
    QObject::connect(box.data(), &QObject::destroyed, [give] { give(-1); });
    if (m_shown)
        m_shown(*box);
    box->show();
    const int chosen = co_await answered;
    delete box.data();
    co_return chosen;
}

} // namespace velmora
