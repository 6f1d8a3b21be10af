#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

namespace velmora {

class VuzIvoduPageView;

// The open book's two alerts, window-modal over the book: "Writing Not Saved" (Retry, Save a
// Copy…, Keep Writing) while the page holds a persistence error, and "Leave this page?" while it
// asks before closing. Each follows its state in the page and sends the choice made back to it.
class PageAlerts : public QObject {
    Q_OBJECT

public:
    // Chooses where a copy of the page goes; an empty answer cancels. The save panel by default.
    using CopyPathChooser = std::function<QString(const QString &proposedName)>;

    // `host` is the page's widget: the alerts open over its window.
    PageAlerts(VuzIvoduPageView &page, QWidget *host);

    void setCopyPathChooser(CopyPathChooser chooser) { m_chooseCopyPath = std::move(chooser); }
    QMessageBox *persistenceAlert() const { return m_persistenceAlert; }
    QMessageBox *leaveAlert() const { return m_leaveAlert; }

private:
    void refreshPersistenceAlert();
    void refreshLeavePrompt();
    void chooseAndSaveCopy();

    VuzIvoduPageView &m_page;
    QWidget *m_host;
    CopyPathChooser m_chooseCopyPath;
    QPointer<QMessageBox> m_persistenceAlert;
    QPointer<QMessageBox> m_leaveAlert;
};

} // namespace velmora
