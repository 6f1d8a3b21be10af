#include "settings/MacDataSettingsSection.h"

#include "book/AlertText.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace velmora {

MacDataSettingsSection::MacDataSettingsSection(MacDataSettingsServices services, QWidget *parent)
    : MacSettingsSection(tr("Your Data"), parent)
    , m_controller(std::move(services)) {
    auto *transfer = new QWidget;
    auto *transferLayout = new QHBoxLayout(transfer);
    transferLayout->setContentsMargins(0, 0, 0, 0);
    transferLayout->setSpacing(10);
    m_export = new MacSettingsButton(tr("Export"), MacSettingsButtonStyle{true});
    m_import = new MacSettingsButton(tr("Import"), MacSettingsButtonStyle{false});
    m_spinner = new MacSettingsSpinner;
    transferLayout->addWidget(m_export);
    transferLayout->addWidget(m_import);
    transferLayout->addWidget(m_spinner);
    transferLayout->addStretch(1);
    addContent(transfer);

    addContent(makeSettingsLabel(tr("You choose where files go."), settingsGeorgiaFont(11, true),
                                 withOpacity(settingsTheme().ink(), 0.4)));

    auto *backups = new QWidget;
    auto *backupLayout = new QHBoxLayout(backups);
    backupLayout->setContentsMargins(0, 0, 0, 0);
    backupLayout->setSpacing(8);
    m_dot = new MacSettingsStatusDot;
    m_status = makeSettingsLabel(QString(), settingsSystemFont(11),
                                 withOpacity(settingsTheme().ink(), 0.7));
    m_backup = new MacSettingsButton(tr("Backup Now"), MacSettingsButtonStyle{false});
    m_restore = new MacSettingsButton(tr("Restore"), MacSettingsButtonStyle{false});
    backupLayout->addWidget(m_dot);
    backupLayout->addWidget(m_status, 1);
    backupLayout->addWidget(m_backup);
    backupLayout->addWidget(m_restore);
    addContent(backups);

    // Every operation runs on its own; the buttons only start them.
    connect(m_export, &QAbstractButton::clicked, &m_controller,
            &MacDataSettingsController::exportDiary);
    connect(m_import, &QAbstractButton::clicked, this, [this] { m_controller.importDiary(); });
    connect(m_backup, &QAbstractButton::clicked, this, [this] { m_controller.backUpNow(); });
    connect(m_restore, &QAbstractButton::clicked, &m_controller,
            &MacDataSettingsController::requestRestore);
    connect(&m_controller, &MacDataSettingsController::changed, this,
            &MacDataSettingsSection::refresh);
    refresh();
}

void MacDataSettingsSection::appear() {
    m_controller.reloadBackupDates();
}

void MacDataSettingsSection::refresh() {
    const bool hasBackups = !m_controller.backupDates().isEmpty();
    m_dot->setColor(hasBackups ? withOpacity(colorFromHex(QStringLiteral("6B8E6B")), 0.7)
                               : withOpacity(colorFromHex(QStringLiteral("C9A84C")), 0.6));
    m_status->setText(m_controller.backupStatusText());
    m_restore->setVisible(hasBackups);
    m_spinner->setVisible(m_controller.isProcessing());

    if (m_controller.showRestoreConfirmation() && !m_question) {
        m_question = new QMessageBox(QMessageBox::Warning, tr("Restore from Backup?"),
                                     tr("Restore from Backup?"), QMessageBox::NoButton, window());
        m_question->setInformativeText(tr("This will replace all entries with the latest backup."));
        m_question->setWindowModality(Qt::WindowModal);
        m_question->setAttribute(Qt::WA_DeleteOnClose);
        QPushButton *cancel = m_question->addButton(tr("Cancel"), QMessageBox::RejectRole);
        QPushButton *restore = m_question->addButton(tr("Restore"), QMessageBox::DestructiveRole);
        m_question->setDefaultButton(cancel);
        connect(m_question, &QMessageBox::finished, this, [this, restore] {
            const bool confirmed = m_question && m_question->clickedButton() == restore;
            m_question = nullptr;
            if (confirmed)
                m_controller.restoreLatestBackup();
            else
                m_controller.cancelRestore();
        });
        m_question->open();
    }

    const auto &error = m_controller.dataOperationError();
    if (!error)
        return;
    const QString failure = error->isEmpty() ? tr("Please try again.") : *error;
    if (m_alert) {
        m_alert->setInformativeText(failure);
    } else {
        m_alert = new QMessageBox(QMessageBox::Critical, tr("Data Operation Failed"),
                                  tr("Data Operation Failed"), QMessageBox::NoButton, window());
        m_alert->setInformativeText(failure);
        showAlertTextAsWritten(*m_alert);
        m_alert->setWindowModality(Qt::WindowModal);
        m_alert->setAttribute(Qt::WA_DeleteOnClose);
        m_alert->addButton(tr("OK"), QMessageBox::RejectRole);
        connect(m_alert, &QMessageBox::finished, this, [this] {
            m_alert = nullptr;
            m_controller.dismissError();
        });
        m_alert->open();
    }
}

} // namespace velmora
