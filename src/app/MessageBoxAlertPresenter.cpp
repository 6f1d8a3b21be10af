#include "app/MessageBoxAlertPresenter.h"

#include "book/AlertText.h"

#include <QCoroSignal>
#include <QList>
#include <QMessageBox>
#include <QPushButton>

namespace velmora {

QCoro::Task<int> MessageBoxAlertPresenter::present(DiaryAlert alert) {
    // Owned here rather than by the parent: the box must outlive nothing but this call.
    auto box = std::make_unique<QMessageBox>(m_parent);
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
    QMessageBox *shown = box.get();
    shown->show();
    co_await qCoro(shown, &QDialog::finished);
    co_return int(buttons.indexOf(shown->clickedButton()));
}

} // namespace velmora
