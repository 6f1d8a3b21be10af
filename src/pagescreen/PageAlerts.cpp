#include "pagescreen/PageAlerts.h"

#include "book/AlertText.h"
#include "book/DiaryStage.h"
#include "book/FileDialogs.h"
#include "pagescreen/PageScreenLogging.h"
#include "pagescreen/VuzIvoduPageView.h"

#include <QDir>
#include <QPushButton>
#include <QStandardPaths>

namespace velmora {

PageAlerts::PageAlerts(VuzIvoduPageView &page, QWidget *host)
    : QObject(host)
    , m_page(page)
    , m_host(host) {
    connect(&page, &VuzIvoduPageView::persistenceErrorChanged, this,
            &PageAlerts::refreshPersistenceAlert);
    connect(&page, &VuzIvoduPageView::showLeavePromptChanged, this,
            &PageAlerts::refreshLeavePrompt);
}

void PageAlerts::refreshPersistenceAlert() {
    if (!m_page.isPersistenceErrorPresented()) {
        if (m_persistenceAlert && m_persistenceAlert->isVisible())
            m_persistenceAlert->close();
        return;
    }
    if (m_persistenceAlert) {
        // A new failure while the alert is up replaces its message.
        m_persistenceAlert->setInformativeText(m_page.persistenceAlertMessage());
        return;
    }
    auto *alert =
        new QMessageBox(QMessageBox::Warning, tr("Writing Not Saved"), tr("Writing Not Saved"),
                        QMessageBox::NoButton, diaryStageWindow(m_host));
    alert->setObjectName(QStringLiteral("diary-persistence-alert"));
    alert->setInformativeText(m_page.persistenceAlertMessage());
    showAlertTextAsWritten(*alert);
    QPushButton *retry = alert->addButton(tr("Retry"), QMessageBox::AcceptRole);
    QPushButton *copy = alert->addButton(tr("Save a Copy…"), QMessageBox::ActionRole);
    QPushButton *keep = alert->addButton(tr("Keep Writing"), QMessageBox::RejectRole);
    alert->setDefaultButton(retry);
    alert->setEscapeButton(keep);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    connect(alert, &QMessageBox::buttonClicked, this, [this, retry, copy](QAbstractButton *button) {
        // Any button dismisses the alert; the text stays on the page and the edit stays pending.
        if (button == retry) {
            m_page.retry();
        } else {
            m_page.dismissPersistenceError();
            if (button == copy)
                chooseAndSaveCopy();
        }
    });
    connect(alert, &QDialog::rejected, &m_page, &VuzIvoduPageView::dismissPersistenceError);
    m_persistenceAlert = alert;
    alert->open();
}

void PageAlerts::refreshLeavePrompt() {
    if (!m_page.showLeavePrompt()) {
        if (m_leaveAlert && m_leaveAlert->isVisible())
            m_leaveAlert->close();
        return;
    }
    if (m_leaveAlert)
        return;
    auto *alert =
        new QMessageBox(QMessageBox::Question, tr("Leave this page?"), tr("Leave this page?"),
                        QMessageBox::NoButton, diaryStageWindow(m_host));
    alert->setObjectName(QStringLiteral("diary-leave-alert"));
    alert->setInformativeText(tr("Lock it, or come back and write."));
    QPushButton *comeBack = alert->addButton(tr("I'll come back"), QMessageBox::AcceptRole);
    QPushButton *lock = alert->addButton(tr("Lock this page"), QMessageBox::ActionRole);
    QPushButton *keep = alert->addButton(tr("Keep Writing"), QMessageBox::RejectRole);
    alert->setDefaultButton(comeBack);
    alert->setEscapeButton(keep);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    connect(alert, &QMessageBox::buttonClicked, this, [this, comeBack, lock](QAbstractButton *b) {
        if (b == comeBack)
            m_page.leaveAndComeBack();
        else if (b == lock)
            m_page.lockPageAndLeave();
        else
            m_page.dismissLeavePrompt();
    });
    connect(alert, &QDialog::rejected, &m_page, &VuzIvoduPageView::dismissLeavePrompt);
    m_leaveAlert = alert;
    alert->open();
}

void PageAlerts::chooseAndSaveCopy() {
    const QString proposed = m_page.proposedCopyName();
    QString path;
    if (m_chooseCopyPath) {
        path = m_chooseCopyPath(proposed);
    } else {
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        path = chooseFileToSave(m_host, tr("Save a Copy of This Page"),
                                QDir(folder).filePath(proposed), tr("Plain Text (*.txt)"));
    }
    if (path.isEmpty())
        return;
    qCInfo(lcPageScreen) << "Saving a copy of the page";
    // The write runs off the GUI thread; its outcome reaches the alert through the page.
    auto write = m_page.saveCopy(path);
    Q_UNUSED(write)
}

} // namespace velmora
