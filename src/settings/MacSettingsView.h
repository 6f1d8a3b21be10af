#pragma once

#include "settings/MacDataSettingsController.h"
#include "settings/MacICloudSettingsController.h"
#include "settings/MacReminderSettingsController.h"
#include "settings/MacSettingsController.h"

#include <QWidget>

class QAbstractButton;
class QComboBox;
class QLabel;
class QSlider;

namespace velmora {

class DiaryCloudSync;
class DiaryReminderCenter;
class MacDataSettingsSection;
class MacICloudSettingsSection;
class MacReminderSettingsSection;
class MacSettingsTextField;
class MacSettingsWritingPreview;

// The services of the window's sections; a section whose service is missing is left out.
struct MacSettingsSections {
    DiaryCloudSync *cloudSync = nullptr;
    DiaryReminderCenter *reminders = nullptr;
    // The desktop's own notification settings unless given.
    MacReminderSettingsController::SettingsOpener openNotificationSettings;
    std::optional<MacDataSettingsServices> data;
    // The sync section's "Folder" row; left out when not given.
    std::optional<MacSyncFolderServices> syncFolder;
};

// The settings window: one fixed sheet of light paper with the profile, writing, reminder,
// security, sync and data sections and "Done". It reloads the stored values each time it is
// shown; every edit is stored at once, so closing it in any way loses nothing.
class MacSettingsView : public QWidget {
    Q_OBJECT

public:
    explicit MacSettingsView(UserDefaultsSettingsStore &store, MacSettingsSections sections = {},
                             QWidget *parent = nullptr);

    MacSettingsController &controller() { return m_controller; }

    MacSettingsTextField *nameField() const { return m_name; }
    QComboBox *fontPicker() const { return m_font; }
    QSlider *sizeSlider() const { return m_size; }
    QSlider *readingSizeSlider() const { return m_readingSize; }
    QAbstractButton *reopensLastPageSwitch() const { return m_reopens; }
    QAbstractButton *requireAuthenticationSwitch() const { return m_requireAuthentication; }
    QAbstractButton *doneButton() const { return m_done; }
    QLabel *sizeLabel() const { return m_sizeText; }
    QLabel *readingSizeLabel() const { return m_readingSizeText; }
    QLabel *storageLabel() const { return m_storage; }
    // The sample line on ruled paper in the chosen font and size.
    QWidget *writingPreview() const;
    MacReminderSettingsSection *reminderSection() const { return m_reminderSection; }
    MacICloudSettingsSection *syncSection() const { return m_syncSection; }
    MacDataSettingsSection *dataSection() const { return m_dataSection; }

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QWidget *makeHeader();
    QWidget *makeBody(MacSettingsSections sections);
    QWidget *makeBottomBar();
    QWidget *makeWritingSection();
    QWidget *makeSecuritySection();
    QWidget *makeAboutLine();
    // Shows the controller's values without writing anything back.
    void refresh();

    MacSettingsController m_controller;
    QLabel *m_storage = nullptr;
    MacSettingsTextField *m_name = nullptr;
    QComboBox *m_font = nullptr;
    QSlider *m_size = nullptr;
    QLabel *m_sizeText = nullptr;
    QSlider *m_readingSize = nullptr;
    QLabel *m_readingSizeText = nullptr;
    QAbstractButton *m_reopens = nullptr;
    MacSettingsWritingPreview *m_preview = nullptr;
    QAbstractButton *m_requireAuthentication = nullptr;
    QAbstractButton *m_done = nullptr;
    MacReminderSettingsSection *m_reminderSection = nullptr;
    MacICloudSettingsSection *m_syncSection = nullptr;
    MacDataSettingsSection *m_dataSection = nullptr;
};

} // namespace velmora
