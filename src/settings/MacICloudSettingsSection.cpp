#include "settings/MacICloudSettingsSection.h"

#include "book/FileDialogs.h"
#include "platform/DiaryError.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QResizeEvent>
#include <QScreen>
#include <QSignalBlocker>
#include <QToolTip>

namespace velmora {

namespace {

// A path shortened in its middle to the width it is given, so both its start and the folder's
// own name stay readable. A folder's name may hold line breaks, what reads as markup or turns
// the direction of the words after it: the label and its tip show it as the alerts quote a
// value, on one line and as written, the tip at more length but within the screen.
class ElidedPathLabel : public QLabel {
public:
    ElidedPathLabel() { setTextFormat(Qt::PlainText); }

    void setPath(const QString &path) {
        m_path = shownExcerpt(path);
        elide();
    }

protected:
    void resizeEvent(QResizeEvent *event) override {
        QLabel::resizeEvent(event);
        elide();
    }
    QSize minimumSizeHint() const override { return {40, QLabel::minimumSizeHint().height()}; }

private:
    void elide() {
        setText(fontMetrics().elidedText(m_path, Qt::ElideMiddle, width()));
        const QFontMetrics tipMetrics(QToolTip::font());
        const int room =
            (screen() ? screen()->availableGeometry().width() : 800) - 4 * tipMetrics.height();
        // Rich text with the path escaped: as plain text, a tag in the path would be laid out.
        setToolTip(QStringLiteral("<p style=\"white-space:pre\">%1</p>")
                       .arg(tipMetrics.elidedText(m_path, Qt::ElideMiddle, room).toHtmlEscaped()));
    }

    QString m_path;
};

} // namespace

MacICloudSettingsSection::MacICloudSettingsSection(DiaryCloudSync &sync,
                                                   std::optional<MacSyncFolderServices> folder,
                                                   QWidget *parent)
    : MacSettingsSection(tr("Sync Folder"), parent)
    , m_controller(sync, std::move(folder)) {
    m_switch = new MacSettingsSwitch;
    m_switch->setObjectName(QStringLiteral("icloud-sync-toggle"));
    m_switch->setAccessibleName(tr("Sync with Tablet"));
    addContent(makeSettingsToggleRow(
        tr("Sync with Tablet"),
        makeSettingsCaption(tr("Every page, typed or handwritten, on your computer and tablet "
                               "through your own sync folder.")),
        m_switch));

    auto *statusRow = new QWidget;
    auto *layout = new QHBoxLayout(statusRow);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    m_dot = new MacSettingsStatusDot;
    m_status = makeSettingsLabel(QString(), settingsSystemFont(11),
                                 withOpacity(settingsTheme().ink(), 0.7));
    m_status->setObjectName(QStringLiteral("icloud-sync-status"));
    m_status->setWordWrap(true);
    m_syncNow = new MacSettingsButton(tr("Sync Now"), MacSettingsButtonStyle{false});
    layout->addWidget(m_dot);
    layout->addWidget(m_status, 1);
    layout->addWidget(m_syncNow);
    addContent(statusRow);

    if (m_controller.hasFolderRow()) {
        auto *control = new QWidget;
        auto *controlLayout = new QHBoxLayout(control);
        controlLayout->setContentsMargins(0, 0, 0, 0);
        controlLayout->setSpacing(8);
        auto *path = new ElidedPathLabel;
        path->setFont(settingsSystemFont(11));
        QPalette palette = path->palette();
        palette.setColor(QPalette::WindowText, withOpacity(settingsTheme().ink(), 0.7));
        path->setPalette(palette);
        path->setObjectName(QStringLiteral("sync-folder-path"));
        path->setMinimumWidth(160);
        path->setMaximumWidth(260);
        path->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        m_folder = path;
        m_chooseFolder = new MacSettingsButton(tr("Choose…"), MacSettingsButtonStyle{false});
        m_chooseFolder->setObjectName(QStringLiteral("sync-folder-choose"));
        controlLayout->addWidget(m_folder, 1);
        controlLayout->addWidget(m_chooseFolder);
        addContent(new MacSettingsRow(tr("Folder"), control));
        m_folderRefusal = makeSettingsCaption(QString());
        m_folderRefusal->setObjectName(QStringLiteral("sync-folder-refusal"));
        addContent(m_folderRefusal);
        connect(m_chooseFolder, &QAbstractButton::clicked, this,
                &MacICloudSettingsSection::pickFolder);
    }

    connect(m_switch, &QAbstractButton::toggled, &m_controller,
            &MacICloudSettingsController::setEnabled);
    connect(m_syncNow, &QAbstractButton::clicked, &m_controller,
            &MacICloudSettingsController::syncNow);
    connect(&m_controller, &MacICloudSettingsController::changed, this,
            &MacICloudSettingsSection::refresh);
    refresh();
}

void MacICloudSettingsSection::refresh() {
    {
        const QSignalBlocker blocker(m_switch);
        m_switch->setChecked(m_controller.isEnabled());
    }
    m_dot->setColor(m_controller.statusColor());
    m_status->setText(m_controller.statusText());
    m_syncNow->setVisible(m_controller.showsSyncNow());
    m_syncNow->setEnabled(m_controller.syncNowEnabled());
    if (m_folder) {
        const QString path = m_controller.folderPath();
        static_cast<ElidedPathLabel *>(m_folder)->setPath(path.isEmpty() ? tr("None") : path);
        m_folderRefusal->setText(m_controller.folderRefusal());
        m_folderRefusal->setVisible(!m_controller.folderRefusal().isEmpty());
    }
}

void MacICloudSettingsSection::showEvent(QShowEvent *event) {
    MacSettingsSection::showEvent(event);
    m_controller.setShown(true);
}

void MacICloudSettingsSection::hideEvent(QHideEvent *event) {
    MacSettingsSection::hideEvent(event);
    m_controller.setShown(false);
}

void MacICloudSettingsSection::pickFolder() {
    const auto &services = *m_controller.folderServices();
    // The folder chosen last, else home.
    const QString start = fileDialogStartFolder(m_controller.folderPath(), services.diaryFolder);
    const QString picked = services.pickFolder
                               ? services.pickFolder(this, start)
                               : chooseFolder(this, tr("Choose a Sync Folder"), start);
    if (!picked.isEmpty())
        m_controller.chooseFolder(picked);
}

} // namespace velmora
